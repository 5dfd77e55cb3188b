#include <ztlogger/platform/gtk/X11Bell.h>

#include <X11/Xlib.h>

namespace ztl::gtk {

bool RingX11Bell() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  XBell(display, 0);
  XCloseDisplay(display);  // flushes the request
  return true;
}

}  // namespace ztl::gtk
