// Last-chance reports: exceptions and fatal signals that reach no handler are
// still reported by the active exception logger. Each crash happens in a
// child process; the parent reads the log the child left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "tests/core/LogFiles.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/exceptionlog/ZTMapFile.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Threads.h>

namespace ztl {
namespace {

class LastChance : public ::testing::Test {
 protected:
  // The children are forks: they write into the parent's folder.
  void SetUp() override { ResetApplicationState(); }
  // A logger as an application would have it, writing to the test's folder.
  std::unique_ptr<TZTExceptionLog> Logger(TZTLogFormatting form = ztlfText) {
    auto log = std::make_unique<TZTExceptionLog>(nullptr);
    log->SetActive(true);
    log->SetFormatting(form);
    log->SetLogFile(dir.File(form == ztlfText ? "crash.log" : "crash.xml"));
    log->SetErrorDialog(edNone);
    log->SetFormats({lfExceptionClassName});
    return log;
  }
  String Log(TZTLogFormatting form = ztlfText) {
    return test::ReadFileBytes(dir.File(form == ztlfText ? "crash.log" : "crash.xml"));
  }

  test::TestDir dir;
};

__attribute__((noinline)) void Throw() { throw EConvertError("not a number"); }
void (*volatile thrower)() = &Throw;
// The exception leaves a function that promised not to raise any.
__attribute__((noinline)) void ThrowFromNoexcept() noexcept { thrower(); }

volatile size_t sink = 0;

void AppendBytes(const String& path, const String& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(fd, 0) << path;
  EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

// strlen is declared unable to throw; the unwinder passes its frame and the
// caller's all the same, so the fault becomes an exception further up.
__attribute__((noinline, no_sanitize("undefined"))) size_t LengthOfBadText() {
  const char* volatile text = reinterpret_cast<const char*>(16);
  return strlen(text);
}

TEST_F(LastChance, AnExceptionThatReachesNoHandlerIsReportedWithItsSourceLine) {
  EXPECT_EXIT(
      {
        auto log = Logger();
        ThrowFromNoexcept();
      },
      ::testing::KilledBySignal(SIGABRT), "^ZTLogger: EConvertError reported in [^\n]*crash.log\n$");
  const String log = Log();
  EXPECT_NE(log.find("Classname: EConvertError"), String::npos) << log;
  EXPECT_NE(log.find("not a number"), String::npos) << log;
  EXPECT_NE(log.find("Procedure: "), String::npos) << log;
}

TEST_F(LastChance, AnExceptionEndingAStdThreadIsReported) {
  EXPECT_EXIT(
      {
        auto log = Logger(ztlfXML);
        std::thread([] { throw EInOutError("disk gone"); }).join();
      },
      ::testing::KilledBySignal(SIGABRT), "^ZTLogger: EInOutError reported in [^\n]*crash.xml\n$");
  const String log = Log(ztlfXML);
  EXPECT_NE(log.find("<CLASSNAME>Classname: EInOutError</CLASSNAME>"), String::npos) << log;
  EXPECT_EQ(log.substr(log.size() - 7), "</DATA>");
}

TEST_F(LastChance, AFaultInsideTheCLibraryBecomesAnException) {
  InstallFaultHandlers();
  auto log = Logger();
  int wentOn = 0;
  Application->QueueCall([] { sink = LengthOfBadText(); });
  Application->QueueCall([&] { ++wentOn; });
  Application->ProcessMessages();
  EXPECT_EQ(wentOn, 1);
  EXPECT_NE(Log().find("Classname: EAccessViolation"), String::npos) << Log();
}

TEST_F(LastChance, AbortGetsAReducedReportInBothForms) {
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    EXPECT_EXIT(
        {
          auto log = Logger(form);
          log->WriteAsString("BEFORE", "kept");
          // Line ends behind the closing tag, as an editor leaves them.
          if (form == ztlfXML) AppendBytes(log->LogFile(), "\r\n \n");
          std::abort();
        },
        ::testing::KilledBySignal(SIGABRT), "^ZTLogger: SIGABRT reported in [^\n]*crash.(log|xml)\n$");
    const String log = Log(form);
    EXPECT_NE(log.find("kept"), String::npos) << log;
    EXPECT_NE(log.find("Classname: SIGABRT \r\nMessage: The program was aborted"), String::npos) << log;
    if (form == ztlfXML) {
      const test::ParsedXMLLog parsed = test::ParseXMLLog(log);
      EXPECT_TRUE(parsed.WellFormed) << parsed.Error << "\n" << log;
      ASSERT_EQ(parsed.Elements.size(), 2u) << log;
      EXPECT_EQ(parsed.Elements[1].first, "ERROR");
    }
  }
}

TEST_F(LastChance, AnExceptionEndingAWorkerIsReportedAndTheProcessGoesOn) {
  auto log = Logger();
  struct Worker : TThread {
    ~Worker() override { TerminateAndWait(); }
    void Execute() override { throw EOutOfResources("no handles left"); }
  } worker;
  worker.Start();
  worker.WaitFor();
  EXPECT_TRUE(worker.FatalException());
  EXPECT_NE(Log().find("Classname: EOutOfResources"), String::npos) << Log();
  EXPECT_NE(Log().find("no handles left"), String::npos) << Log();
}

// ---------------------------------------------------------------- crashes outside any handler

// What became of one run of lastchance_helper.
struct Crash : test::CommandRun {
  String log;
};

String HelperPath() { return test::HelperProgram("lastchance_helper"); }

Crash RunHelper(const test::TestDir& dir, const char* mode, TZTLogFormatting form, String log = {}) {
  if (log.empty()) log = dir.File(form == ztlfText ? "crash.log" : "crash.xml");
  Crash crash{test::RunProgram({HelperPath(), mode, log, form == ztlfText ? "text" : "xml"}), {}};
  if (FileExists(log) && log.rfind("/dev/", 0) != 0) crash.log = test::ReadFileBytes(log);
  return crash;
}

TEST_F(LastChance, ANullReadInMainOutsideTheLoopIsReportedWithItsLineAndEndsTheProcessAsAbort) {
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    const Crash crash = RunHelper(dir, "null-read-in-main", form);
    ASSERT_EQ(crash.out.rfind("line ", 0), 0u) << crash.out << crash.err;
    const String line = "Line No: " + crash.out.substr(5, crash.out.find('\n') - 5);
    EXPECT_EQ(crash.signal, SIGABRT) << "exit status " << crash.status;
    EXPECT_EQ(crash.err, "ZTLogger: EAccessViolation reported in " + dir.File(form == ztlfText ? "crash.log\n" : "crash.xml\n"));
    EXPECT_NE(crash.log.find("Classname: EAccessViolation"), String::npos) << crash.log;
    EXPECT_NE(crash.log.find("Procedure: "), String::npos) << crash.log;
    EXPECT_NE(crash.log.find("ReadSetting()"), String::npos) << crash.log;
    EXPECT_NE(crash.log.find(line + (form == ztlfText ? " \r\n" : "</LINE>")), String::npos) << line << crash.log;
    if (form == ztlfXML) {
      EXPECT_EQ(crash.log.substr(crash.log.size() - 7), "</DATA>");
    }
  }
}

// A thread the framework did not set up has no stack reserve: its overflow
// cannot become an exception, only the reduced report, written from the
// alternate signal stack that every thread gets. That report has no source
// line; its module offset names the place in the program's map.
TEST_F(LastChance, AStackOverflowInAPlainThreadGetsTheReducedReportNamingItsProcedure) {
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    const Crash crash = RunHelper(dir, "overflow-in-thread", form);
    EXPECT_EQ(crash.signal, SIGSEGV) << "exit status " << crash.status << crash.err;
    EXPECT_EQ(crash.err, "ZTLogger: EStackOverflow reported in " + dir.File(form == ztlfText ? "crash.log\n" : "crash.xml\n"));
    EXPECT_NE(crash.log.find("Classname: EStackOverflow \r\nMessage: Stack overflow \r\nModule offset: "), String::npos)
        << crash.log;
    const size_t offset = crash.log.find("Module offset: ");
    ASSERT_NE(offset, String::npos) << crash.log;
    // The offset counts from the module's load address; the map's offsets
    // from the start of its code, which the map records.
    const String mapText = test::ReadFileBytes(HelperPath() + ".map");
    const size_t record = mapText.find("Code at module offset ");
    ASSERT_NE(record, String::npos);
    TZTMapFile map;
    map.SetMapFileName(HelperPath() + ".map");
    map.SetMapFileBase(static_cast<uint32_t>(std::stoul(mapText.substr(record + 22, 8), nullptr, 16)));
    map.LoadExceptionData(reinterpret_cast<void*>(std::stoull(crash.log.substr(offset + 15, 16), nullptr, 16)));
    EXPECT_NE(map.ExceptMethodName().find("RecurseForever(int)"), String::npos) << crash.log;
    EXPECT_EQ(map.ExceptUnitName(), "lastchance_helper");
    if (form == ztlfXML) {
      EXPECT_EQ(crash.log.substr(crash.log.size() - 7), "</DATA>");
    }
  }
}

// Eight threads crash at the same moment: the first reports, the others wait
// for it, and the process ends as the first crash ends it.
TEST_F(LastChance, ManyThreadsCrashingAtOnceLeaveOneCompleteReport) {
  for (int run = 0; run < 20; ++run) {
    for (const char* mode : {"crowd-fault", "crowd-throw"}) {
      const TZTLogFormatting form = run % 2 ? ztlfXML : ztlfText;
      const String logFile = dir.File(form == ztlfText ? "crash.log" : "crash.xml");
      const String className = String(mode) == "crowd-fault" ? "EAccessViolation" : "EConvertError";
      DeleteFile(logFile);
      const Crash crash = RunHelper(dir, mode, form);
      SCOPED_TRACE(String(mode) + " run " + std::to_string(run));
      EXPECT_EQ(crash.signal, SIGABRT) << "exit status " << crash.status;
      EXPECT_EQ(crash.err, "ZTLogger: " + className + " reported in " + logFile + "\n");
      size_t reports = 0;
      for (size_t at = 0; (at = crash.log.find("Classname: ", at)) != String::npos; ++at) ++reports;
      EXPECT_EQ(reports, 1u) << crash.log;
      EXPECT_NE(crash.log.find("Classname: " + className), String::npos) << crash.log;
      if (form == ztlfXML) {
        const test::ParsedXMLLog parsed = test::ParseXMLLog(crash.log);
        EXPECT_TRUE(parsed.WellFormed) << parsed.Error << "\n" << crash.log;
        EXPECT_EQ(parsed.Elements.size(), 1u) << crash.log;
      } else {
        // The whole report: it ends where the text form ends a report.
        EXPECT_TRUE(crash.log.ends_with(" \r\n\r\n") || crash.log.ends_with("\r\n")) << crash.log;
        EXPECT_NE(crash.log.find("Procedure: "), String::npos) << crash.log;
      }
    }
  }
}

// Neither a folder that is not there nor a full disk makes the report
// vanish: the standard error says why the log did not take it, and holds it.
TEST_F(LastChance, AReportTheLogCannotTakeGoesToTheStandardErrorWithTheReason) {
  struct Case {
    String log, reason;
  };
  for (const Case& failing : {Case{dir.File("gone/crash.log"), "open: No such file or directory"},
                              Case{"/dev/full", "write: No space left on device"}}) {
    const Crash crash = RunHelper(dir, "null-read-in-main", ztlfText, failing.log);
    EXPECT_EQ(crash.signal, SIGABRT) << "exit status " << crash.status;
    EXPECT_EQ(crash.err.rfind("ZTLogger: EAccessViolation could not be reported in " + failing.log + ": " +
                                  failing.reason + "; the report:\n",
                              0),
              0u)
        << crash.err;
    EXPECT_NE(crash.err.find("\n  Classname: EAccessViolation\n"), String::npos) << crash.err;
    EXPECT_NE(crash.err.find("\n  Phys.addr: "), String::npos) << crash.err;
    EXPECT_NE(crash.err.find("\n  Module: lastchance_helper\n"), String::npos) << crash.err;
    EXPECT_NE(crash.err.find("\n  Module offset: "), String::npos) << crash.err;
    EXPECT_FALSE(FileExists(dir.File("gone/crash.log")));
  }
}

// The report's own writer crashes: the process still ends, and the
// standard error holds what the log could not.
TEST_F(LastChance, ACrashInsideTheReportWriterEndsTheProcessWithTheReportOnTheStandardError) {
  const Crash crash = RunHelper(dir, "abort-in-writer", ztlfText);
  EXPECT_EQ(crash.signal, SIGABRT) << "exit status " << crash.status;
  EXPECT_EQ(crash.err.rfind("ZTLogger: SIGABRT while writing the report of EConvertError; the report:\n", 0), 0u)
      << crash.err;
  EXPECT_NE(crash.err.find("\n  Classname: SIGABRT\n"), String::npos) << crash.err;
}

}  // namespace
}  // namespace ztl
