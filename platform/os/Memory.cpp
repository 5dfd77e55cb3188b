#include <ztlogger/platform/os/Memory.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace ztl::os {

bool PrefaultForWriting(void* address, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<std::uintptr_t>(address);
  if (size == 0 || begin > UINTPTR_MAX - size) return false;
  // The partial pages at either end are shared with whoever owns the rest of
  // them: they are left to their first write.
  const std::uintptr_t first = (begin + page - 1) & ~(page - 1);
  const std::uintptr_t last = (begin + size) & ~(page - 1);
  if (last <= first) return false;
  return madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE) == 0;
#else
  (void)address;
  (void)size;
  return false;
#endif
}

}  // namespace ztl::os
