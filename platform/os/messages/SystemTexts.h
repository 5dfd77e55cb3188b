#pragma once
// The system's texts for the Windows error codes the platform produces, as
// FormatMessageW gives them with FORMAT_MESSAGE_FROM_SYSTEM.
//
// Any thread: a constant table.
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl::os {

// The system's text for an error code (without the final line break), or
// nullptr for a code it has none for.
ZTL_PLATFORM_API const char* SystemMessageText(DWORD code);

}  // namespace ztl::os
