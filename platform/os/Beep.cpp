#include <ztlogger/platform/os/Beep.h>

#include <atomic>

namespace {

std::atomic<ztl::osbeep::TBeepSink> beepSink{nullptr};
std::atomic<ztl::osbeep::TDisplayBell> displayBell{nullptr};

}  // namespace

namespace ztl::osbeep {

void SetBeepSink(TBeepSink sink) { beepSink.store(sink); }

TDisplayBell SetDisplayBell(TDisplayBell bell) { return displayBell.exchange(bell); }

TDisplayBell DisplayBell() { return displayBell.load(); }

bool RingDisplayBell() {
  TDisplayBell bell = displayBell.load();
  return bell && bell();
}

}  // namespace ztl::osbeep

BOOL MessageBeep(UINT uType) {
  if (ztl::osbeep::TBeepSink sink = beepSink.load()) {
    sink(uType);
    return TRUE;
  }
  if (ztl::osbeep::RingDisplayBell()) return TRUE;
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}
