#pragma once
// MessageBeep on POSIX.
//
// The beep belongs to the widget set in use, which lives in a higher layer and
// registers how it sounds at start-up (SetBeepSink). Until one is registered,
// the display's bell rings, when the desktop module has registered one
// (SetDisplayBell) and a display is there.
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl::osbeep {

using TBeepSink = void (*)(UINT type);
// Registers what sounds a beep; nullptr goes back to the display's bell.
// Safe to call from any thread.
ZTL_PLATFORM_API void SetBeepSink(TBeepSink sink);

// Rings the display's bell; false when no display can be opened.
using TDisplayBell = bool (*)();
// Registers the display's bell: the desktop module, which links the display's
// libraries that this layer does not, registers it when it is loaded; nullptr
// takes it back. Returns the bell registered before. Safe to call from any
// thread.
ZTL_PLATFORM_API TDisplayBell SetDisplayBell(TDisplayBell bell);
// The bell registered now, or nullptr.
ZTL_PLATFORM_API TDisplayBell DisplayBell();
// Rings the registered display bell at its default volume; false when none
// is registered or no display can be opened.
ZTL_PLATFORM_API bool RingDisplayBell();

}  // namespace ztl::osbeep

// Sounds the beep of uType (MB_OK, MB_ICONHAND, ..., or 0xFFFFFFFF for the
// simple beep). TRUE when something sounded it; FALSE with
// ERROR_NOT_SUPPORTED when no widget set is registered and no display bell
// rang.
ZTL_PLATFORM_API BOOL MessageBeep(UINT uType);
