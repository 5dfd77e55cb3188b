#include <ztlogger/filelog/LogFile.h>

#include <mutex>

#include <ztlogger/core/Watcher.h>
#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/os/Windows.h>
#include <ztlogger/platform/rtl/ErrorMessages.h>
#include <ztlogger/platform/rtl/ScopeExit.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl {

ZTL_DEFINE_CLASS(EFileNotificationError, Exception)

namespace {

const char* const NotificationAllocationError = "Could not allocate notification object";
constexpr DWORD WaitPeriodMs = 200;
constexpr DWORD PauseMs = 1;
constexpr int MaxHandles = 8;

// The system's filter of each kind of change, in option order.
constexpr DWORD FilterOf[] = {FILE_NOTIFY_CHANGE_FILE_NAME, FILE_NOTIFY_CHANGE_DIR_NAME, FILE_NOTIFY_CHANGE_ATTRIBUTES,
                              FILE_NOTIFY_CHANGE_SIZE, FILE_NOTIFY_CHANGE_LAST_WRITE};
constexpr TFileNotificationOption WatchedKinds[] = {foFile, foFolder, foAttributes, foSize, foTime};

}  // namespace

// The worker: one change notification per watched kind, waited on together.
// The main thread replaces the handle set (Reset) while the worker may wait
// on it: the set is guarded by a lock and counted in generations, and the
// worker re-arms a handle only if its set is still the current one. An
// event joins every wait, so that stopping and Reset take effect at once.
class TZTFileLog::TNotificationThread final : public TWatcherThread {
 public:
  explicit TNotificationThread(TZTFileLog* AOwner);
  ~TNotificationThread() override;

  void Reset();

 protected:
  void Execute() override;

 private:
  void AllocateHandles();
  void ReleaseHandles();

  HANDLE FHandles[MaxHandles] = {};
  TFileNotificationOption FHandleFilters[MaxHandles] = {};
  int32_t FHandleCount = 0;
  TFileNotificationOption FActiveFilter = foFile;

  std::mutex FHandleLock;
  uint64_t FGeneration = 0;  // counts the handle sets, under FHandleLock
};

TZTFileLog::TNotificationThread::TNotificationThread(TZTFileLog* AOwner) : TWatcherThread(AOwner) {
  Reset();
  Start();
}

TZTFileLog::TNotificationThread::~TNotificationThread() {
  StopAndWait();
  std::lock_guard guard(FHandleLock);
  ReleaseHandles();
}

void TZTFileLog::TNotificationThread::Reset() {
  ScopeExit wakeWorker([this] { WakeUp().SetEvent(); });
  std::lock_guard guard(FHandleLock);
  ++FGeneration;
  ReleaseHandles();
  AllocateHandles();
}

// Called with FHandleLock held.
void TZTFileLog::TNotificationThread::AllocateHandles() {
  const auto* owner = static_cast<const TZTFileLog*>(Owner());
  if (owner == nullptr || owner->Options().Bits() == 0) return;
  ReleaseHandles();
  const std::u16string folder = unicode::Utf8ToUtf16(owner->Folder());
  const BOOL subtree = owner->Options().Contains(foWatchSubFolders) ? TRUE : FALSE;
  try {
    for (TFileNotificationOption option : WatchedKinds) {
      if (!owner->Options().Contains(option)) continue;
      FHandleFilters[FHandleCount] = option;
      FHandles[FHandleCount] = FindFirstChangeNotificationW(folder.c_str(), subtree, FilterOf[option]);
      ++FHandleCount;
      if (FHandles[FHandleCount - 1] == INVALID_HANDLE_VALUE) throw EFileNotificationError(NotificationAllocationError);
    }
  } catch (...) {
    ReleaseHandles();
    throw;
  }
}

// Called with FHandleLock held, or once the worker has ended.
void TZTFileLog::TNotificationThread::ReleaseHandles() {
  for (int32_t i = 0; i < FHandleCount; ++i)
    if (FHandles[i] != INVALID_HANDLE_VALUE && FHandles[i] != nullptr) FindCloseChangeNotification(FHandles[i]);
  for (int i = 0; i < MaxHandles; ++i) {
    FHandles[i] = nullptr;
    FHandleFilters[i] = foFile;
  }
  FHandleCount = 0;
}

void TZTFileLog::TNotificationThread::Execute() {
  for (;;) {
    // Reset before the test: a stop after the test leaves the event set
    // and ends the wait below, which has no time-out without notifications.
    WakeUp().ResetEvent();
    if (Terminated()) break;
    HANDLE handles[MaxHandles + 1];
    TFileNotificationOption filters[MaxHandles];
    DWORD count;
    uint64_t generation;
    {
      std::lock_guard guard(FHandleLock);
      count = static_cast<DWORD>(FHandleCount);
      std::copy(FHandles, FHandles + count, handles);
      std::copy(FHandleFilters, FHandleFilters + count, filters);
      generation = FGeneration;
    }
    handles[count] = WakeUp().Handle();
    // Without notifications there is nothing to wait for but a Reset or the end.
    const DWORD result = WaitForMultipleObjects(count + 1, handles, FALSE, count > 0 ? WaitPeriodMs : INFINITE);
    if (result < WAIT_OBJECT_0 + count) {
      const DWORD index = result - WAIT_OBJECT_0;
      FActiveFilter = filters[index];
      Report([this](TComponent& owner) { static_cast<TZTFileLog&>(owner).Notify(FActiveFilter); });
      std::lock_guard guard(FHandleLock);
      if (FGeneration == generation) FindNextChangeNotification(handles[index]);
    }
    // The pause keeps a failing wait from spinning; a wake-up cuts it short.
    WakeUp().WaitFor(PauseMs);
  }
}

ZTL_BEGIN_CLASS(TZTFileLog, TZTLogBase)
  .Property("Folder", &Self::Folder, &Self::SetFolder)
  .Property("Options", &Self::Options, &Self::SetOptions).Default(TFileNotificationOptions{foFile, foFolder})
  .Property("OnFileNotification", &Self::OnFileNotification, &Self::SetOnFileNotification)
ZTL_END_CLASS

TZTFileLog::TZTFileLog(TComponent* AOwner) : TZTLogBase(AOwner), FOptions{foFile, foFolder} {}

TZTFileLog::~TZTFileLog() {
  // Deactivated first: a change the worker is handing over is not reported
  // to a component on its way out.
  SetActive(false);
}

void TZTFileLog::SetActive(bool Value) {
  TZTLogBase::SetActive(Value);
  UpdateWorker(FThread, this);
}

void TZTFileLog::SetFolder(const String& Value) {
  if (Value == FFolder) return;
  FFolder = Value;
  if (FThread) FThread->Reset();
}

void TZTFileLog::SetOptions(TFileNotificationOptions Value) {
  if (Value == FOptions) return;
  FOptions = Value;
  if (FThread) FThread->Reset();
}

void TZTFileLog::Loaded() {
  TZTLogBase::Loaded();
  UpdateWorker(FThread, this);
}

void TZTFileLog::Notify(TFileNotificationOption Action) {
  if (Active() && FOnFileNotification.Assigned()) FOnFileNotification(this, Action);
}

}  // namespace ztl
