#pragma once
// The GTK 3 widget set: forms are top-level windows, controls sit at their
// pixel positions in fixed containers, modal forms and message boxes run
// nested loops, and the application's queue, timers and synchronised calls
// are served inside GLib's main loop through a wake-up descriptor. GTK stays
// inside the library: no header includes it.
#include <memory>
#include <vector>

#include <ztlogger/platform/forms/WidgetSet.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

// Whether the library was built with the GTK widget set.
ZTL_PLATFORM_API bool GtkWidgetSetBuilt();

// A GTK widget set on the display $DISPLAY names. Raises EInvalidOperation
// when the library was built without GTK or the display cannot be opened.
// GTK binds itself to the first display it opens: one display a process.
ZTL_PLATFORM_API std::unique_ptr<TWidgetSet> CreateGtkWidgetSet();

// What a GTK widget set has shown, for tests that drive it with real input.
struct ZTL_PLATFORM_API TGtkShownHint {
  String Text;
  TPoint Position;  // screen pixels
};

class ZTL_PLATFORM_API TGtkInspection {
 public:
  virtual ~TGtkInspection() = default;
  // The hints shown so far, and whether the last one is still up.
  virtual std::vector<TGtkShownHint> Hints() const = 0;
  virtual bool HintVisible() const = 0;
  // The number of bells rung.
  virtual int Beeps() const = 0;
};
// The current widget set as the GTK one, or nullptr.
ZTL_PLATFORM_API TGtkInspection* GtkInspection();

}  // namespace ztl
