// Hardware faults in handlers run from the message loop, logged with their
// class and the faulting source line from the test program's own map. Each
// case runs in a child process, so that a fault handled wrongly cannot take
// the test runner down.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "exceptionlog/LogError.h"
#include "platform/forms/Testing.h"
#include "platform/rtl/ExceptionSupport.h"
#include "platform/rtl/SysUtils.h"
#include "tests/support/TestDir.h"

namespace ztl {
namespace {

volatile int sink = 0;

// The faults are meant: the undefined-behaviour sanitizer must not stop them
// before the hardware does.

__attribute__((noinline, no_sanitize("undefined"))) void ReadThroughNull() {
  int* volatile none = nullptr;
  sink = *none;
}
constexpr int kReadLine = __LINE__ - 2;

__attribute__((noinline, no_sanitize("undefined"))) void DivideByZero() {
  volatile int zero = 0;
  sink = 100 / zero;
}
constexpr int kDivideLine = __LINE__ - 2;

// Called through a pointer the compiler cannot follow, so the recursion
// stays real (and is not reported as one).
int RecurseForever(int depth);
int (*volatile recurse)(int) = &RecurseForever;

__attribute__((noinline)) int RecurseForever(int depth) {
  volatile char frame[512];
  frame[depth % 512] = static_cast<char>(depth);
  return recurse(depth + 1) + frame[0];
}

// Runs the fault twice in the message loop with a logger and checks both
// reports and that the loop went on after each: what went wrong, or an empty
// text when all holds. The log's folder is gone when it returns.
String FaultsLogged(const std::function<void()>& fault, const String& className, const String& procedure, int line) {
  test::TestDir dir;
  InstallFaultHandlers();
  ResetApplicationState();
  TZTExceptionLog log(nullptr);
  log.SetActive(true);
  log.SetLogFile(dir.File("faults.log"));
  log.SetErrorDialog(edNone);
  log.SetFormats({lfExceptionClassName, lfSourceLine});
  int wentOn = 0;
  for (int round = 0; round < 2; ++round) {
    Application->QueueCall(fault);
    Application->QueueCall([&] { ++wentOn; });
    Application->ProcessMessages();
  }
  if (wentOn != 2) return "the loop did not go on";
  const String text = test::ReadFileBytes(dir.File("faults.log"));
  String report = "\r\nClassname: " + className + " \r\n\r\nUnit: ExceptionFaults_test\r\nProcedure: ";
  const size_t first = text.find(report);
  if (first == String::npos) return "no report of " + className + " in:\n" + text;
  if (text.find(report, first + 1) == String::npos) return "one report only:\n" + text;
  if (text.find(procedure) == String::npos) return "procedure " + procedure + " missing:\n" + text;
  if (line > 0 && text.find("Line No: " + IntToStr(line) + " ") == String::npos) return "wrong line:\n" + text;
  return {};
}

// In the child: exits 0 when the faults were logged, else 1 with the reason
// on the standard error.
[[noreturn]] void LogFaultsInChild(const std::function<void()>& fault, const String& className,
                                   const String& procedure, int line) {
  const String failure = FaultsLogged(fault, className, procedure, line);
  if (!failure.empty()) std::fprintf(stderr, "%s\n", failure.c_str());
  std::exit(failure.empty() ? 0 : 1);
}

TEST(ExceptionFaults, ANullReadIsLoggedAsAccessViolationAtItsLine) {
  EXPECT_EXIT(LogFaultsInChild(ReadThroughNull, "EAccessViolation", "ReadThroughNull()", kReadLine),
              ::testing::ExitedWithCode(0), "");
}

TEST(ExceptionFaults, AnIntegerDivisionByZeroIsLoggedAsDivByZeroAtItsLine) {
  EXPECT_EXIT(LogFaultsInChild(DivideByZero, "EDivByZero", "DivideByZero()", kDivideLine),
              ::testing::ExitedWithCode(0), "");
}

TEST(ExceptionFaults, AStackOverflowIsLoggedInTheRecursingFunction) {
  EXPECT_EXIT(LogFaultsInChild([] { sink = RecurseForever(0); }, "EStackOverflow", "RecurseForever(int)", 0),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ztl
