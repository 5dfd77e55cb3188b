#pragma once
// Raising on a caller's behalf, for the run-time library's own routines
// (RaiseLastOSError, the fault raise routine). Not exported: code outside the
// platform library that needs the same declares it through
// platform/rtl/Testing.h.
#include <ztlogger/platform/rtl/ThrowSites.h>

namespace ztl::internal {

// Runs on the thread that destroys a thrown object, after its destructor.
using TRaiseReleaseHook = void (*)();

// The calling thread's next raise records `address` instead of the address
// of its throw expression; `onRelease`, when given, runs once the object of
// that raise is destroyed. `stackStart`, when given, is a code address of a
// frame further out on the raising thread's stack (a fault's instruction,
// whose frame the unwinder reaches through the fault routine's signal
// frame): the raise's call stack starts there, without the raise routine's
// own frames.
void SetNextRaiseSite(void* address, TRaiseReleaseHook onRelease = nullptr, void* stackStart = nullptr);

// Throws `exception` as if raised from `address`.
template <typename E>
[[noreturn]] void RaiseFor(E exception, void* address, TRaiseReleaseHook onRelease = nullptr,
                           void* stackStart = nullptr) {
  SetNextRaiseSite(address, onRelease, stackStart);
  throw exception;
}

}  // namespace ztl::internal
