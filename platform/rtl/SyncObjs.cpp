#include <ztlogger/platform/rtl/SyncObjs.h>

#include <ztlogger/platform/os/Windows.h>
#include <ztlogger/platform/rtl/ErrorMessages.h>

namespace ztl {

ZTL_DEFINE_PLAIN_CLASS(TCriticalSection, TObject)

TCriticalSection::TCriticalSection() = default;

TCriticalSection::~TCriticalSection() = default;

void TCriticalSection::Acquire() { mutex_.lock(); }

void TCriticalSection::Release() { mutex_.unlock(); }

bool TCriticalSection::TryEnter() { return mutex_.try_lock(); }

ZTL_DEFINE_PLAIN_CLASS(TEvent, TObject)

TEvent::TEvent(bool ManualReset, bool InitialState)
    : FHandle(CreateEventW(nullptr, ManualReset ? TRUE : FALSE, InitialState ? TRUE : FALSE, nullptr)) {
  if (FHandle == nullptr) RaiseLastOSError();
}

TEvent::~TEvent() { CloseHandle(FHandle); }

void TEvent::SetEvent() { ::SetEvent(FHandle); }

void TEvent::ResetEvent() { ::ResetEvent(FHandle); }

TWaitResult TEvent::WaitFor(uint32_t Timeout) {
  switch (WaitForSingleObject(FHandle, Timeout)) {
    case WAIT_OBJECT_0:
      return wrSignaled;
    case WAIT_TIMEOUT:
      return wrTimeout;
    case WAIT_ABANDONED:
      return wrAbandoned;
    default:
      return wrError;
  }
}

}  // namespace ztl
