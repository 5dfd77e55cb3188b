#pragma once
// Where each exception was raised and what it is as a framework exception:
// the exception being handled (ExceptObject, ExceptAddr), the same for an
// exception kept in a std::exception_ptr, and foreign exceptions.
//
// Raise addresses. The platform library defines __cxa_throw, which the C++
// runtime calls for every throw expression in the process (also inside the
// runtime itself, as in std::vector::at); it records the caller's address and
// forwards to the runtime. This works because the platform is a shared
// library that precedes the C++ runtime in symbol lookup, which holds for
// every program linked the ordinary way (the compiler driver adds the C++
// runtime after the program's own libraries). ThrowSitesRecorded() tells
// whether it holds in this process. A rethrow (`throw;`) keeps the address of
// the original raise.
//
// Foreign exceptions. Inside a handler ExceptObject() always answers with a
// framework exception: for an exception that is not one (a std::exception or
// any other thrown value) it answers with an EForeignException whose class is
// named after the thrown type ("std::out_of_range") and whose message is the
// original text. That object is made once per thrown object and lives as long
// as the thrown object does, so a message loop can simply write
//
//   catch (...) { Application->HandleException(this); }
//
// and HandleException passes ExceptObject() on. ExceptionObjectOf() gives the
// same view of an exception kept in a std::exception_ptr.
//
// Call stacks. While at least one user has asked for them (BeginStackCapture,
// counted, each undone by one EndStackCapture), every raise also keeps up to
// kMaxStackFrames return addresses of the raising thread, innermost first,
// starting at the raise itself. Otherwise a raise costs no unwinding. A
// hardware fault's stack starts at the faulting instruction (the raise
// address, not a return address) and goes on with its callers.
//
// Any thread: a call answers for its own thread, or the exception_ptr given.
#include <cstddef>
#include <exception>
#include <typeinfo>
#include <utility>
#include <vector>

#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

// The framework exception handled by the innermost active handler of the
// calling thread; nullptr outside handling.
ZTL_PLATFORM_API Exception* ExceptObject();
// The code address the exception being handled was raised from; nullptr
// outside handling or when it is not known.
ZTL_PLATFORM_API void* ExceptAddr();
// Where to look up the source of the exception being handled: for a throw,
// whose raise address is the return address of its call into the runtime,
// an address inside that call (so the throw statement's own line is found,
// not the next one); a fault's or an explicitly given address as it is.
ZTL_PLATFORM_API void* ExceptSourceAddr();

// The same for an exception kept in an exception_ptr (nullptr for an empty
// one). The object lives as long as the exception does.
ZTL_PLATFORM_API Exception* ExceptionObjectOf(const std::exception_ptr& exception);
ZTL_PLATFORM_API void* ExceptionAddressOf(const std::exception_ptr& exception);

// The most return addresses a raise keeps.
inline constexpr size_t kMaxStackFrames = 32;
// Turns stack capture on for the process until the matching EndStackCapture.
// Thread-safe; raises already made keep what they had.
ZTL_PLATFORM_API void BeginStackCapture();
ZTL_PLATFORM_API void EndStackCapture();
ZTL_PLATFORM_API bool StackCaptureActive();
// The return addresses kept for the raise of the exception being handled, or
// of an exception kept in an exception_ptr; empty when none were kept (no
// capture at the raise, or a raise that went unrecorded).
ZTL_PLATFORM_API std::vector<void*> ExceptStack();
ZTL_PLATFORM_API std::vector<void*> ExceptStackOf(const std::exception_ptr& exception);

// True when the platform's __cxa_throw is the one the process uses, so that
// raise addresses are recorded.
ZTL_PLATFORM_API bool ThrowSitesRecorded();

// An exception of a type outside the framework's hierarchy, as a framework
// exception: its class is named after the thrown type (one metaclass per
// type, derived from EForeignException's) and its message is the original
// text (what() of a std::exception, the text of a thrown string, else the
// type's name).
class ZTL_PLATFORM_API EForeignException : public Exception {
 public:
  // As ZTL_DECLARE_CLASS, except that the class is the instance's own.
  using inherited = Exception;
  static TClass StaticClass();
  explicit EForeignException(String message = {}, TClass cls = nullptr)
      : Exception(std::move(message)), class_(cls) {}
  TClass ClassType() const override { return class_ ? class_ : StaticClass(); }

 private:
  TClass class_;
};

// The metaclass standing for a thrown C++ type: the framework class for a
// framework exception, else a class named after the type, derived from
// EForeignException.
ZTL_PLATFORM_API TClass ForeignExceptionClass(const std::type_info& type);

}  // namespace ztl
