// Overflows the stack of a thread while another thread holds the allocator:
// the fatal-fault path must still write its line and end the process with the
// signal, not wait for the allocator. "spent-reserve": a thread with a fault
// stack whose reserve is already spent; "plain-thread": a std::thread the
// framework did not set up (no fault stack).
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
#include <string_view>
#include <thread>

#include <ztlogger/platform/rtl/ExceptionSupport.h>

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

// Writes a mark, not a report's place: the platform's own line follows.
bool ReportHook(ztl::Exception& exception, void*) {
  const ztl::String& name = exception.ClassType()->ClassName();
  ssize_t ignored = write(STDERR_FILENO, "hook: ", 6);
  ignored = write(STDERR_FILENO, name.data(), name.size());
  ignored = write(STDERR_FILENO, "\n", 1);
  (void)ignored;
  return false;
}

// Overflows once with a fault stack and keeps the exception, so that the
// reserve stays spent; then overflows again once the allocator is held.
void OverflowWithSpentReserve(std::atomic<int>& state) {
  ztl::TFaultStack faultStack;
  std::exception_ptr kept;
  try {
    Recurse(0);
  } catch (const ztl::EStackOverflow&) {
    kept = std::current_exception();
  }
  if (!kept) {
    state = 2;
    return;
  }
  state = 1;
  while (!allocatorHeld.load()) std::this_thread::yield();
  Recurse(0);
}

void OverflowWithoutFaultStack(std::atomic<int>& state) {
  state = 1;
  while (!allocatorHeld.load()) std::this_thread::yield();
  Recurse(0);
}

}  // namespace

int main(int argc, char** argv) {
  const bool plainThread = argc > 1 && std::string_view(argv[1]) == "plain-thread";
  ztl::InstallFaultHandlers();
  ztl::SetFatalFaultHook(&ReportHook);
  std::atomic<int> state{0};  // 1: about to overflow, 2: no overflow
  std::thread worker([&] { plainThread ? OverflowWithoutFaultStack(state) : OverflowWithSpentReserve(state); });
  while (state.load() == 0) std::this_thread::yield();
  if (state.load() == 1) {
    holdsAllocator = true;
    allocatorHeld = true;
  }
  worker.join();  // returns only when there was no overflow
  return 2;
}

#else

int main() { return 77; }

#endif
