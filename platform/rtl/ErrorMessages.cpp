#include <ztlogger/platform/rtl/ErrorMessages.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/os/messages/Format.h>
#include <ztlogger/platform/os/messages/SystemTexts.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/ThrowSitesInternal.h>
#include <ztlogger/platform/rtl/Unicode.h>

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

}  // namespace

int ExceptionErrorMessage(TObject* exceptObject, void* exceptAddr, char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  uintptr_t offset = 0;
  String module = ModuleOf(exceptAddr, offset);
  String className = exceptObject ? exceptObject->ClassName() : String("Exception");
  auto* exception = dynamic_cast<Exception*>(exceptObject);
  String text = "Exception " + className + " in module " + module + " at " + AddressHex(offset) + "." +
                (exception && !exception->Message().empty() ? " " + exception->Message() : String());
  size_t length = unicode::Utf8Prefix(text, static_cast<size_t>(size) - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = 0;
  return static_cast<int>(length);
}

String SysErrorMessage(DWORD errorCode) {
  if (const char* text = os::SystemMessageText(errorCode)) return text;
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
