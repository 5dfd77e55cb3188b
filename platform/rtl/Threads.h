#pragma once
// Worker threads and calls synchronised with the main thread.
//
// A worker hands a call to the main thread with Synchronize and blocks until
// the main thread has run it. The main thread runs such calls in its message
// loop (the application calls CheckSynchronize) and while it waits for a
// thread to end (WaitFor), so freeing a thread that sits in Synchronize
// cannot deadlock.
//
// A descendant stops the thread at the start of its own destructor with
// TerminateAndWait (after waking the worker if it sleeps on something of its
// own): by the time the base destructor runs, the descendant's members and
// its Execute are gone.
//
// Any thread but CheckSynchronize (main thread); set a TThread up before Start.
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Object.h>

namespace ztl {

using TThreadMethod = TMethodRef<void()>;

// The thread that runs the message loop: the one that loaded the framework,
// unless an application names another.
ZTL_PLATFORM_API std::thread::id MainThreadID();
ZTL_PLATFORM_API void SetMainThreadID(std::thread::id id);
ZTL_PLATFORM_API bool IsMainThread();

// Runs the synchronised calls that are waiting; on the main thread only.
// Waits up to timeoutMs for one to arrive when none is there. Returns whether
// any call was run.
ZTL_PLATFORM_API bool CheckSynchronize(int timeoutMs = 0);
// Whether a synchronised call is waiting for the main thread.
ZTL_PLATFORM_API bool SynchronizePending();

// Called (from the worker) whenever a synchronised call is queued, so that a
// message loop sleeping on its own queue wakes up and serves it.
using TWakeMainThread = void (*)();
ZTL_PLATFORM_API void SetWakeMainThread(TWakeMainThread wake);

class TThread;
// Called on the worker when an exception has ended its Execute, before the
// thread counts as finished (a crash reporter reports it); the exception is
// kept as the thread's FatalException all the same.
using TThreadExceptionHook = void (*)(TThread* thread, const std::exception_ptr& exception);
ZTL_PLATFORM_API void SetThreadExceptionHook(TThreadExceptionHook hook);

class ZTL_PLATFORM_API TThread : public TObject {
  ZTL_DECLARE_CLASS(TThread, TObject)

 public:
  // A thread is created suspended: Execute runs after Start.
  TThread();
  // Sets the terminate flag and waits for Execute to end, serving the
  // synchronised calls meanwhile when called on the main thread.
  ~TThread() override;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts Execute on a thread of its own; raises EThread when started twice.
  void Start();
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  bool Started() const { return started_; }
  bool Finished() const;
  // Waits for Execute to end and returns ReturnValue; on the main thread the
  // synchronised calls of all threads are served while waiting.
  int WaitFor();
  // Terminate and WaitFor, when the thread was started and has not ended.
  void TerminateAndWait();

  // The thread frees itself when Execute has ended.
  bool FreeOnTerminate() const { return freeOnTerminate_; }
  void SetFreeOnTerminate(bool value) { freeOnTerminate_ = value; }
  int ReturnValue() const { return returnValue_; }
  void SetReturnValue(int value) { returnValue_ = value; }
  // The exception that escaped Execute, if any.
  std::exception_ptr FatalException() const { return fatalException_; }
  // Called on the main thread after Execute has ended.
  TNotifyEvent OnTerminate() const { return onTerminate_; }
  void SetOnTerminate(const TNotifyEvent& value) { onTerminate_ = value; }

  // Runs call on the main thread and waits until it has run; an exception it
  // raises is raised again in the calling thread. On the main thread the
  // call runs at once.
  static void Synchronize(TThread* thread, const std::function<void()>& call);
  void Synchronize(const TThreadMethod& method);
  void Synchronize(const std::function<void()>& call) { Synchronize(this, call); }

 protected:
  virtual void Execute() = 0;
  virtual void DoTerminate();

 private:
  void Run();
  void Join();

  std::thread thread_;
  std::mutex joinLock_;  // WaitFor may run in several threads at once
  std::atomic<bool> terminated_{false};
  bool started_ = false;
  bool finished_ = false;  // guarded by the synchronisation lock
  bool freeOnTerminate_ = false;
  int returnValue_ = 0;
  std::exception_ptr fatalException_;
  TNotifyEvent onTerminate_;
};

}  // namespace ztl
