#include <ztlogger/core/Watcher.h>

#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/rtl/ScopeExit.h>

namespace ztl {

TWatcherThread::TWatcherThread(TComponent* AOwner) : FOwner(AOwner) { SetFreeOnTerminate(false); }

void TWatcherThread::FreeWhenDone() {
  FOwner = nullptr;
  SetFreeOnTerminate(true);
  Terminate();
  FWakeUp.SetEvent();
}

void TWatcherThread::StopAndWait() {
  Terminate();
  FWakeUp.SetEvent();
  TerminateAndWait();
}

void TWatcherThread::Report(const std::function<void(TComponent& Owner)>& Notify) {
  Synchronize([this, &Notify] {
    if (FOwner == nullptr || Terminated()) return;
    TComponent* owner = FOwner;
    FInNotify = true;
    ScopeExit leave([this] { FInNotify = false; });
    try {
      Notify(*owner);
    } catch (...) {
      if (Application == nullptr) throw;
      Application->HandleException(FOwner);  // none once let go of inside the handler
    }
  });
}

}  // namespace ztl
