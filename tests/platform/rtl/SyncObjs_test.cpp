#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include <ztlogger/platform/rtl/SyncObjs.h>

namespace ztl {
namespace {

bool TryEnterFromAnotherThread(TCriticalSection& section) {
  return std::async(std::launch::async, [&section] {
           bool entered = section.TryEnter();
           if (entered) section.Leave();
           return entered;
         })
      .get();
}

TEST(CriticalSection, IsAFrameworkClass) {
  TCriticalSection section;
  EXPECT_EQ(section.ClassName(), "TCriticalSection");
  EXPECT_TRUE(section.Is<TObject>());
}

TEST(CriticalSectionThreads, ReentrantForItsOwner) {
  TCriticalSection section;
  section.Enter();
  section.Acquire();
  EXPECT_TRUE(section.TryEnter());
  section.Leave();
  section.Release();
  EXPECT_FALSE(TryEnterFromAnotherThread(section));  // still held once
  section.Leave();
  EXPECT_TRUE(TryEnterFromAnotherThread(section));
}

TEST(CriticalSectionThreads, GuardReleasesOnScopeExit) {
  TCriticalSection section;
  {
    TCriticalSectionGuard guard(section);
    EXPECT_FALSE(TryEnterFromAnotherThread(section));
    try {
      TCriticalSectionGuard inner(section);
      throw 1;
    } catch (int) {
    }
    EXPECT_FALSE(TryEnterFromAnotherThread(section));
  }
  EXPECT_TRUE(TryEnterFromAnotherThread(section));
}

TEST(CriticalSectionThreads, ExcludesOtherThreads) {
  TCriticalSection section;
  long counter = 0;  // deliberately not atomic: only the lock protects it
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        TCriticalSectionGuard guard(section);
        TCriticalSectionGuard nested(section);
        long read = counter;
        counter = read + 1;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 80000);
}

TEST(Event, ManualResetStaysSetAutomaticResetReleasesOneWait) {
  TEvent manual(true, false);
  EXPECT_EQ(manual.WaitFor(0), wrTimeout);
  manual.SetEvent();
  EXPECT_EQ(manual.WaitFor(0), wrSignaled);
  EXPECT_EQ(manual.WaitFor(0), wrSignaled);
  manual.ResetEvent();
  EXPECT_EQ(manual.WaitFor(10), wrTimeout);

  TEvent automatic(false, true);
  EXPECT_EQ(automatic.WaitFor(0), wrSignaled);
  EXPECT_EQ(automatic.WaitFor(0), wrTimeout);
}

TEST(EventThreads, ASetFromAnotherThreadEndsTheWait) {
  TEvent event;
  std::thread setter([&event] { event.SetEvent(); });
  EXPECT_EQ(event.WaitFor(0xFFFFFFFFu), wrSignaled);
  setter.join();
}

}  // namespace
}  // namespace ztl
