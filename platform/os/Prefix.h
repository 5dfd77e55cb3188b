#pragma once
// The platform prefix: the folder that holds what Windows keeps machine-wide
// (the registry, the event logs), as a Windows installation folder would.
// It is $ZTL_PREFIX when set, else $XDG_DATA_HOME/ztlogger, else
// ~/.local/share/ztlogger. It is read at each call, so a program (or a test)
// that points ZTL_PREFIX elsewhere is served from there at once.
//
// Any thread, while no thread changes the environment.
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl::os {

ZTL_PLATFORM_API String PlatformPrefix();

}  // namespace ztl::os
