#include <ztlogger/platform/os/Processes.h>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/support/ChildChecks.h"

namespace ztl {
namespace {

int NiceOfThisThread() {
  errno = 0;
  return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
}

TEST(Priority, PseudoHandlesAndIds) {
  EXPECT_EQ(GetCurrentProcess(), reinterpret_cast<HANDLE>(intptr_t{-1}));
  EXPECT_EQ(GetCurrentThread(), reinterpret_cast<HANDLE>(intptr_t{-2}));
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
  EXPECT_EQ(GetCurrentThreadId(), static_cast<DWORD>(syscall(SYS_gettid)));
}

TEST(Priority, RejectsOtherHandlesAndUnknownValues) {
  HANDLE other = reinterpret_cast<HANDLE>(intptr_t{1234});
  SetLastError(0);
  EXPECT_EQ(GetPriorityClass(other), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetPriorityClass(GetCurrentThread(), HIGH_PRIORITY_CLASS));
  EXPECT_EQ(GetThreadPriority(GetCurrentProcess()), THREAD_PRIORITY_ERROR_RETURN);
  EXPECT_FALSE(SetThreadPriority(other, THREAD_PRIORITY_NORMAL));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  SetLastError(0);
  EXPECT_FALSE(SetPriorityClass(GetCurrentProcess(), 0x1234));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetLastError(0);
  EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 7));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// Priority changes run in a child process: an unprivileged test could not
// undo a lowering, and the next test would inherit it.
bool CanRaisePriority() {
  const int nice = NiceOfThisThread();
  const bool granted = setpriority(PRIO_PROCESS, 0, nice - 1) == 0;
  if (granted) setpriority(PRIO_PROCESS, 0, nice);
  return granted;
}

TEST(Priority, ClassesAndThreadPrioritiesBecomeNiceValues) {
  if (NiceOfThisThread() > 0) GTEST_SKIP() << "started with a nice value above 0";
  test::ExpectPassesInChild(+[]() -> int {
    CHILD_CHECK(SetPriorityClass(GetCurrentProcess(), BELOW_NORMAL_PRIORITY_CLASS));
    CHILD_CHECK(GetPriorityClass(GetCurrentProcess()) == BELOW_NORMAL_PRIORITY_CLASS);
    CHILD_CHECK(NiceOfThisThread() == 10);
    CHILD_CHECK(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST));
    CHILD_CHECK(GetThreadPriority(GetCurrentThread()) == THREAD_PRIORITY_LOWEST);
    CHILD_CHECK(NiceOfThisThread() == 14);
    CHILD_CHECK(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE));
    CHILD_CHECK(NiceOfThisThread() == 19);
    // The thread keeps its priority through a class change.
    CHILD_CHECK(SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS));
    CHILD_CHECK(GetThreadPriority(GetCurrentThread()) == THREAD_PRIORITY_IDLE);
    CHILD_CHECK(GetPriorityClass(GetCurrentProcess()) == IDLE_PRIORITY_CLASS);
    return 0;
  });
}

TEST(Priority, RaisingFollowsWhereTheSystemGrantsIt) {
  if (!CanRaisePriority()) GTEST_SKIP() << "this process may not raise its priority";
  test::ExpectPassesInChild(+[]() -> int {
    CHILD_CHECK(SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS));
    CHILD_CHECK(GetPriorityClass(GetCurrentProcess()) == REALTIME_PRIORITY_CLASS);
    CHILD_CHECK(NiceOfThisThread() == -20);
    CHILD_CHECK(SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS));
    CHILD_CHECK(NiceOfThisThread() == -10);
    CHILD_CHECK(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL));
    CHILD_CHECK(NiceOfThisThread() == -20);
    CHILD_CHECK(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL));
    CHILD_CHECK(NiceOfThisThread() == -12);
    CHILD_CHECK(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
    CHILD_CHECK(SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS));
    CHILD_CHECK(NiceOfThisThread() == 0);
    return 0;
  });
}

// Without the privilege, raising is refused without an error, and the
// priorities stay as they were.
TEST(Priority, ARefusedRaiseLeavesThePriorityQuietly) {
  if (NiceOfThisThread() > 10) GTEST_SKIP() << "started with a nice value above 10";
  test::ExpectPassesInChild(+[]() -> int {
    if (geteuid() == 0) CHILD_CHECK(setuid(65534) == 0);
    CHILD_CHECK(SetPriorityClass(GetCurrentProcess(), BELOW_NORMAL_PRIORITY_CLASS));
    CHILD_CHECK(SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS));
    CHILD_CHECK(GetPriorityClass(GetCurrentProcess()) == BELOW_NORMAL_PRIORITY_CLASS);
    CHILD_CHECK(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL));
    CHILD_CHECK(GetThreadPriority(GetCurrentThread()) == THREAD_PRIORITY_NORMAL);
    CHILD_CHECK(NiceOfThisThread() == 10);
    return 0;
  });
}

TEST(PriorityThreads, AClassChangeReachesEveryThread) {
  test::ExpectPassesInChild(+[]() -> int {
    std::mutex mutex;
    std::condition_variable changed;
    bool classSet = false;
    bool done = false;
    int workerNice = 99;
    std::thread worker([&] {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return classSet; });
      workerNice = NiceOfThisThread();
      done = true;
      changed.notify_all();
    });
    const BOOL set = SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS);
    {
      std::unique_lock lock(mutex);
      classSet = true;
      changed.notify_all();
      changed.wait(lock, [&] { return done; });
    }
    worker.join();
    CHILD_CHECK(set);
    CHILD_CHECK(workerNice == 19);
    return 0;
  });
}

}  // namespace
}  // namespace ztl
