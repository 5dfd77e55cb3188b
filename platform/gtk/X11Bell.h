#pragma once
// The bell of the X11 display named by $DISPLAY. The desktop module registers
// it as the beep's display bell.

namespace ztl::gtk {

// Rings the display's bell at its default volume; false when the display
// cannot be opened.
bool RingX11Bell();

}  // namespace ztl::gtk
