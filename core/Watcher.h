#pragma once
// The worker of a component that watches for changes (a folder, a registry
// key): it waits on a thread of its own and reports each change on the main
// thread. The component may let go of its worker from inside its own change
// handler (deactivated or freed there), where the worker cannot be waited
// for, since it waits for that very handler; StopWorker handles both cases.
//
// Main thread only, but for the worker's wait, which runs on its own thread.
#include <functional>
#include <memory>

#include <ztlogger/platform/classes/Component.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/SyncObjs.h>
#include <ztlogger/platform/rtl/Threads.h>

namespace ztl {

// The worker thread of a watching component (folder, registry key): waits
// for changes and reports each one on the main thread; StopWorker lets go of
// it from anywhere, its own change handler included.
class ZTL_API TWatcherThread : public TThread {
 public:
  TWatcherThread(const TWatcherThread&) = delete;
  TWatcherThread& operator=(const TWatcherThread&) = delete;

  // Whether the owner's handler runs now (on the main thread, inside this
  // worker's synchronised call).
  bool InNotify() const { return FInNotify; }
  // For a worker whose owner lets go of it inside its own handler: it ends
  // by itself as soon as the handler returns, touches its owner no more, and
  // frees itself.
  void FreeWhenDone();

 protected:
  // Created suspended and not freed on termination; the derived class starts
  // it once its own members are ready.
  explicit TWatcherThread(TComponent* AOwner);
  // Ends Execute and waits for it: derived destructors call it first, before
  // the members the worker uses go away.
  void StopAndWait();
  // The component, or nullptr once it has let go of this worker.
  TComponent* Owner() const { return FOwner; }
  // Manual reset; set to end a wait of the worker at once (stopping, or a
  // change of what it watches). Joins every wait of Execute. A worker that
  // resets it does so before it tests Terminated, never after: a stop
  // landing in between would otherwise be erased and the wait never end.
  TEvent& WakeUp() { return FWakeUp; }
  // From Execute: runs Notify with the owner on the main thread and waits for
  // it, unless the owner has let go of this worker or it is being stopped. An
  // exception of the owner's handler goes to the application, as from any
  // event handler, and the worker goes on.
  void Report(const std::function<void(TComponent& Owner)>& Notify);

 private:
  TComponent* FOwner;      // nullptr once let go
  bool FInNotify = false;  // main thread only
  TEvent FWakeUp;
};

// Stops a component's worker: frees it, or, when the component lets go of it
// from inside the worker's own report, leaves it to free itself.
template <typename TWorker>
void StopWorker(std::unique_ptr<TWorker>& Worker) {
  if (Worker && Worker->InNotify())
    Worker.release()->FreeWhenDone();
  else
    Worker.reset();
}

// The activation the watching components share, called from their SetActive
// once the flag is stored, and from Loaded: while the component is active a
// worker runs, made at once (on the calling thread, where it arms its
// notifications before this returns) except while a stored form loads and
// at design time; a worker that exists is kept. Inactive, the worker is
// stopped. An exception of the worker's constructor propagates and leaves no
// worker.
template <typename TWorker, typename TComponentWithWorker>
void UpdateWorker(std::unique_ptr<TWorker>& Worker, TComponentWithWorker* Component) {
  if (!Component->Active()) {
    StopWorker(Worker);
    return;
  }
  const TComponentState state = Component->ComponentState();
  if (!Worker && !state.Contains(csLoading) && !state.Contains(csDesigning))
    Worker = std::make_unique<TWorker>(Component);
}

}  // namespace ztl
