#pragma once
// Window handles: one table for the process, mapping each handle to its
// control. A handle is never reused, so a message posted to a destroyed
// window finds nothing.
//
// Any thread may look a handle up; the control found: main thread only.
#include <ztlogger/platform/os/WinNames.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

class TWinControl;

// The control behind a handle, or nullptr.
ZTL_PLATFORM_API TWinControl* FindControl(HWND handle);

// Handing out and taking back handles is the forms layer's own business:
// controls and the application do it as they are created and destroyed.
HWND AllocateWindowHandle(TWinControl* control);
void ReleaseWindowHandle(HWND handle);

}  // namespace ztl
