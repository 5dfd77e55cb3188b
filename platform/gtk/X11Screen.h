#pragma once
// The screen of the X11 display named by $DISPLAY: its root window, read with
// XGetImage. The desktop module registers it as the screen copy's display
// screen source.
#include <memory>

#include <ztlogger/platform/os/ScreenDC.h>

namespace ztl::gtk {

// The root window of $DISPLAY; nullptr when the display cannot be opened.
std::unique_ptr<osdc::TPixelSurface> OpenX11Screen();

}  // namespace ztl::gtk
