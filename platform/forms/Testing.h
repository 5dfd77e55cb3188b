#pragma once
// Entry points for tests of programs built on the framework; an application
// has no use for them.
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

// Frees the application and the screen with everything they own, empties the
// message queue, installs a fresh headless widget set and creates a new
// application and screen: a clean start.
ZTL_PLATFORM_API void ResetApplicationState();

}  // namespace ztl
