#include "filelog/LogFile.h"

#include <mutex>

#include "platform/classes/ClassBuilder.h"
#include "platform/forms/Forms.h"
#include "platform/os/Windows.h"
#include "platform/rtl/ErrorMessages.h"
#include "platform/rtl/ScopeExit.h"
#include "platform/rtl/Threads.h"
#include "platform/rtl/Unicode.h"

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

// A manual-reset event handle closed with its owner.
class OwnedEvent {
 public:
  OwnedEvent() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (handle_ == nullptr) RaiseLastOSError();
  }
  ~OwnedEvent() { CloseHandle(handle_); }
  OwnedEvent(const OwnedEvent&) = delete;
  OwnedEvent& operator=(const OwnedEvent&) = delete;
  HANDLE Handle() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

// The worker: one change notification per watched kind, waited on together.
// The main thread replaces the handle set (Reset) while the worker may wait
// on it: the set is guarded by a lock and counted in generations, and the
// worker re-arms a handle only if its set is still the current one. An
// event joins every wait, so that stopping and Reset take effect at once.
class TZTFileLog::TNotificationThread final : public TThread {
 public:
  explicit TNotificationThread(TZTFileLog* AOwner);
  ~TNotificationThread() override;
  TNotificationThread(const TNotificationThread&) = delete;
  TNotificationThread& operator=(const TNotificationThread&) = delete;

  void Reset();
  // Whether the owner's handler runs now (on the main thread, inside this
  // worker's synchronised call).
  bool InNotify() const { return FInNotify; }
  // For a worker whose owner lets go of it inside its own handler: it cannot
  // be waited for there (it waits for the handler), so it ends by itself as
  // soon as the handler returns, touching its owner no more, and frees
  // itself.
  void FreeWhenDone();

 protected:
  void Execute() override;

 private:
  void AllocateHandles();
  void ReleaseHandles();
  void Notify();

  TZTFileLog* FOwner;
  HANDLE FHandles[MaxHandles] = {};
  TFileNotificationOption FHandleFilters[MaxHandles] = {};
  int32_t FHandleCount = 0;
  TFileNotificationOption FActiveFilter = foFile;
  bool FInNotify = false;  // main thread only

  std::mutex FHandleLock;
  uint64_t FGeneration = 0;  // counts the handle sets, under FHandleLock
  OwnedEvent FWakeUp;        // manual reset: stays set until the worker has looked at what changed
};

TZTFileLog::TNotificationThread::TNotificationThread(TZTFileLog* AOwner) : FOwner(AOwner) {
  SetFreeOnTerminate(false);
  Reset();
  Start();
}

TZTFileLog::TNotificationThread::~TNotificationThread() {
  Terminate();
  SetEvent(FWakeUp.Handle());
  TerminateAndWait();
  std::lock_guard guard(FHandleLock);
  ReleaseHandles();
}

void TZTFileLog::TNotificationThread::FreeWhenDone() {
  FOwner = nullptr;
  SetFreeOnTerminate(true);
  Terminate();
  SetEvent(FWakeUp.Handle());
}

void TZTFileLog::TNotificationThread::Reset() {
  ScopeExit wakeWorker([this] { SetEvent(FWakeUp.Handle()); });
  std::lock_guard guard(FHandleLock);
  ++FGeneration;
  ReleaseHandles();
  AllocateHandles();
}

// Called with FHandleLock held.
void TZTFileLog::TNotificationThread::AllocateHandles() {
  if (FOwner == nullptr || FOwner->Options().Bits() == 0) return;
  ReleaseHandles();
  const std::u16string folder = unicode::Utf8ToUtf16(FOwner->Folder());
  const BOOL subtree = FOwner->Options().Contains(foWatchSubFolders) ? TRUE : FALSE;
  try {
    for (TFileNotificationOption option : WatchedKinds) {
      if (!FOwner->Options().Contains(option)) continue;
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
  while (!Terminated()) {
    ResetEvent(FWakeUp.Handle());
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
    handles[count] = FWakeUp.Handle();
    // Without notifications there is nothing to wait for but a Reset or the end.
    const DWORD result = WaitForMultipleObjects(count + 1, handles, FALSE, count > 0 ? WaitPeriodMs : INFINITE);
    if (result < WAIT_OBJECT_0 + count) {
      const DWORD index = result - WAIT_OBJECT_0;
      FActiveFilter = filters[index];
      Synchronize([this] { Notify(); });
      std::lock_guard guard(FHandleLock);
      if (FGeneration == generation) FindNextChangeNotification(handles[index]);
    }
    // The pause keeps a failing wait from spinning; a wake-up cuts it short.
    WaitForSingleObject(FWakeUp.Handle(), PauseMs);
  }
}

// On the main thread. An exception of the application's handler goes to the
// application, as from any event handler; the worker goes on watching.
void TZTFileLog::TNotificationThread::Notify() {
  if (FOwner == nullptr) return;
  TZTFileLog* owner = FOwner;
  FInNotify = true;
  ScopeExit leave([this] { FInNotify = false; });
  try {
    owner->Notify(FActiveFilter);
  } catch (...) {
    if (Application == nullptr) throw;
    Application->HandleException(FOwner);  // none once let go of inside the handler
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
  if (!Value) {
    StopWatching();
    return;
  }
  const TComponentState state = ComponentState();
  if (!state.Contains(csLoading) && !state.Contains(csDesigning)) StartWatching();
}

void TZTFileLog::StopWatching() {
  if (FThread && FThread->InNotify())
    FThread.release()->FreeWhenDone();  // deactivated or freed by its own handler
  else
    FThread.reset();
}

void TZTFileLog::StartWatching() {
  if (!FThread) FThread = std::make_unique<TNotificationThread>(this);
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
  if (Active() && !ComponentState().Contains(csDesigning)) StartWatching();
}

void TZTFileLog::Notify(TFileNotificationOption Action) {
  if (Active() && FOnFileNotification.Assigned()) FOnFileNotification(this, Action);
}

}  // namespace ztl
