#include <ztlogger/platform/gtk/Module.h>

#include <ztlogger/platform/gtk/Gtk3WidgetSet.h>
#include <ztlogger/platform/gtk/X11Bell.h>
#include <ztlogger/platform/gtk/X11Screen.h>
#include <ztlogger/platform/os/Beep.h>
#include <ztlogger/platform/os/ScreenDC.h>

namespace {

// The services below the module ask for the display through these; the
// module stays loaded for the rest of the process once it is (dlclose of it
// is never called), so the registrations never dangle.
[[maybe_unused]] const bool displayRegistered = [] {
  ztl::osdc::SetDisplayScreenSource(&ztl::gtk::OpenX11Screen);
  ztl::osbeep::SetDisplayBell(&ztl::gtk::RingX11Bell);
  return true;
}();

}  // namespace

ztl::TWidgetSet* ZTL_GtkCreateWidgetSet() { return ztl::gtk::NewGtk3WidgetSet().release(); }
