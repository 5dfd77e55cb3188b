#pragma once
// The GTK 3 widget set, which lives in a module of its own (libztl_gtk, next
// to this library), so that a program that shows no form loads no GUI
// library: the module is loaded when the GTK widget set is first asked for.
// Loading it also registers the X11 display's screen copy and bell with the
// services (os/ScreenDC.h, os/Beep.h); until then, a copy of the screen or a
// bell where a display is named loads it. A program may link the module too;
// loading it again is harmless. No header includes GTK.
//
// Main thread only.
#include <memory>
#include <vector>

#include <ztlogger/platform/forms/WidgetSet.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

// Loads the module once; false when it is missing or cannot be loaded, with
// the reason in *error when error is given. Later calls give the first
// call's answer. Thread-safe.
ZTL_PLATFORM_API bool LoadGtkModule(String* error = nullptr);
// Whether the GTK widget set can be had: its module loads.
ZTL_PLATFORM_API bool GtkWidgetSetBuilt();

// A GTK widget set on the display $DISPLAY names. Raises EInvalidOperation
// when the module cannot be loaded or the display cannot be opened. GTK
// binds itself to the first display it opens: one display a process.
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
