#include <ztlogger/platform/os/Beep.h>

#include <atomic>

#include <X11/Xlib.h>

namespace {

std::atomic<ztl::osbeep::TBeepSink> beepSink{nullptr};

}  // namespace

namespace ztl::osbeep {

void SetBeepSink(TBeepSink sink) { beepSink.store(sink); }

bool RingDisplayBell() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  XBell(display, 0);
  XCloseDisplay(display);  // flushes the request
  return true;
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
