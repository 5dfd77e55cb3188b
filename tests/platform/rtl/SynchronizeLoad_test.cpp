// Many workers at once handing work to the main thread's message loop by
// every route: synchronised calls, queued calls and posted messages.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/rtl/Threads.h>

namespace ztl {
namespace {

class Worker : public TThread {
 public:
  explicit Worker(std::function<void(Worker&)> body) : body_(std::move(body)) {}
  ~Worker() override { TerminateAndWait(); }
  using TThread::Synchronize;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(Worker&)> body_;
};

class SynchronizeLoadThreads : public ::testing::Test {
 protected:
  void SetUp() override { ResetApplicationState(); }
  void TearDown() override { ResetApplicationState(); }
};

TEST_F(SynchronizeLoadThreads, EveryCallRunsOnceOnTheMainThreadAndTheLoopEnds) {
  constexpr int kWorkers = 4, kRounds = 200;
  int synchronised = 0, queued = 0;  // main thread only: no lock
  std::atomic<int> offMain{0}, finished{0};
  auto onMain = [&offMain] {
    if (!IsMainThread()) ++offMain;
  };
  std::vector<std::unique_ptr<Worker>> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.push_back(std::make_unique<Worker>([&](Worker& self) {
      for (int i = 0; i < kRounds; ++i) {
        self.Synchronize([&] {
          onMain();
          ++synchronised;
        });
        Application->QueueCall([&] {
          onMain();
          ++queued;
        });
        Application->PostMessage(Application->Handle(), WM_NULL);
      }
      if (++finished == kWorkers) Application->QueueCall([] { Application->Terminate(); });
    }));
  // A worker waiting for another does not serve its calls: the loop does.
  Worker waiter([&](Worker&) { workers[0]->WaitFor(); });
  for (auto& w : workers) w->Start();
  waiter.Start();
  Application->Run();
  for (auto& w : workers) EXPECT_EQ(w->WaitFor(), 0);
  waiter.WaitFor();
  Application->ProcessMessages();
  EXPECT_EQ(synchronised, kWorkers * kRounds);
  EXPECT_EQ(queued, kWorkers * kRounds);
  EXPECT_EQ(offMain.load(), 0);
}

TEST_F(SynchronizeLoadThreads, FreeingThreadsEndWhileTheMainThreadWaitsForOthers) {
  std::atomic<int> terminated{0};
  struct Counter : TObject {
    std::atomic<int>* count;
    void Terminated(TObject*) { ++*count; }
  } counter;
  counter.count = &terminated;
  Worker last([](Worker& self) {
    for (int i = 0; i < 50; ++i) self.Synchronize([] {});
  });
  for (int i = 0; i < 8; ++i) {
    auto* freeing = new Worker([](Worker& self) { self.Synchronize([] {}); });
    freeing->SetFreeOnTerminate(true);
    freeing->SetOnTerminate(MakeMethod<&Counter::Terminated>(&counter));
    freeing->Start();
  }
  last.Start();
  last.WaitFor();  // serves the freeing threads' calls as well
  while (terminated.load() < 8) CheckSynchronize(10);
  EXPECT_EQ(terminated.load(), 8);
}

}  // namespace
}  // namespace ztl
