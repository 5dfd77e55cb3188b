#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/rtl/Threads.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl {
namespace {

class Lambda : public TThread {
 public:
  explicit Lambda(std::function<void(Lambda&)> body) : body_(std::move(body)) {}
  ~Lambda() override { TerminateAndWait(); }
  using TThread::Synchronize;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(Lambda&)> body_;
};

class ThreadThreads : public ::testing::Test {
 protected:
  void SetUp() override { ResetApplicationState(); }
};

TEST_F(ThreadThreads, RunsOnlyAfterStartAndReportsItsResult) {
  std::atomic<bool> ran{false};
  Lambda thread([&](Lambda& self) {
    ran = true;
    self.SetReturnValue(42);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(ran.load()) << "a thread is created suspended";
  thread.Start();
  EXPECT_EQ(thread.WaitFor(), 42);
  EXPECT_TRUE(ran.load());
  EXPECT_TRUE(thread.Finished());
  EXPECT_THROW(thread.Start(), EThread);
}

TEST_F(ThreadThreads, TerminateSetsTheFlagTheWorkerPolls) {
  Lambda thread([](Lambda& self) {
    while (!self.Terminated()) std::this_thread::yield();
  });
  thread.Start();
  thread.Terminate();
  thread.WaitFor();
  EXPECT_TRUE(thread.Terminated());
}

TEST_F(ThreadThreads, AnExceptionEscapingExecuteIsKept) {
  Lambda thread([](Lambda&) { throw EConvertError("worker failed"); });
  thread.Start();
  thread.WaitFor();
  ASSERT_TRUE(thread.FatalException());
  try {
    std::rethrow_exception(thread.FatalException());
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "worker failed");
  }
}

TEST_F(ThreadThreads, SynchronizeRunsOnTheMainThreadWhileItWaits) {
  std::thread::id ranOn;
  Lambda thread([&](Lambda& self) { self.Synchronize([&] { ranOn = std::this_thread::get_id(); }); });
  thread.Start();
  thread.WaitFor();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(ThreadThreads, AnExceptionInTheSynchronisedCallReachesTheWorker) {
  String caught;
  Lambda thread([&](Lambda& self) {
    try {
      self.Synchronize([] { throw EInvalidOperation("main refused"); });
    } catch (const EInvalidOperation& e) {
      caught = e.Message();
    }
  });
  thread.Start();
  thread.WaitFor();
  EXPECT_EQ(caught, "main refused");
}

TEST_F(ThreadThreads, TheMessageLoopServesSynchronisedCalls) {
  int served = 0;
  Lambda thread([&](Lambda& self) {
    for (int i = 0; i < 5; ++i) self.Synchronize([&] { ++served; });
    self.Synchronize([] { Application->Terminate(); });
  });
  thread.Start();
  Application->Run();  // returns only when the worker's last call ran
  EXPECT_EQ(served, 5);
  thread.WaitFor();
}

TEST_F(ThreadThreads, OnTerminateRunsOnTheMainThreadAndAFreeingThreadGoesByItself) {
  struct Listener : TObject {
    std::thread::id ranOn;
    void Done(TObject*) { ranOn = std::this_thread::get_id(); }
  } listener;
  std::atomic<bool> executed{false};
  auto* thread = new Lambda([&](Lambda&) { executed = true; });
  thread->SetOnTerminate(MakeMethod<&Listener::Done>(&listener));
  thread->SetFreeOnTerminate(true);
  thread->Start();
  while (listener.ranOn == std::thread::id()) CheckSynchronize(10);
  EXPECT_TRUE(executed.load());
  EXPECT_EQ(listener.ranOn, std::this_thread::get_id());
}

TEST_F(ThreadThreads, CheckSynchronizeRefusesOtherThreads) {
  std::atomic<bool> refused{false};
  std::thread other([&] {
    try {
      CheckSynchronize();
    } catch (const EThread&) {
      refused = true;
    }
  });
  other.join();
  EXPECT_TRUE(refused.load());
}

// Many workers sit in Synchronize while the main thread frees them, again and
// again: freeing must not deadlock, and no call may run after its thread is gone.
TEST_F(ThreadThreads, FreeingWorkersThatSitInSynchronizeNeitherDeadlocksNorRunsLateCalls) {
  constexpr int kWorkers = 8;
  constexpr int kRounds = 25;
  int lateCalls = 0;
  int calls = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<char> freed(kWorkers, 0);
    std::vector<int> perWorker(kWorkers, 0);
    std::vector<std::unique_ptr<Lambda>> workers;
    for (int i = 0; i < kWorkers; ++i)
      workers.push_back(std::make_unique<Lambda>([&, i](Lambda& self) {
        while (!self.Terminated())
          self.Synchronize([&, i] {
            if (freed[i]) ++lateCalls;
            ++perWorker[i];
            ++calls;
          });
      }));
    for (auto& w : workers) w->Start();
    // Let every worker get into its loop before freeing.
    auto started = [&] {
      for (int n : perWorker)
        if (n == 0) return false;
      return true;
    };
    while (!started()) CheckSynchronize(5);
    for (int i = (round % 2 ? kWorkers - 1 : 0); i >= 0 && i < kWorkers; i += (round % 2 ? -1 : 1)) {
      workers[i].reset();
      freed[i] = 1;
    }
    while (CheckSynchronize()) {
    }
  }
  EXPECT_EQ(lateCalls, 0);
  EXPECT_GE(calls, kWorkers * kRounds);
}

}  // namespace
}  // namespace ztl
