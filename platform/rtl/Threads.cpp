#include <ztlogger/platform/rtl/Threads.h>

#include <chrono>
#include <deque>

#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/HardwareFaults.h>

namespace ztl {

ZTL_DEFINE_PLAIN_CLASS(TThread, TObject)

namespace {

struct SyncRequest {
  std::function<void()> call;
  bool done = false;
  std::exception_ptr error;
};

// The requests waiting for the main thread, and the finishing of threads: the
// main thread sleeps on mainCv for either, workers on doneCv for their request.
struct SyncState {
  std::mutex lock;
  std::condition_variable mainCv;
  std::condition_variable doneCv;
  std::deque<SyncRequest*> queue;
};

SyncState& Sync() {
  // Never destroyed: a worker may still be finishing while the process exits.
  static SyncState* state = new SyncState;
  return *state;
}

std::atomic<std::thread::id> mainThread{std::this_thread::get_id()};
std::atomic<TWakeMainThread> wakeMainThread{nullptr};
std::atomic<TThreadExceptionHook> threadExceptionHook{nullptr};

void RunRequest(SyncRequest& request) {
  try {
    request.call();
  } catch (...) {
    request.error = std::current_exception();
  }
}

}  // namespace

std::thread::id MainThreadID() { return mainThread.load(); }
void SetMainThreadID(std::thread::id id) { mainThread.store(id); }
bool IsMainThread() { return std::this_thread::get_id() == MainThreadID(); }

void SetWakeMainThread(TWakeMainThread wake) { wakeMainThread.store(wake); }

void SetThreadExceptionHook(TThreadExceptionHook hook) { threadExceptionHook.store(hook); }

bool SynchronizePending() {
  SyncState& s = Sync();
  std::lock_guard guard(s.lock);
  return !s.queue.empty();
}

bool CheckSynchronize(int timeoutMs) {
  if (!IsMainThread()) throw EThread("CheckSynchronize called from a thread other than the main thread");
  SyncState& s = Sync();
  std::deque<SyncRequest*> pending;
  {
    std::unique_lock lock(s.lock);
    if (s.queue.empty() && timeoutMs > 0)
      s.mainCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !s.queue.empty(); });
    pending.swap(s.queue);
  }
  for (SyncRequest* request : pending) {
    RunRequest(*request);
    {
      // The request lives on the worker's stack: not touched once done.
      std::lock_guard guard(s.lock);
      request->done = true;
    }
    s.doneCv.notify_all();
  }
  return !pending.empty();
}

TThread::TThread() = default;

TThread::~TThread() {
  TerminateAndWait();
  std::lock_guard guard(joinLock_);
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();  // freeing itself at the end of Execute
    else
      thread_.join();
  }
}

void TThread::Join() {
  std::lock_guard guard(joinLock_);
  if (thread_.joinable()) thread_.join();
}

void TThread::Start() {
  if (started_) throw EThread("Cannot call Start on a running or terminated thread");
  started_ = true;
  std::lock_guard guard(joinLock_);  // a thread freeing itself at once waits for thread_ to be set
  thread_ = std::thread(&TThread::Run, this);
}

void TThread::TerminateAndWait() {
  if (!started_ || Finished()) return;
  Terminate();
  WaitFor();
}

void TThread::Terminate() { terminated_.store(true); }

bool TThread::Finished() const {
  SyncState& s = Sync();
  std::lock_guard guard(s.lock);
  return finished_;
}

int TThread::WaitFor() {
  if (!started_) return returnValue_;
  {
    std::lock_guard guard(joinLock_);
    if (thread_.get_id() == std::this_thread::get_id()) throw EThread("A thread cannot wait for itself");
  }
  SyncState& s = Sync();
  if (IsMainThread()) {
    for (;;) {
      {
        std::unique_lock lock(s.lock);
        s.mainCv.wait(lock, [&] { return finished_ || !s.queue.empty(); });
        if (finished_) break;
      }
      CheckSynchronize();
    }
  } else {
    std::unique_lock lock(s.lock);
    s.mainCv.wait(lock, [&] { return finished_; });
  }
  Join();
  return returnValue_;
}

void TThread::Synchronize(TThread* thread, const std::function<void()>& call) {
  (void)thread;
  if (IsMainThread()) {
    call();
    return;
  }
  SyncState& s = Sync();
  SyncRequest request;
  request.call = call;
  {
    std::lock_guard guard(s.lock);
    s.queue.push_back(&request);
  }
  s.mainCv.notify_all();
  if (TWakeMainThread wake = wakeMainThread.load()) wake();
  {
    std::unique_lock lock(s.lock);
    s.doneCv.wait(lock, [&] { return request.done; });
  }
  if (request.error) std::rethrow_exception(request.error);
}

void TThread::Synchronize(const TThreadMethod& method) {
  if (!method.Assigned()) return;
  Synchronize(this, [&method] { method(); });
}

void TThread::DoTerminate() {
  if (onTerminate_.Assigned()) Synchronize(this, [this] { onTerminate_(this); });
}

void TThread::Run() {
  try {
    // Once the process turns faults into exceptions, a fault in Execute (a
    // stack overflow included) is raised here as on the main thread and kept
    // as the thread's FatalException.
    std::unique_ptr<TFaultStack> faultStack;
    if (FaultHandlersInstalled()) faultStack = std::make_unique<TFaultStack>();
    if (!Terminated()) Execute();
  } catch (...) {
    fatalException_ = std::current_exception();
  }
  if (fatalException_) {
    if (TThreadExceptionHook hook = threadExceptionHook.load()) {
      try {
        hook(this, fatalException_);
      } catch (...) {
        // The report of a failure failed: the failure itself stays kept.
      }
    }
  }
  try {
    DoTerminate();
  } catch (...) {
    if (!fatalException_) fatalException_ = std::current_exception();
  }
  const bool freeSelf = freeOnTerminate_;
  SyncState& s = Sync();
  {
    std::lock_guard guard(s.lock);
    finished_ = true;
  }
  s.mainCv.notify_all();
  if (freeSelf) delete this;
}

}  // namespace ztl
