// Where a real report places a fault: the message and the call stack count
// module offsets alike, each form of them pasted into ztl-mapinfo names the
// report's own place, and the framework's frames are named too.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <vector>

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {
namespace {

volatile int sink = 0;

constexpr int FaultLine = __LINE__ + 3;
__attribute__((noinline, no_sanitize("undefined"))) int ReadThroughNull() {
  int* volatile nothing = nullptr;
  return *nothing;
}

// A fault in an event handler that the application's message loop runs.
String ReportOfAFaultInAQueuedHandler(const test::TestDir& dir) {
  ResetApplicationState();
  InstallFaultHandlers();
  TZTExceptionLog log(nullptr);
  log.SetActive(true);
  log.SetLogFile(dir.File("crash.log"));
  log.SetErrorDialog(edNone);
  log.SetFormats({lfPhysAddress, lfExceptionClassName, lfMessage, lfSourceLine});
  log.SetCallStack(true);
  Application->QueueCall([] { sink = ReadThroughNull(); });
  Application->ProcessMessages();
  return test::ReadFileBytes(log.LogFile());
}

String Field(const String& report, const String& name) {
  const size_t at = report.find("\r\n" + name + ": ");
  if (at == String::npos) return {};
  const size_t start = at + name.size() + 4;
  // A section's last line ends in a blank.
  return TrimRight(report.substr(start, report.find("\r\n", start) - start));
}

std::vector<String> CallStackLines(const String& report) {
  std::vector<String> lines;
  size_t at = report.find("Call stack:\r\n");
  if (at == String::npos) return lines;
  for (at += 13; at < report.size() && report.compare(at, 2, "\r\n") != 0;) {
    const size_t end = report.find("\r\n", at);
    lines.push_back(TrimRight(report.substr(at, end - at)));
    at = end + 2;
  }
  return lines;
}

test::CommandRun MapInfo(std::vector<String> arguments) {
  arguments.insert(arguments.begin(), ZTL_MAPINFO_PATH);
  return test::RunProgram(arguments);
}

TEST(CrashReportPlaces, EveryFormOfTheReportsAddressGivesZtlMapInfoTheReportsPlace) {
  test::TestDir dir;
  const String report = ReportOfAFaultInAQueuedHandler(dir);
  const String program = ExtractFileName(ModuleFileNameOf(reinterpret_cast<const void*>(&ReadThroughNull)));
  const String map = ChangeFileExt(ModuleFileNameOf(reinterpret_cast<const void*>(&ReadThroughNull)), ".map");
  // The message's offset and the first frame's are one number.
  std::smatch message, frame;
  const std::string text = report;
  ASSERT_TRUE(std::regex_search(text, message, std::regex("in module " + program + " at ([0-9A-F]+)\\."))) << report;
  const std::vector<String> frames = CallStackLines(report);
  ASSERT_FALSE(frames.empty()) << report;
  ASSERT_TRUE(std::regex_match(frames[0], frame, std::regex("([0-9A-F]+) " + program + "\\+([0-9A-F]+) .*"))) << frames[0];
  const uint64_t offset = std::stoull(message[1], nullptr, 16);
  EXPECT_EQ(std::stoull(frame[2], nullptr, 16), offset) << report;
  const String address = frame[1], hexOffset = frame[2];
  const uint64_t load = std::stoull(address, nullptr, 16) - offset;
  char loadText[32];
  std::snprintf(loadText, sizeof loadText, "%llX", static_cast<unsigned long long>(load));

  const String place = Field(report, "Unit") + "\t" + Field(report, "Procedure") + "\t" + Field(report, "Line No") + "\n";
  EXPECT_EQ(place, "CrashReportPlaces_test\tztl::(anonymous namespace)::ReadThroughNull()\t" + std::to_string(FaultLine) + "\n");
  const std::vector<std::vector<String>> forms = {{map, program + "+" + hexOffset},
                                                  {map, "--module-offset", message[1]},
                                                  {map, address + "@" + loadText},
                                                  {"--base", loadText, map, address}};
  for (const std::vector<String>& form : forms) {
    const test::CommandRun run = MapInfo(form);
    EXPECT_EQ(run.status, 0) << form.back();
    EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), place) << form.back();
  }
  // An absolute address alone could be taken for an offset: refused.
  const test::CommandRun bare = MapInfo({map, address});
  EXPECT_EQ(bare.status, 1);
  EXPECT_EQ(bare.out, "");
}

// The frames of the framework's library are named from its line tables;
// start-up code of the program, which no unit of its map holds, gets its
// procedure and not the line of the unit before it.
TEST(CrashReportPlaces, TheFrameworksFramesAreNamedAndStartUpCodeIsNotTakenForAUnit) {
  test::TestDir dir;
  const String report = ReportOfAFaultInAQueuedHandler(dir);
  bool loop = false;
  for (const String& frame : CallStackLines(report)) {
    if (frame.find(" libztl_platform.so") != String::npos) {
      EXPECT_NE(frame.find(" Forms ztl::TApplication::ProcessMessage"), String::npos) << frame;
      EXPECT_NE(frame.find(" line "), String::npos) << frame;
      loop = true;
    }
    // GoogleTest's code, without debugging information in this build: no unit.
    if (frame.find(" testing::Test::Run()") != String::npos) {
      EXPECT_TRUE(std::regex_match(std::string(frame), std::regex("[0-9A-F]+ [^ ]+\\+[0-9A-F]+ testing::Test::Run\\(\\)")))
          << frame;
    }
    if (frame.find(" _start") != String::npos) {
      EXPECT_TRUE(std::regex_match(std::string(frame), std::regex("[0-9A-F]+ [^ ]+\\+[0-9A-F]+ _start"))) << frame;
    }
  }
  EXPECT_TRUE(loop) << report;
}

// Source lines asked for and no map there: the standard error says so once,
// not at every report.
TEST(CrashReportPlaces, AMissingMapIsToldOnceOnTheStandardError) {
  test::TestDir dir;
  EXPECT_EXIT(
      {
        ResetApplicationState();
        InstallFaultHandlers();
        TZTExceptionLog log(nullptr);
        log.SetActive(true);
        log.SetLogFile(dir.File("crash.log"));
        log.SetErrorDialog(edNone);
        log.SetFormats({lfSourceLine});
        log.MapFile()->SetMapFileName(dir.File("missing.map"));
        for (int i = 0; i < 2; ++i) Application->QueueCall([] { sink = ReadThroughNull(); });
        Application->ProcessMessages();
        std::exit(test::ReadFileBytes(log.LogFile()).empty() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "^ZTLogger: no map file [^\n]*missing\\.map: [^\n]*\n$");
}

}  // namespace
}  // namespace ztl
