#pragma once
// Hardware faults turned into framework exceptions.
//
// After InstallFaultHandlers() a fault in code built with the platform's
// compile options (-fnon-call-exceptions, exported by its CMake target) is
// raised as a framework exception, as if thrown by the faulting instruction,
// whose address becomes the raise address:
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
// fatal-fault hook, allocating nothing, and the process ends with the signal.
// That is what a stack overflow does in a thread without a TFaultStack: once
// the handlers are installed, every thread that starts (std::thread and other
// libraries' threads included) gets an alternate signal stack, so that the
// line is written there too.
//
// Sanitizers: AddressSanitizer lets a program install its own SIGSEGV handler
// (allow_user_segv_handler, on by default), so the handlers are installed in
// sanitizer builds as well and take over from the sanitizer's: a fault is
// then an exception there too, not a sanitizer report. No ASAN_OPTIONS are
// needed. Under UndefinedBehaviorSanitizer a null dereference or a division
// by zero in C++ code is reported before the processor faults; code that
// wants the fault must be exempt (no_sanitize("undefined")).
//
// Any thread: installing acts for the process, a TFaultStack for its thread.
#include <memory>

#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

// Installs the hardware fault handlers for the process and an alternate
// signal stack and stack reserve for the calling thread (normally the main
// thread). Calling it again does nothing.
ZTL_PLATFORM_API void InstallFaultHandlers();
// Whether the fault handlers are installed.
ZTL_PLATFORM_API bool FaultHandlersInstalled();

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
  std::unique_ptr<Impl> impl_;
};

// Called on the alternate signal stack when a fault cannot be raised as an
// exception (see Stack overflow above), just before the process ends: a last
// chance to write a report. It runs inside the signal handler, maybe while
// another thread holds the allocator's or stdio's lock, so it may only make
// async-signal-safe calls (write, open, close, ...): no allocation, no
// stdio, no locks, no throw. `exception` was made in advance (an
// EStackOverflow, or an EAccessViolation for a fault inside the fault
// handler) and `address` is where the fault happened.
// Returns true when it has told the standard error where its report went:
// the platform's own line about the fault is then left out, so that the user
// reads one line. Otherwise that line follows the hook.
using TFatalFaultHook = bool (*)(Exception& exception, void* address);
ZTL_PLATFORM_API void SetFatalFaultHook(TFatalFaultHook hook);

}  // namespace ztl
