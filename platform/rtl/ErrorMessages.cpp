#include "platform/rtl/ErrorMessages.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/os/WinTypes.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/ThrowSitesInternal.h"
#include "platform/rtl/Unicode.h"

namespace ztl {

namespace {

String ExecutableName() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "?";
  path[length] = 0;
  return ExtractFileName(path);
}

// The module holding `address` and the address relative to its base.
String ModuleOf(const void* address, uintptr_t& offset) {
  Dl_info info;
  offset = reinterpret_cast<uintptr_t>(address);
  if (!address || !dladdr(address, &info) || !info.dli_fname) return ExecutableName();
  offset -= reinterpret_cast<uintptr_t>(info.dli_fbase);
  String name = ExtractFileName(info.dli_fname);
  return name.empty() ? ExecutableName() : name;
}

// An address as sixteen upper-case hexadecimal digits.
String AddressHex(uintptr_t value) {
  char text[2 * sizeof value + 1];
  std::snprintf(text, sizeof text, "%016lX", static_cast<unsigned long>(value));
  return text;
}

struct SystemMessage {
  DWORD code;
  const char* text;
};

// The system's texts for the error codes the platform produces.
constexpr SystemMessage systemMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {ERROR_WRITE_PROTECT, "The media is write protected."},
    {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process."},
    {ERROR_LOCK_VIOLATION,
     "The process cannot access the file because another process has locked a portion of the file."},
    {ERROR_HANDLE_EOF, "Reached the end of the file."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_BUFFER_OVERFLOW, "The file name is too long."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_DIRECTORY, "The directory name is invalid."},
    {ERROR_NOT_FOUND, "Element not found."},
};

}  // namespace

int ExceptionErrorMessage(TObject* exceptObject, void* exceptAddr, char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  uintptr_t offset = 0;
  String module = ModuleOf(exceptAddr, offset);
  String className = exceptObject ? exceptObject->ClassName() : String("Exception");
  auto* exception = dynamic_cast<Exception*>(exceptObject);
  String text = "Exception " + className + " in module " + module + " at " + AddressHex(offset) +
                "." + (exception && !exception->Message().empty() ? " " + exception->Message() : String());
  size_t length = unicode::Utf8Prefix(text, static_cast<size_t>(size) - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = 0;
  return static_cast<int>(length);
}

String SysErrorMessage(DWORD errorCode) {
  for (const SystemMessage& m : systemMessages)
    if (m.code == errorCode) return m.text;
  return "Unknown error " + IntToStr(errorCode) + ".";
}

namespace {

[[noreturn]] void RaiseOSError(DWORD errorCode, void* caller) {
  if (errorCode == ERROR_SUCCESS) internal::RaiseFor(EOSError("A call to an operating-system function failed"), caller);
  internal::RaiseFor(EOSError("System error " + IntToStr(errorCode) + ": " + SysErrorMessage(errorCode), errorCode),
                     caller);
}

}  // namespace

// Each raises on behalf of its caller: the raise address is the caller's.
// GCC's noipa keeps identical bodies from being folded into calls of one
// another; Clang folds no functions by default, and has no noipa.
#if defined(__clang__)
#define ZTL_RAISES_FOR_CALLER __attribute__((noinline))
#else
#define ZTL_RAISES_FOR_CALLER __attribute__((noipa))
#endif
ZTL_RAISES_FOR_CALLER void RaiseLastOSError() { RaiseOSError(GetLastError(), __builtin_return_address(0)); }
ZTL_RAISES_FOR_CALLER void RaiseLastOSError(DWORD errorCode) { RaiseOSError(errorCode, __builtin_return_address(0)); }
ZTL_RAISES_FOR_CALLER void RaiseLastWin32Error() { RaiseOSError(GetLastError(), __builtin_return_address(0)); }
#undef ZTL_RAISES_FOR_CALLER

}  // namespace ztl
