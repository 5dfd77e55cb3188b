#pragma once
// The framework's basic types.
// Types only: any thread may use them.
#include <cstdint>
#include <string>

namespace ztl {

// Text in memory is UTF-8; conversion to UTF-16 happens at the boundary of
// the operating-system services.
using String = std::string;

// Days since 30 December 1899; the fraction is the time of day.
using TDateTime = double;

// 1 January 1970 as a TDateTime.
inline constexpr TDateTime UnixDateDelta = 25569.0;

}  // namespace ztl
