// No single allocation in these tests may reach a gigabyte: a reader that
// trusts a size read from a file gets std::bad_alloc here instead of taking
// the machine's memory.
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kLargestAllocation = std::size_t{1} << 30;

void* Allocate(std::size_t size) {
  if (size >= kLargestAllocation) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
