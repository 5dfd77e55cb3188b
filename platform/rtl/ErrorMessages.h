#pragma once
// Descriptions of errors: the standard one-paragraph text of an exception,
// the system's message for an error code, and raising a failed
// operating-system call as EOSError.
//
// Any thread; the last error is the calling thread's own.
#include <cstdint>

#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

// Fills `buffer` with the standard one-paragraph description of an exception
// (its class, the module and the module-relative address it was raised from,
// and its message), cut to `size` characters including the terminating null
// (never in the middle of a UTF-8 sequence). Returns the length written.
ZTL_PLATFORM_API int ExceptionErrorMessage(TObject* exceptObject, void* exceptAddr, char* buffer, int size);

// The system's message for an error code.
ZTL_PLATFORM_API String SysErrorMessage(uint32_t errorCode);
// Raise EOSError with the system's message and the thread's last error code
// (or the given code). The raise address is the caller's.
[[noreturn]] ZTL_PLATFORM_API void RaiseLastOSError();
[[noreturn]] ZTL_PLATFORM_API void RaiseLastOSError(uint32_t errorCode);
[[noreturn]] ZTL_PLATFORM_API void RaiseLastWin32Error();

}  // namespace ztl
