// Events, waits and the handle table.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <ztlogger/platform/os/Windows.h>

namespace {

// An event handle closed at the end of the test.
struct Event {
  HANDLE h;
  explicit Event(bool manual, bool initial = false, const char16_t* name = nullptr)
      : h(CreateEventW(nullptr, manual, initial, name)) {}
  ~Event() { CloseHandle(h); }
};

TEST(WaitsThreads, ManualResetStaysSignalledAutoResetReleasesOneWait) {
  Event manual(true, true), automatic(false, true);
  EXPECT_EQ(WaitForSingleObject(manual.h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual.h, 0), WAIT_OBJECT_0);
  ResetEvent(manual.h);
  EXPECT_EQ(WaitForSingleObject(manual.h, 0), WAIT_TIMEOUT);

  EXPECT_EQ(WaitForSingleObject(automatic.h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic.h, 0), WAIT_TIMEOUT);
  SetEvent(automatic.h);
  SetEvent(automatic.h);  // setting a set event changes nothing
  EXPECT_EQ(WaitForSingleObject(automatic.h, 10), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic.h, 10), WAIT_TIMEOUT);
}

TEST(WaitsThreads, WaitAnyReturnsTheLowestSignalledIndexAndTakesOnlyIt) {
  Event events[] = {Event(false), Event(false), Event(false)};
  HANDLE handles[] = {events[0].h, events[1].h, events[2].h};
  SetEvent(handles[2]);
  SetEvent(handles[1]);
  EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_TIMEOUT);
}

TEST(WaitsThreads, WaitAllTakesNothingUntilAllAreSignalled) {
  Event first(false), second(false);
  HANDLE handles[] = {first.h, second.h};
  SetEvent(first.h);
  EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, 20), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(first.h, 0), WAIT_OBJECT_0) << "the partial wait took the first event";
  SetEvent(first.h);
  std::thread setter([&] { SetEvent(second.h); });
  EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, INFINITE), WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 0), WAIT_TIMEOUT);
}

TEST(WaitsThreads, AnAutoResetEventReleasesExactlyOneOfTwoWaiters) {
  Event event(false);
  std::atomic<int> released{0};
  auto waiter = [&] {
    if (WaitForSingleObject(event.h, 300) == WAIT_OBJECT_0) ++released;
  };
  std::thread a(waiter), b(waiter);
  SetEvent(event.h);
  a.join();
  b.join();
  EXPECT_EQ(released.load(), 1);
}

TEST(WaitsThreads, ManualResetEventReleasesEveryWaiter) {
  Event event(true);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event.h, INFINITE) == WAIT_OBJECT_0) ++released;
    });
  SetEvent(event.h);
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(released.load(), 4);
}

TEST(WaitsThreads, NamedEventsAreSharedInsideTheProcess) {
  SetLastError(0);
  Event first(true, false, u"ztl-waits-test");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  Event second(false, false, u"ztl-waits-test");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  Event local(false, false, u"Local\\ztl-waits-test");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  Event otherCase(false, false, u"ZTL-waits-test");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_NE(first.h, second.h);
  SetEvent(second.h);
  // The flags of the first creation hold: manual reset.
  EXPECT_EQ(WaitForSingleObject(first.h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(local.h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(otherCase.h, 0), WAIT_TIMEOUT);

  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, u"a\\b"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  const std::u16string tooLong(MAX_PATH + 1, u'x');
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, tooLong.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}

TEST(WaitsThreads, ANamedEventEndsWithItsLastHandle) {
  {
    Event event(true, true, u"ztl-waits-ending");
  }
  Event again(false, false, u"ztl-waits-ending");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(again.h, 0), WAIT_TIMEOUT);
}

TEST(WaitsThreads, BadArgumentsFailTheWait) {
  Event event(true);
  HANDLE closed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  EXPECT_FALSE(CloseHandle(closed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  // A new object in the freed slot is not reached through the stale handle.
  Event successor(true, true);
  EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
  EXPECT_EQ(SetEvent(closed), FALSE);

  HANDLE twice[] = {event.h, event.h};
  EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WaitForMultipleObjects(0, twice, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, event.h);
  EXPECT_EQ(WaitForMultipleObjects(static_cast<DWORD>(many.size()), many.data(), FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // The two low bits of a handle are ignored, as on Windows.
  SetEvent(event.h);
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(event.h) | 3), 0),
            WAIT_OBJECT_0);
}

TEST(WaitsThreads, ClosingAHandleWhileAnotherThreadWaitsOnItIsSafe) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<DWORD> result{0};
  std::thread waiter([&] { result = WaitForSingleObject(event, 100); });
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  CloseHandle(event);
  waiter.join();
  EXPECT_EQ(result.load(), WAIT_TIMEOUT);
}

}  // namespace
