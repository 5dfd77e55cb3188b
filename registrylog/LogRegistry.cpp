#include <ztlogger/registrylog/LogRegistry.h>

#include <exception>

#include <ztlogger/core/Watcher.h>
#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/os/Windows.h>
#include <ztlogger/platform/rtl/ErrorMessages.h>
#include <ztlogger/platform/rtl/Registry.h>

namespace ztl {

ZTL_DEFINE_CLASS(ERegistryNotificationError, Exception)

namespace {

const char* const KeyOpenError = "Unable to open registry key";

// The filter flag of each kind of change, in option order.
constexpr DWORD FilterOf[] = {REG_NOTIFY_CHANGE_NAME, REG_NOTIFY_CHANGE_ATTRIBUTES, REG_NOTIFY_CHANGE_LAST_SET,
                              REG_NOTIFY_CHANGE_SECURITY};
constexpr TRegistryNotificationOption WatchedKinds[] = {roName, roAttributes, roLastSet, roSecurity};

}  // namespace

// The worker. Its constructor, on the activating thread, opens the key and
// registers the first notification, so that a change made once SetActive
// returns is seen. It waits on a change event of its own, which no other
// watcher shares: a shared event would report every watcher's changes to all
// of them and let one watcher's reset wipe out another's signal before that
// one had waited. The wake-up event joins the wait, so stopping never waits
// for a change to arrive. A key that cannot be opened is reported by the
// worker to the main thread, where it goes to the application as a handler's
// error would; the worker then ends.
class TZTRegistryLog::TNotificationThread final : public TWatcherThread {
 public:
  explicit TNotificationThread(TZTRegistryLog* AOwner);
  ~TNotificationThread() override;

 protected:
  void Execute() override;

 private:
  void Register();

  std::unique_ptr<TRegistry> FRegInstance;
  TEvent FChange;
  BOOL FSubtree = FALSE;
  DWORD FFilter = 0;
  std::exception_ptr FOpenError;  // the key could not be opened
};

TZTRegistryLog::TNotificationThread::TNotificationThread(TZTRegistryLog* AOwner)
    : TWatcherThread(AOwner), FRegInstance(std::make_unique<TRegistry>()) {
  const TRegistryNotificationOptions options = AOwner->Options();
  FSubtree = options.Contains(roWatchSubFolders) ? TRUE : FALSE;
  for (TRegistryNotificationOption option : WatchedKinds)
    if (options.Contains(option)) FFilter |= FilterOf[option];
  FRegInstance->SetRootKey(AOwner->RootKey());
  FRegInstance->SetAccess(KEY_READ);
  if (FRegInstance->OpenKey(AOwner->Key(), false))
    Register();
  else
    FOpenError = std::make_exception_ptr(ERegistryNotificationError(KeyOpenError + AOwner->Key()));
  Start();
}

TZTRegistryLog::TNotificationThread::~TNotificationThread() {
  StopAndWait();
  FRegInstance.reset();  // closes the key
}

// Not tied to the registering thread: the first registration is made on the
// activating thread, which may end before the worker does. A filter of 0 is
// refused, and then nothing is ever signalled.
void TZTRegistryLog::TNotificationThread::Register() {
  if (FFilter == 0) return;
  RegNotifyChangeKeyValue(FRegInstance->CurrentKey(), FSubtree, FFilter | REG_NOTIFY_THREAD_AGNOSTIC,
                          FChange.Handle(), TRUE);
}

void TZTRegistryLog::TNotificationThread::Execute() {
  if (FOpenError) {
    Report([this](TComponent&) { std::rethrow_exception(FOpenError); });
    return;
  }
  const HANDLE handles[] = {FChange.Handle(), WakeUp().Handle()};
  while (!Terminated()) {
    const DWORD result = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (result == WAIT_FAILED) RaiseLastOSError();
    if (result != WAIT_OBJECT_0) continue;
    Report([](TComponent& owner) { static_cast<TZTRegistryLog&>(owner).Notify(); });
    FChange.ResetEvent();
    Register();
  }
}

ZTL_BEGIN_CLASS(TZTRegistryLog, TZTLogBase)
  .Property("RootKey", &Self::RootKeyValue, &Self::SetRootKeyValue).Default(uint32_t{0x80000002u})
  .Property("Key", &Self::Key, &Self::SetKey)
  .Property("Options", &Self::Options, &Self::SetOptions).Default(TRegistryNotificationOptions{roName, roAttributes})
  .Property("OnRegistryNotification", &Self::OnRegistryNotification, &Self::SetOnRegistryNotification)
ZTL_END_CLASS

TZTRegistryLog::TZTRegistryLog(TComponent* AOwner)
    : TZTLogBase(AOwner), FRootKey(HKEY_LOCAL_MACHINE), FKey("Software\\Velmora"), FOptions{roName, roAttributes} {}

TZTRegistryLog::~TZTRegistryLog() {
  // Deactivated first: a change the worker is handing over is not reported
  // to a component on its way out.
  SetActive(false);
}

uint32_t TZTRegistryLog::RootKeyValue() const {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(FRootKey));
}

void TZTRegistryLog::SetRootKeyValue(uint32_t Value) {
  FRootKey = reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(Value)));
}

void TZTRegistryLog::SetActive(bool Value) {
  TZTLogBase::SetActive(Value);
  UpdateWorker(FThread, this);
}

void TZTRegistryLog::Loaded() {
  TZTLogBase::Loaded();
  UpdateWorker(FThread, this);
}

void TZTRegistryLog::Notify() {
  if (Active() && FOnRegistryNotification.Assigned()) FOnRegistryNotification(this);
}

}  // namespace ztl
