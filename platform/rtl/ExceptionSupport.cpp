#include "platform/rtl/ExceptionSupport.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <unistd.h>
#include <unwind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <typeindex>
#include <unordered_map>

#include "platform/classes/ClassBuilder.h"
#include "platform/rtl/SysUtils.h"

namespace ztl {

ZTL_DEFINE_CLASS(EForeignException, Exception)

// ---------------------------------------------------------------------------
// Raise addresses and converted foreign exceptions, per thrown object.

namespace {

using DestructorFn = void (*)(void*);

struct ThrowRecord {
  void* address = nullptr;
  DestructorFn destructor = nullptr;
  std::unique_ptr<Exception> converted;
  bool restoresStackReserve = false;
};

// Keyed by the thrown object. Global rather than per thread: an exception_ptr
// may carry the object to another thread, where it is destroyed.
class ThrowRegistry {
 public:
  void Add(void* object, void* address, DestructorFn destructor, bool restoresStackReserve) {
    std::lock_guard<std::mutex> lock(mutex_);
    ThrowRecord& record = records_[object];
    record.address = address;
    record.destructor = destructor;
    record.converted.reset();
    record.restoresStackReserve = restoresStackReserve;
  }

  // Removes the record of an object being destroyed.
  ThrowRecord Take(void* object) {
    std::lock_guard<std::mutex> lock(mutex_);
    ThrowRecord record;
    auto it = records_.find(object);
    if (it == records_.end()) return record;
    record = std::move(it->second);
    records_.erase(it);
    return record;
  }

  bool Find(void* object, void*& address) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = records_.find(object);
    if (it == records_.end()) return false;
    address = it->second.address;
    return true;
  }

  // The converted object of `object`, storing `made` when there is none yet.
  // Returns nullptr (leaving `made` alone) for an object without a record.
  Exception* Converted(void* object, std::unique_ptr<Exception>& made) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = records_.find(object);
    if (it == records_.end()) return nullptr;
    if (!it->second.converted) it->second.converted = std::move(made);
    return it->second.converted.get();
  }

 private:
  std::mutex mutex_;
  std::unordered_map<void*, ThrowRecord> records_;
};

// Never destroyed: exception objects may outlive static destruction.
ThrowRegistry& Registry() {
  static ThrowRegistry* const registry = new ThrowRegistry;
  return *registry;
}

thread_local void* nextRaiseAddress = nullptr;
thread_local bool nextRaiseRestoresReserve = false;

// The thrown object of an exception_ptr. libstdc++ keeps exactly that pointer
// as the exception_ptr's only member.
void* ThrownObject(const std::exception_ptr& exception) {
  static_assert(sizeof(std::exception_ptr) == sizeof(void*));
  void* object;
  std::memcpy(&object, static_cast<const void*>(&exception), sizeof object);
  return object;
}

void* ModuleBaseOf(const void* address) {
  Dl_info info;
  if (!address || !dladdr(address, &info)) return nullptr;
  return info.dli_fbase;
}

void* OwnModuleBase() {
  static void* const base = ModuleBaseOf(reinterpret_cast<const void*>(&OwnModuleBase));
  return base;
}

using ThrowFn = void (*)(void*, std::type_info*, DestructorFn);
using InitPrimaryFn = __cxxabiv1::__cxa_refcounted_exception* (*)(void*, std::type_info*, DestructorFn);

template <typename Fn>
Fn NextDefinition(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  if (!symbol) {
    std::fprintf(stderr, "ztl: the C++ runtime's %s cannot be found\n", name);
    std::abort();
  }
  return reinterpret_cast<Fn>(symbol);
}

// The module whose __cxa_throw comes first in symbol lookup when it is not
// the platform: a sanitizer runtime wrapping the C++ runtime's throw. Its
// frame sits between the throw expression and the platform's __cxa_throw.
void* WrapperModuleBase() {
  static void* const base = [] {
    void* first = ModuleBaseOf(dlsym(RTLD_DEFAULT, "__cxa_throw"));
    return first == OwnModuleBase() ? nullptr : first;
  }();
  return base;
}

struct FrameSearch {
  void* found = nullptr;
};

_Unwind_Reason_Code SkipThrowFrames(_Unwind_Context* context, void* argument) {
  auto* search = static_cast<FrameSearch*>(argument);
  void* ip = reinterpret_cast<void*>(_Unwind_GetIP(context));
  void* base = ModuleBaseOf(ip);
  if (base == OwnModuleBase() || base == WrapperModuleBase()) return _URC_NO_REASON;
  search->found = ip;
  return _URC_END_OF_STACK;
}

// The address of the throw expression, given the return address of the
// platform's __cxa_throw.
void* ThrowSite(void* returnAddress) {
  if (!WrapperModuleBase() || ModuleBaseOf(returnAddress) != WrapperModuleBase()) return returnAddress;
  FrameSearch search;
  _Unwind_Backtrace(&SkipThrowFrames, &search);
  return search.found ? search.found : returnAddress;
}

// Installed as the destructor of every thrown object: forgets its record.
void ForgetThrownObject(void* object) {
  ThrowRecord record = Registry().Take(object);
  if (record.destructor) record.destructor(object);
}

void RecordThrow(void* object, void* returnAddress, DestructorFn destructor) {
  void* address = nextRaiseAddress ? nextRaiseAddress : ThrowSite(returnAddress);
  bool restoresReserve = nextRaiseRestoresReserve;
  nextRaiseAddress = nullptr;
  nextRaiseRestoresReserve = false;
  Registry().Add(object, address, destructor, restoresReserve);
}

String DemangledName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                   &std::free);
  return status == 0 && name ? String(name.get()) : String(type.name());
}

// A framework exception standing for a thrown value of another type.
std::unique_ptr<Exception> ConvertForeign(const std::exception_ptr& exception) {
  String message;
  const std::type_info* type = nullptr;
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& e) {
    message = e.what();
    type = abi::__cxa_current_exception_type();
  } catch (const char* text) {
    message = text ? text : "";
    type = abi::__cxa_current_exception_type();
  } catch (const String& text) {
    message = text;
    type = abi::__cxa_current_exception_type();
  } catch (...) {
    type = abi::__cxa_current_exception_type();
    message = type ? DemangledName(*type) : String("unknown exception");
  }
  TClass cls = type ? ForeignExceptionClass(*type) : EForeignException::StaticClass();
  return std::make_unique<EForeignException>(message, cls);
}

// Conversions of objects thrown past the platform's __cxa_throw (when it is
// not the one in use): kept until the thread converts another one.
thread_local void* unrecordedObject = nullptr;
thread_local std::unique_ptr<Exception> unrecordedConversion;

}  // namespace

void SetNextRaiseAddress(void* address) { nextRaiseAddress = address; }

bool ThrowSitesRecorded() {
  return ModuleBaseOf(dlsym(RTLD_DEFAULT, "__cxa_throw")) == OwnModuleBase() || WrapperModuleBase() != nullptr;
}

TClass ForeignExceptionClass(const std::type_info& type) {
  static std::mutex mutex;
  static auto* classes = new std::map<std::type_index, TClass>;
  std::lock_guard<std::mutex> lock(mutex);
  TClass& cls = (*classes)[std::type_index(type)];
  if (!cls) cls = new TMetaClass(DemangledName(type), EForeignException::StaticClass(), nullptr, {}, {}, {});
  return cls;
}

Exception* ExceptionObjectOf(const std::exception_ptr& exception) {
  if (!exception) return nullptr;
  try {
    std::rethrow_exception(exception);
  } catch (Exception& e) {
    return &e;
  } catch (...) {
  }
  void* object = ThrownObject(exception);
  std::unique_ptr<Exception> made = ConvertForeign(exception);
  if (Exception* converted = Registry().Converted(object, made)) return converted;
  if (unrecordedObject != object || !unrecordedConversion) {
    unrecordedObject = object;
    unrecordedConversion = std::move(made);
  }
  return unrecordedConversion.get();
}

void* ExceptionAddressOf(const std::exception_ptr& exception) {
  void* address = nullptr;
  if (exception) Registry().Find(ThrownObject(exception), address);
  return address;
}

Exception* ExceptObject() { return ExceptionObjectOf(std::current_exception()); }

void* ExceptAddr() { return ExceptionAddressOf(std::current_exception()); }

// ---------------------------------------------------------------------------
// Descriptions and operating-system errors.

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

// The length of the longest prefix of `text` no longer than `limit` bytes that
// does not end inside a UTF-8 sequence.
size_t Utf8Prefix(const String& text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t length = limit;
  while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  return length;
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
  size_t length = Utf8Prefix(text, static_cast<size_t>(size) - 1);
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
  if (errorCode == ERROR_SUCCESS) RaiseAt(EOSError("A call to an operating-system function failed"), caller);
  RaiseAt(EOSError("System error " + IntToStr(errorCode) + ": " + SysErrorMessage(errorCode), errorCode), caller);
}

}  // namespace

// Each raises on behalf of its caller: the raise address is the caller's.
// noipa keeps identical bodies from being folded into calls of one another.
__attribute__((noipa)) void RaiseLastOSError() { RaiseOSError(GetLastError(), __builtin_return_address(0)); }
__attribute__((noipa)) void RaiseLastOSError(DWORD errorCode) { RaiseOSError(errorCode, __builtin_return_address(0)); }
__attribute__((noipa)) void RaiseLastWin32Error() { RaiseOSError(GetLastError(), __builtin_return_address(0)); }

}  // namespace ztl
// The C++ runtime's entry points for raising, wrapped. Every throw expression
// calls __cxa_throw; std::make_exception_ptr calls
// __cxa_init_primary_exception. Both keep the object's destructor in the
// exception's header, so installing ForgetThrownObject there tells when the
// object goes away.
namespace __cxxabiv1 {

extern "C" __attribute__((visibility("default"), noreturn)) void __cxa_throw(void* object, std::type_info* type,
                                                                           void (*destructor)(void*)) {
  static const ztl::ThrowFn next = ztl::NextDefinition<ztl::ThrowFn>("__cxa_throw");
  ztl::RecordThrow(object, __builtin_return_address(0), destructor);
  next(object, type, &ztl::ForgetThrownObject);
  __builtin_unreachable();
}

extern "C" __attribute__((visibility("default"))) __cxa_refcounted_exception* __cxa_init_primary_exception(
    void* object, std::type_info* type, void (*destructor)(void*)) noexcept {
  static const ztl::InitPrimaryFn next = ztl::NextDefinition<ztl::InitPrimaryFn>("__cxa_init_primary_exception");
  // The runtime's own __cxa_throw calls this too, after the platform's
  // __cxa_throw has recorded the object.
  if (destructor == &ztl::ForgetThrownObject) return next(object, type, destructor);
  ztl::RecordThrow(object, __builtin_return_address(0), destructor);
  return next(object, type, &ztl::ForgetThrownObject);
}

}  // namespace __cxxabiv1
