#pragma once
// The GTK 3 widget set: forms are top-level windows, controls sit at their
// pixel positions in fixed containers, modal forms and message boxes run
// nested loops, and the application's queue, timers and synchronised calls
// are served inside GLib's main loop through a wake-up descriptor. GTK stays
// inside the desktop module: no header includes it.
#include <memory>

#include <ztlogger/platform/forms/GtkWidgetSet.h>

namespace ztl::gtk {

// A GTK widget set on the display $DISPLAY names; raises EInvalidOperation
// when the display cannot be opened. GTK binds itself to the first display
// it opens: one display a process.
std::unique_ptr<TWidgetSet> NewGtk3WidgetSet();

}  // namespace ztl::gtk
