// Hardware faults in handlers run from the message loop, logged with their
// class and the faulting source line from the test program's own map. Each
// case runs in a child process, so that a fault handled wrongly cannot take
// the test runner down.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <vector>

#include "tests/support/TestDir.h"
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/SysUtils.h>

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

// Three calls deep, ReadThroughNull innermost. The statement after each call
// keeps it a call (not a jump), so that every frame stays on the stack.
__attribute__((noinline)) void SaveOrder() {
  ReadThroughNull();
  sink = sink + 1;
}
constexpr int kSaveLine = __LINE__ - 3;

__attribute__((noinline)) void PostOrder() {
  SaveOrder();
  sink = sink + 1;
}
constexpr int kPostLine = __LINE__ - 3;

// A throw inside the C++ runtime: std::vector::at past the end.
std::vector<int> few(2);
volatile size_t pastTheEnd = 5;
__attribute__((noinline)) void ReadPastTheEnd() {
  sink = few.at(pastTheEnd);
  sink = sink + 1;
}
constexpr int kAtLine = __LINE__ - 3;

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

// ---------------------------------------------------------------- call stacks

// A frame with a line is the test program's, at that procedure and line;
// one without is another module's, named in `procedure`.
struct Frame {
  String procedure;
  int line;
};

// The frame lines of a report's call stack, in either form.
std::vector<String> FrameLines(const String& report, TZTLogFormatting form) {
  std::vector<String> lines;
  if (form == ztlfXML) {
    for (size_t at = report.find("<FRAME>"); at != String::npos; at = report.find("<FRAME>", at + 1))
      lines.push_back(report.substr(at + 7, report.find("</FRAME>", at) - at - 7));
    return lines;
  }
  const size_t start = report.find("Call stack:");
  if (start == String::npos) return lines;
  const size_t end = report.find(" \r\n", start);
  for (size_t at = report.find("\r\n", start); at < end; at = report.find("\r\n", at + 2))
    lines.push_back(report.substr(at + 2, std::min(report.find("\r\n", at + 2), end) - at - 2));
  return lines;
}

// Raises once in the message loop with a logger that keeps call stacks and
// checks that the stack's innermost frames are `expected`: what went wrong,
// or an empty text when all holds.
String StackLogged(const std::function<void()>& raise, TZTLogFormatting form, const std::vector<Frame>& expected) {
  test::TestDir dir;
  InstallFaultHandlers();
  ResetApplicationState();
  TZTExceptionLog log(nullptr);
  log.SetActive(true);
  log.SetFormatting(form);
  log.SetLogFile(dir.File("stack.log"));
  log.SetErrorDialog(edNone);
  log.SetFormats({lfExceptionClassName});
  log.SetCallStack(true);
  Application->QueueCall(raise);
  Application->ProcessMessages();
  const String report = test::ReadFileBytes(dir.File("stack.log"));
  const std::vector<String> lines = FrameLines(report, form);
  if (lines.size() < expected.size()) return "too few frames in:\n" + report;
  for (size_t i = 0; i < expected.size(); ++i) {
    const String& line = lines[i];
    const bool own = line.find(" ExceptionFaults_test ") != String::npos;
    if (expected[i].line == 0) {
      if (own || line.find(" " + expected[i].procedure) == String::npos)
        return "frame " + IntToStr(static_cast<int>(i)) + " is not in " + expected[i].procedure + ":\n" + report;
      continue;
    }
    if (!own || line.find(expected[i].procedure) == String::npos ||
        line.substr(line.size() - IntToStr(expected[i].line).size() - 6) != " line " + IntToStr(expected[i].line))
      return "frame " + IntToStr(static_cast<int>(i)) + " is not " + expected[i].procedure + " line " +
             IntToStr(expected[i].line) + ":\n" + report;
  }
  return {};
}

[[noreturn]] void CheckStackInChild(const std::function<void()>& raise, const std::vector<Frame>& expected) {
  String failure;
  for (TZTLogFormatting form : {ztlfText, ztlfXML})
    if (failure.empty()) failure = StackLogged(raise, form, expected);
  if (!failure.empty()) std::fprintf(stderr, "%s\n", failure.c_str());
  std::exit(failure.empty() ? 0 : 1);
}

TEST(ExceptionFaults, AFaultsCallStackStartsAtTheFaultingLineWithItsCallersInBothForms) {
  EXPECT_EXIT(
      CheckStackInChild(PostOrder,
                        {{"ReadThroughNull()", kReadLine}, {"SaveOrder()", kSaveLine}, {"PostOrder()", kPostLine}}),
      ::testing::ExitedWithCode(0), "");
}

TEST(ExceptionFaults, AThrowInsideTheCppRuntimeHasItsCallerNextInBothForms) {
  EXPECT_EXIT(CheckStackInChild(ReadPastTheEnd, {{"libstdc++", 0}, {"ReadPastTheEnd()", kAtLine}}),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ztl
