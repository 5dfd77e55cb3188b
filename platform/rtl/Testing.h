#pragma once
// Entry points for tests of the run-time library and of code built on it; an
// application has no use for them.
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

// The calling thread's next raise records `address` as its raise address
// instead of the address of the throw expression: lets a test place a raise
// at a chosen address (a map file's line, a module offset).
ZTL_PLATFORM_API void SetNextRaiseAddress(void* address);

// Throws `exception` with `address` as its raise address.
template <typename E>
[[noreturn]] void RaiseAt(E exception, void* address) {
  SetNextRaiseAddress(address);
  throw exception;
}

}  // namespace ztl
