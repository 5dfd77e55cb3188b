#include <ztlogger/registrylog/LogRegistry.h>

#include <ztlogger/core/Watcher.h>
#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/os/Registry.h>
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

// The worker. It waits on a change event of its own, which no other watcher
// shares: a shared event would report every watcher's changes to all of them
// and let one watcher's reset wipe out another's signal before that one had
// waited. The wake-up event joins the wait, so stopping never waits for a
// change to arrive. The settings are copied when the worker is made, on the
// main thread, and read by Execute once at its start.
class TZTRegistryLog::TNotificationThread final : public TWatcherThread {
 public:
  explicit TNotificationThread(TZTRegistryLog* AOwner);
  ~TNotificationThread() override;

 protected:
  void Execute() override;

 private:
  std::unique_ptr<TRegistry> FRegInstance;
  HKEY FRootKey;
  String FKey;
  TRegistryNotificationOptions FOptions;
};

TZTRegistryLog::TNotificationThread::TNotificationThread(TZTRegistryLog* AOwner)
    : TWatcherThread(AOwner),
      FRegInstance(std::make_unique<TRegistry>()),
      FRootKey(AOwner->RootKey()),
      FKey(AOwner->Key()),
      FOptions(AOwner->Options()) {
  Start();
}

TZTRegistryLog::TNotificationThread::~TNotificationThread() {
  StopAndWait();
  FRegInstance.reset();  // closes the key
}

void TZTRegistryLog::TNotificationThread::Execute() {
  FRegInstance->SetRootKey(FRootKey);
  FRegInstance->SetAccess(KEY_READ);
  if (!FRegInstance->OpenKey(FKey, false)) throw ERegistryNotificationError(KeyOpenError + FKey);
  const BOOL subtree = FOptions.Contains(roWatchSubFolders) ? TRUE : FALSE;
  DWORD filter = 0;
  for (TRegistryNotificationOption option : WatchedKinds)
    if (FOptions.Contains(option)) filter |= FilterOf[option];
  TEvent change;
  const HKEY key = FRegInstance->CurrentKey();
  RegNotifyChangeKeyValue(key, subtree, filter, change.Handle(), TRUE);  // a filter of 0 is refused: never signalled
  const HANDLE handles[] = {change.Handle(), WakeUp().Handle()};
  while (!Terminated()) {
    const DWORD result = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (result == WAIT_FAILED) RaiseLastOSError();
    if (result != WAIT_OBJECT_0) continue;
    Report([](TComponent& owner) { static_cast<TZTRegistryLog&>(owner).Notify(); });
    change.ResetEvent();
    RegNotifyChangeKeyValue(key, subtree, filter, change.Handle(), TRUE);
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
  if (!Value) {
    StopWatching();
    return;
  }
  const TComponentState state = ComponentState();
  if (!state.Contains(csLoading) && !state.Contains(csDesigning)) StartWatching();
}

void TZTRegistryLog::StopWatching() { StopWorker(FThread); }

void TZTRegistryLog::StartWatching() {
  if (!FThread) FThread = std::make_unique<TNotificationThread>(this);
}

void TZTRegistryLog::Loaded() {
  TZTLogBase::Loaded();
  if (Active() && !ComponentState().Contains(csDesigning)) StartWatching();
}

void TZTRegistryLog::Notify() {
  if (Active() && FOnRegistryNotification.Assigned()) FOnRegistryNotification(this);
}

}  // namespace ztl
