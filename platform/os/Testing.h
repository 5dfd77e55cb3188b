#pragma once
// Entry points for tests of the services and of code built on them; an
// application has no use for them.
#include <cstdint>
#include <string>

#include <ztlogger/platform/os/messages/Format.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl::os {

// The time ReportEventW stamps on the records it writes, in seconds since
// 1 January 1970 (UTC), for this process; 0 goes back to the clock.
ZTL_PLATFORM_API void SetEventLogTimeForTesting(uint32_t seconds);

// How long a writer of an event log opened from now on waits for another
// writer before it fails, in milliseconds; 0 goes back to the 5 seconds.
ZTL_PLATFORM_API void SetEventLogWriterWaitForTesting(int milliseconds);

// The text FormatMessageW gives for a prepared template with an argument
// array of at least message.highestInsert strings.
ZTL_PLATFORM_API std::u16string FormatPreparedForTesting(const PreparedMessage& message, const DWORD_PTR* arguments);

}  // namespace ztl::os
