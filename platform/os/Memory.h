#pragma once
// Memory the process is about to fill: its pages backed in one step rather
// than by a fault on the first write to each.
// Any thread.
#include <cstddef>

#include <ztlogger/platform/rtl/Export.h>

namespace ztl::os {

// Backs the whole pages of [address, address + size) with memory now, ready
// for writing, as a first write to each would; the contents stay as they are.
// For private, writable memory the caller owns and will fill soon (a fresh
// block of rows): a fault per page costs several times the page's share of
// one call. False where the system cannot do it ahead; the pages then come
// at their first write as usual, so a caller may go on either way.
ZTL_PLATFORM_API bool PrefaultForWriting(void* address, std::size_t size);

}  // namespace ztl::os
