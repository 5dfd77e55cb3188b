// The source line of a throw statement and of a faulting statement, as the
// report names it, in code generated as each build type generates it: the
// same program built at -O0 -g, -O2 -g and -O3 with only the line tables
// that ztl_add_map_file adds (tests/exceptionlog/sourceline). A report's
// module offset pasted into ztl-mapinfo names the report's place again, for
// a fault and for a throw.
#include <gtest/gtest.h>

#include <ostream>

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Testing.h>

namespace ztl {
namespace {

struct Build {
  const char* Name;
  const char* Program;
};

void PrintTo(const Build& build, std::ostream* out) { *out << build.Name; }

// The command's standard output; empty when it did not end with status 0.
String RunCommand(const String& command) {
  const test::CommandRun run = test::RunCommandLine(command, false);
  return run.status == 0 ? run.out : String();
}

String RunProgram(const String& program, const String& logFile) {
  return RunCommand("'" + program + "' '" + logFile + "'");
}

// The number after "key " in the program's output, or -1.
int Expected(const String& output, const String& key) {
  const size_t at = output.find(key + " ");
  return at == String::npos ? -1 : StrToIntDef(output.substr(at + key.size() + 1, output.find('\n', at) - at - key.size() - 1), -1);
}

// The text of the report of className, from its class line to the next
// report; empty when there is none.
String Report(const String& log, const String& className) {
  const size_t report = log.find("Classname: " + className + " ");
  if (report == String::npos) return {};
  const size_t next = log.find("Classname: ", report + 1);
  return log.substr(report, next == String::npos ? String::npos : next - report);
}

// What follows key on its line of a report, without the trailing blank.
String Field(const String& report, const String& key) {
  const size_t at = report.find(key);
  if (at == String::npos) return {};
  String value = report.substr(at + key.size(), report.find("\r\n", at) - at - key.size());
  while (!value.empty() && value.back() == ' ') value.pop_back();
  return value;
}

// The line the report of className names, or -1 when there is none.
int ReportedLine(const String& log, const String& className) {
  return StrToIntDef(Field(Report(log, className), "Line No: "), -1);
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

// The report's message says where the exception was as "in module NAME at
// OFFSET"; that offset, as it stands, goes to ztl-mapinfo with the map. Its
// output, and the report's own place as ztl-mapinfo prints a place.
struct TMapInfoRun {
  String Output;
  String Place;
  String Report;
};

TMapInfoRun RunMapInfoOnReport(const Build& build, const String& className) {
  test::TestDir dir;
  const String log = dir.File("errors.log");
  TMapInfoRun run;
  if (RunProgram(build.Program, log).empty()) return run;
  run.Report = Report(test::ReadFileBytes(log), className);
  const String message = Field(run.Report, "Message: ");
  const String module = " in module " + ExtractFileName(build.Program) + " at ";
  const size_t at = message.find(module);
  if (at == String::npos || Field(run.Report, "Line No: ").empty()) return run;
  const size_t start = at + module.size();
  const String offset = message.substr(start, message.find('.', start) - start);
  run.Place = Field(run.Report, "Unit: ") + "\t" + Field(run.Report, "Procedure: ") + "\t" + Field(run.Report, "Line No: ");
  run.Output = RunCommand(String("'") + ZTL_MAPINFO_PATH + "' --module-offset '" + ChangeFileExt(build.Program, ".map") +
                          "' " + offset);
  return run;
}

// A fault's address is the faulting instruction: the first line names it.
TEST_P(SourceLineBuilds, AFaultReportsModuleOffsetGivesTheReportsPlaceInZtlMapInfo) {
  const TMapInfoRun run = RunMapInfoOnReport(GetParam(), "EAccessViolation");
  ASSERT_FALSE(run.Place.empty()) << GetParam().Program << ": " << run.Report;
  EXPECT_EQ(run.Output.substr(0, run.Output.find('\n') + 1), run.Place + "\n") << run.Report;
}

// A throw's address is the return address of the call that raised, and its
// report names the call's line: ztl-mapinfo gives that line as it is when
// the address lies on it, and else on a marked second line.
TEST_P(SourceLineBuilds, AThrowsReportModuleOffsetGivesTheReportsPlaceInZtlMapInfo) {
  const TMapInfoRun run = RunMapInfoOnReport(GetParam(), "EConvertError");
  ASSERT_FALSE(run.Place.empty()) << GetParam().Program << ": " << run.Report;
  const size_t firstEnd = run.Output.find('\n');
  ASSERT_NE(firstEnd, String::npos) << run.Report;
  const String second = run.Output.substr(firstEnd + 1);
  if (second.empty()) {
    EXPECT_EQ(run.Output, run.Place + "\n") << run.Report;
  } else {
    EXPECT_EQ(second, run.Place + "\t(the call returning here: a raise's report names this line)\n") << run.Output;
    EXPECT_NE(run.Output.substr(0, firstEnd), run.Place) << run.Output;
  }
}

INSTANTIATE_TEST_SUITE_P(BuildTypes, SourceLineBuilds,
                         ::testing::Values(Build{"Debug", ZTL_SOURCE_LINES_DEBUG},
                                           Build{"RelWithDebInfo", ZTL_SOURCE_LINES_RELWITHDEBINFO},
                                           Build{"Release", ZTL_SOURCE_LINES_RELEASE}),
                         [](const auto& info) { return String(info.param.Name); });

}  // namespace
}  // namespace ztl
