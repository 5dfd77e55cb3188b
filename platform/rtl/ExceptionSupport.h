#pragma once
// Exception support: the exception being handled and where it was raised,
// the standard description of an exception, operating-system errors, and
// hardware faults turned into framework exceptions.
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
// Hardware faults. After InstallFaultHandlers() a fault in code built with the
// platform's compile options (-fnon-call-exceptions, exported by its CMake
// target) is raised as a framework exception, as if thrown by the faulting
// instruction, whose address becomes the raise address:
//   SIGSEGV, SIGBUS            EAccessViolation
//   SIGSEGV at the stack's end EStackOverflow
//   SIGSEGV by a privileged instruction, SIGILL  EPrivilege
//   SIGFPE                     EDivByZero, EIntOverflow, EZeroDivide,
//                              EOverflow, EUnderflow, EInvalidOp, EMathError
// A call or jump to a bad address is raised from the return address the call
// left (the faulting "instruction" has no code to point at). The signal
// handler runs on an alternate signal stack and never throws: it rewrites the
// interrupted context so that the thread continues in a small routine marked
// as a signal frame for the unwinder, which raises the exception. Destructors
// between the fault and the handler run as usual.
//
// Limits: the compiler drops the handlers around a call it proves unable to
// throw, and with -fnon-call-exceptions it still takes accesses to a
// function's own stack frame as unable to fault; so a fault in a function
// that makes no calls and touches only its own frame (a self-recursion, say)
// ends the program through std::terminate. Calls through pointers, calls into
// other units and accesses through pointers all count as able to throw.
// Code without unwind information (or built without -fnon-call-exceptions)
// between the fault and the handler ends the program the same way.
//
// Stack overflow. The main thread's stack keeps a reserve zone at its end:
// a mapping placed at the lowest address the stack may reach, which stops
// the stack's growth early. When the stack runs into it, the handler removes
// it, so that the raise and the unwinding have room, and the reserve is put
// back when the exception object is destroyed. Threads that hold a
// TFaultStack keep a reserve of their own (a protected band above the
// thread's guard page). Where no reserve is available (a second overflow
// before the reserve is back, an unlimited stack size) the fault cannot become
// an exception: the handler writes a line on the standard error and calls the
// fatal-fault hook, allocating nothing, and the process ends with the signal. A thread
// without a TFaultStack has no alternate signal stack at all: its stack
// overflow ends the process without a report.
//
// Sanitizers: AddressSanitizer lets a program install its own SIGSEGV handler
// (allow_user_segv_handler, on by default), so the handlers are installed in
// sanitizer builds as well and take over from the sanitizer's: a fault is
// then an exception there too, not a sanitizer report. No ASAN_OPTIONS are
// needed. Under UndefinedBehaviorSanitizer a null dereference or a division
// by zero in C++ code is reported before the processor faults; code that
// wants the fault must be exempt (no_sanitize("undefined")).
#include <cstdint>
#include <exception>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Export.h"

namespace ztl {

// The framework exception handled by the innermost active handler of the
// calling thread; nullptr outside handling.
ZTL_PLATFORM_API Exception* ExceptObject();
// The code address the exception being handled was raised from; nullptr
// outside handling or when it is not known.
ZTL_PLATFORM_API void* ExceptAddr();

// The same for an exception kept in an exception_ptr (nullptr for an empty
// one). The object lives as long as the exception does.
ZTL_PLATFORM_API Exception* ExceptionObjectOf(const std::exception_ptr& exception);
ZTL_PLATFORM_API void* ExceptionAddressOf(const std::exception_ptr& exception);

// True when the platform's __cxa_throw is the one the process uses, so that
// raise addresses are recorded.
ZTL_PLATFORM_API bool ThrowSitesRecorded();

// Throws `exception` with `address` as its raise address (instead of the
// address of the throw itself): for routines that raise on behalf of their
// caller, such as RaiseLastOSError.
ZTL_PLATFORM_API void SetNextRaiseAddress(void* address);
template <typename E>
[[noreturn]] void RaiseAt(E exception, void* address) {
  SetNextRaiseAddress(address);
  throw exception;
}

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

// Fills `buffer` with the standard one-paragraph description of an exception
// (its class, the module and the module-relative address it was raised from,
// and its message), cut to `size` characters including the terminating null
// (never in the middle of a UTF-8 sequence). Returns the length written.
ZTL_PLATFORM_API int ExceptionErrorMessage(TObject* exceptObject, void* exceptAddr, char* buffer, int size);

// The system's message for an error code.
ZTL_PLATFORM_API String SysErrorMessage(uint32_t errorCode);
// Raise EOSError with the system's message and the thread's last error code
// (or the given code).
[[noreturn]] ZTL_PLATFORM_API void RaiseLastOSError();
[[noreturn]] ZTL_PLATFORM_API void RaiseLastOSError(uint32_t errorCode);
[[noreturn]] ZTL_PLATFORM_API void RaiseLastWin32Error();

// Installs the hardware fault handlers for the process and an alternate
// signal stack and stack reserve for the calling thread (normally the main
// thread). Calling it again does nothing.
ZTL_PLATFORM_API void InstallFaultHandlers();

// Gives the calling thread an alternate signal stack and a stack reserve
// while it lives, so that faults in it, stack overflow included, become
// exceptions there too; the previous alternate stack is restored on
// destruction. Create it on the thread's own stack (e.g. first thing in
// TThread::Execute) and let it end before the thread does. Installs the
// fault handlers if that has not been done.
class ZTL_PLATFORM_API TFaultStack {
 public:
  TFaultStack();
  ~TFaultStack();
  TFaultStack(const TFaultStack&) = delete;
  TFaultStack& operator=(const TFaultStack&) = delete;

 private:
  struct Impl;
  Impl* impl_;
};

// Called on the alternate signal stack when a fault cannot be raised as an
// exception (see Stack overflow above), just before the process ends and
// after the line on the standard error: a last chance to write a report.
// It runs inside the signal handler, maybe while another thread holds the
// allocator's or stdio's lock, so it may only make async-signal-safe calls
// (write, open, close, ...): no allocation, no stdio, no locks, no throw.
// `exception` was made in advance (an EStackOverflow, or an EAccessViolation
// for a fault inside the fault handler) and `address` is where the fault
// happened.
using TFatalFaultHook = void (*)(Exception& exception, void* address);
ZTL_PLATFORM_API void SetFatalFaultHook(TFatalFaultHook hook);

}  // namespace ztl
