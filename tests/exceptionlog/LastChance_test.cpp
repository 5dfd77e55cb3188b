// Last-chance reports: exceptions and fatal signals that reach no handler are
// still reported by the active exception logger. Each crash happens in a
// child process; the parent reads the log the child left.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <thread>

#include "exceptionlog/LogError.h"
#include "platform/forms/Testing.h"
#include "platform/rtl/ExceptionSupport.h"
#include "platform/rtl/Threads.h"
#include "tests/support/TestDir.h"

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
      ::testing::KilledBySignal(SIGABRT), "ZTLogger: EConvertError reported in .*crash.log");
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
      ::testing::KilledBySignal(SIGABRT), "EInOutError reported in");
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
          std::abort();
        },
        ::testing::KilledBySignal(SIGABRT), "SIGABRT reported in");
    const String log = Log(form);
    EXPECT_NE(log.find("kept"), String::npos) << log;
    EXPECT_NE(log.find("Classname: SIGABRT \r\nMessage: The program was aborted"), String::npos) << log;
    if (form == ztlfXML) {
      EXPECT_EQ(log.substr(log.size() - 7), "</DATA>");
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

}  // namespace
}  // namespace ztl
