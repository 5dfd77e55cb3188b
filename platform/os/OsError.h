#pragma once
// The services' error inside their own code: a Windows error code raised
// where a failure is found and caught at the service's entry point, which
// reports it as the Windows call does (return value plus last error). Only
// the few helpers the tools share with the services (the message formatter,
// the message-table reader) let it out, and say so.
//
// Any thread: a plain value.
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl::os {

struct ZTL_PLATFORM_API OsError {
  DWORD code;
};

}  // namespace ztl::os
