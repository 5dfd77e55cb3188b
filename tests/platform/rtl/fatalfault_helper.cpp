// Overflows the stack of a thread whose stack reserve is already spent while
// another thread holds the allocator: the fatal-fault path must still write
// its line and end the process with the signal, not wait for the allocator.
//
// malloc, calloc, realloc and free are replaced by ones that forward to the C
// library's own; once the holding thread has taken the allocator, any other
// thread that allocates waits forever, as it would on a real lock held by a
// thread that never comes back.
//
// Exit codes: 77 when built with a sanitizer (its allocator cannot be
// replaced), 2 when the overflow did not happen; otherwise the process ends
// by SIGSEGV.
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <exception>
#include <thread>

#include "platform/rtl/ExceptionSupport.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZTL_HELPER_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZTL_HELPER_SANITIZED 1
#endif
#endif

#ifndef ZTL_HELPER_SANITIZED

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* block, size_t size);
extern "C" void __libc_free(void* block);

namespace {

std::atomic<bool> allocatorHeld{false};
thread_local bool holdsAllocator = false;

void WaitIfHeld() {
  if (!allocatorHeld.load() || holdsAllocator) return;
  for (;;) pause();
}

}  // namespace

extern "C" void* malloc(size_t size) {
  WaitIfHeld();
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  WaitIfHeld();
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, size_t size) {
  WaitIfHeld();
  return __libc_realloc(block, size);
}
extern "C" void free(void* block) {
  WaitIfHeld();
  __libc_free(block);
}

namespace {

// Called through a pointer, so that the compiler keeps the handlers around
// each call (see ExceptionSupport.h, Limits).
int Recurse(int depth);
int (*volatile recurse)(int) = &Recurse;
volatile int recursionLimit = 1 << 30;

__attribute__((noinline)) int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (depth >= recursionLimit) return frame[0];
  return recurse(depth + 1) + frame[0];
}

void ReportHook(ztl::Exception& exception, void*) {
  const ztl::String& name = exception.ClassType()->ClassName();
  ssize_t ignored = write(STDERR_FILENO, "hook: ", 6);
  ignored = write(STDERR_FILENO, name.data(), name.size());
  ignored = write(STDERR_FILENO, "\n", 1);
  (void)ignored;
}

}  // namespace

int main() {
  ztl::SetFatalFaultHook(&ReportHook);
  enum { running, caught, noOverflow };
  std::atomic<int> state{running};
  std::thread worker([&] {
    ztl::TFaultStack faultStack;
    std::exception_ptr kept;  // keeps the stack reserve spent
    try {
      Recurse(0);
    } catch (const ztl::EStackOverflow&) {
      kept = std::current_exception();
    }
    if (!kept) {
      state = noOverflow;
      return;
    }
    state = caught;
    while (!allocatorHeld.load()) std::this_thread::yield();
    Recurse(0);  // no reserve left: the fatal path, with the allocator held
  });
  while (state.load() == running) std::this_thread::yield();
  if (state.load() == caught) {
    holdsAllocator = true;
    allocatorHeld = true;
  }
  worker.join();  // returns only when there was no overflow
  return 2;
}

#else

int main() { return 77; }

#endif
