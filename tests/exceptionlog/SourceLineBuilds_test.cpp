// The source line of a throw statement and of a faulting statement, as the
// report names it, in code generated as each build type generates it: the
// same program built at -O0 -g, -O2 -g and -O3 with only the line tables
// that ztl_add_map_file adds (tests/exceptionlog/sourceline).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "platform/rtl/SysUtils.h"
#include "platform/rtl/Testing.h"
#include "tests/support/TestDir.h"

namespace ztl {
namespace {

struct Build {
  const char* Name;
  const char* Program;
};

// The program's standard output; empty when it did not end with status 0.
String RunProgram(const String& program, const String& logFile) {
  const String command = "'" + program + "' '" + logFile + "'";
  String output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[256];
  for (size_t count; (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, count);
  const int status = pclose(pipe);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? output : String();
}

// The number after "key " in the program's output, or -1.
int Expected(const String& output, const String& key) {
  const size_t at = output.find(key + " ");
  return at == String::npos ? -1 : StrToIntDef(output.substr(at + key.size() + 1, output.find('\n', at) - at - key.size() - 1), -1);
}

// The line the report of className names, or -1 when there is none.
int ReportedLine(const String& log, const String& className) {
  const size_t report = log.find("Classname: " + className + " ");
  if (report == String::npos) return -1;
  const size_t next = log.find("Classname: ", report + 1);
  const size_t line = log.find("Line No: ", report);
  if (line == String::npos || line > next) return -1;
  return StrToIntDef(log.substr(line + 9, log.find(' ', line + 9) - line - 9), -1);
}

class SourceLineBuilds : public ::testing::TestWithParam<Build> {};

TEST_P(SourceLineBuilds, ReportTheThrowStatementsAndTheFaultingStatementsLine) {
  test::TestDir dir;
  const String log = dir.File("errors.log");
  const String output = RunProgram(GetParam().Program, log);
  ASSERT_FALSE(output.empty()) << GetParam().Program << " failed";
  const String text = test::ReadFileBytes(log);
  const int throwLine = Expected(output, "throw");
  const int faultLine = Expected(output, "fault");
  ASSERT_GT(throwLine, 0) << output;
  ASSERT_GT(faultLine, 0) << output;
  EXPECT_EQ(ReportedLine(text, "EConvertError"), throwLine) << text;
  EXPECT_EQ(ReportedLine(text, "EAccessViolation"), faultLine) << text;
  EXPECT_NE(text.find("Procedure: (anonymous namespace)::ThrowIfNegative(int)"), String::npos) << text;
  EXPECT_NE(text.find("Procedure: (anonymous namespace)::ReadThroughNull()"), String::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(BuildTypes, SourceLineBuilds,
                         ::testing::Values(Build{"Debug", ZTL_SOURCE_LINES_DEBUG},
                                           Build{"RelWithDebInfo", ZTL_SOURCE_LINES_RELWITHDEBINFO},
                                           Build{"Release", ZTL_SOURCE_LINES_RELEASE}),
                         [](const auto& info) { return String(info.param.Name); });

}  // namespace
}  // namespace ztl
