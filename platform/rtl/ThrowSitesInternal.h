#pragma once
// Raising on a caller's behalf, for the run-time library's own routines
// (RaiseLastOSError, the fault raise routine). Not exported: code outside the
// platform library that needs the same declares it through
// platform/rtl/Testing.h.
#include "platform/rtl/ThrowSites.h"

namespace ztl::internal {

// Runs on the thread that destroys a thrown object, after its destructor.
using TRaiseReleaseHook = void (*)();

// The calling thread's next raise records `address` instead of the address
// of its throw expression; `onRelease`, when given, runs once the object of
// that raise is destroyed.
void SetNextRaiseSite(void* address, TRaiseReleaseHook onRelease = nullptr);

// Throws `exception` as if raised from `address`.
template <typename E>
[[noreturn]] void RaiseFor(E exception, void* address, TRaiseReleaseHook onRelease = nullptr) {
  SetNextRaiseSite(address, onRelease);
  throw exception;
}

}  // namespace ztl::internal
