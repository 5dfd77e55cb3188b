#pragma once
// Last-chance reports: what reaches no handler anywhere in the process is
// still reported by the most recent active exception logger before the
// process ends.
//
// - An exception that reaches no handler (in main outside the message loop,
//   in a std::thread, during static destruction, or at a call the compiler
//   took as unable to throw, such as a C library function reached with a
//   bad pointer) ends in std::terminate: the logger writes its full report
//   (without a dialog), one line on the standard error says where it went,
//   and the process ends as it would have (SIGABRT, status 134).
// - An exception that ends a TThread's Execute is reported the same way on
//   the main thread; the process goes on.
// - A fatal signal that cannot become an exception (abort(), a fault with no
//   room to raise it) gets a reduced report written without allocating:
//   class, message, address, and the module that holds it with the offset
//   from the module's load address.
// - However many threads reach the last chance at once, the first one
//   reports; the others wait, without allocating, for it to end the process
//   as its crash ends it. A crash inside that thread's own report writer
//   ends the process with the reduced report on the standard error.
// - A report the log cannot take (a folder that is not there, a full disk)
//   goes to the standard error: a line that says why, with the failing
//   call's error text, and the reduced report.
//
// Any thread may reach the last chance; loggers enlist and withdraw on the
// main thread.
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl {

class TZTExceptionLog;

namespace lastchance {

// A logger made at run time offers itself; the most recent one reports.
void Enlist(TZTExceptionLog* logger);
void Withdraw(TZTExceptionLog* logger);

}  // namespace lastchance
}  // namespace ztl
