// The message loop outlives a logger whose own processing fails: the error
// is shown the standard way, and the next exception is logged as usual. Each
// case runs in a child process, as such a failure used to end the process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "tests/support/TestDir.h"
#include <ztlogger/core/LogCnst.h>
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {
namespace {

// Root reads and writes whatever the modes say; the child gives that up so
// that a folder or file without permissions refuses it too.
void DropFileOverrides() {
#if defined(__linux__)
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return;
  data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
  ::syscall(SYS_capset, &header, data);
#endif
}

struct SaveHandler : TObject {
  int calls = 0;
  bool raise = false, fault = false;
  // The null read is meant to reach the processor: exempt from the
  // undefined-behaviour sanitizer, which would report it first.
  __attribute__((noinline, no_sanitize("undefined"))) void Save(TObject*, Exception*, String&, bool&) {
    if (++calls > 1) return;
    if (raise) throw EInvalidOperation("handler failed");
    if (fault) {
      int* volatile none = nullptr;
      calls += *none;
    }
  }
};

// One failure of the logger's processing: `breakIt` makes the first
// exception's processing fail, `repair` takes the cause away again.
struct Cause {
  std::function<void(TZTExceptionLog&, SaveHandler&, const test::TestDir&)> breakIt;
  std::function<void(TZTExceptionLog&, const test::TestDir&)> repair;
  String shownFragment;  // in the text of the standard display
};

[[noreturn]] void Fail(const String& why) {
  std::fprintf(stderr, "%s\n", why.c_str());
  std::exit(1);
}

// What went wrong in the child, or nothing.
String Survive(const Cause& cause) {
  test::TestDir dir;
  InstallFaultHandlers();
  ResetApplicationState();
  TZTExceptionLog log(nullptr);
  log.SetActive(true);
  log.SetLogFile(dir.File("errors.log"));
  log.SetErrorDialog(edNone);
  log.SetFormats({lfExceptionClassName, lfMessage});
  log.SetOptions({});
  log.MapFile()->SetMapFileName(dir.File("absent.map"));
  SaveHandler handler;
  log.SetOnSaveException(MakeMethod<&SaveHandler::Save>(&handler));
  cause.breakIt(log, handler, dir);

  int wentOn = 0;
  Application->QueueCall([] { throw EConvertError("first one"); });
  Application->QueueCall([&] { ++wentOn; });
  Application->ProcessMessages();
  cause.repair(log, dir);
  Application->QueueCall([] { throw EConvertError("second one"); });
  Application->QueueCall([&] { ++wentOn; });
  Application->ProcessMessages();

  if (wentOn != 2) return "the loop did not go on";
  const auto& shown = HeadlessWidgetSet().Shown();
  if (shown.size() != 1 || shown[0].Kind != skMessageBox) return "not one standard display";
  if (shown[0].Text.find(cause.shownFragment) == String::npos) return "shown: " + shown[0].Text;
  const String text = test::ReadFileBytes(log.LogFile());
  if (text.find("second one") == String::npos) return "the second exception was not logged:\n" + text;
  return {};
}

void SurviveInChild(const Cause& cause) {
  const String failure = Survive(cause);
  if (!failure.empty()) Fail(failure);
  std::exit(0);
}

TEST(ExceptionRecovery, TheLoopSurvivesEachFailureOfTheLoggerAndLogsTheNextException) {
  auto none = [](TZTExceptionLog&, const test::TestDir&) {};
  const std::vector<std::pair<const char*, Cause>> causes = {
      {"missing folder",
       {[](TZTExceptionLog& log, SaveHandler&, const test::TestDir& dir) { log.SetLogFile(dir.File("absent/e.log")); },
        [](TZTExceptionLog& log, const test::TestDir& dir) { log.SetLogFile(dir.File("errors.log")); },
        "absent/e.log"}},
      {"disk full",
       {[](TZTExceptionLog&, SaveHandler&, const test::TestDir&) {
          ::signal(SIGXFSZ, SIG_IGN);
          rlimit limit{0, RLIM_INFINITY};
          ::setrlimit(RLIMIT_FSIZE, &limit);
        },
        [](TZTExceptionLog&, const test::TestDir&) {
          rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
          ::setrlimit(RLIMIT_FSIZE, &limit);
        },
        "File too large"}},
      {"read-only working folder",
       {[](TZTExceptionLog& log, SaveHandler&, const test::TestDir& dir) {
          const String folder = dir.File("ro");
          if (::mkdir(folder.c_str(), 0555) != 0 || ::chdir(folder.c_str()) != 0) Fail("no working folder");
          DropFileOverrides();
          log.SetLogFile(DefaultLogFileName);
        },
        [](TZTExceptionLog& log, const test::TestDir& dir) {
          ::chmod(dir.File("ro").c_str(), 0755);
          log.SetLogFile(dir.File("ro/") + DefaultLogFileName);
        },
        DefaultLogFileName}},
      {"lock held past the wait",
       {[](TZTExceptionLog&, SaveHandler&, const test::TestDir& dir) {
          // Left open until the repair: an open file description of its own,
          // as another process has.
          const int fd = ::open(dir.File("errors.log").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
          if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::dup2(fd, 99) < 0) Fail("no lock");
          ::close(fd);
        },
        [](TZTExceptionLog&, const test::TestDir&) { ::close(99); }, "in use"}},
      {"unreadable map",
       {[](TZTExceptionLog& log, SaveHandler&, const test::TestDir& dir) {
          test::WriteFileBytes(dir.File("app.map"), "");
          ::chmod(dir.File("app.map").c_str(), 0);
          DropFileOverrides();
          log.MapFile()->SetMapFileName(dir.File("app.map"));
          log.SetFormats({lfExceptionClassName, lfMessage, lfSourceLine});
        },
        [](TZTExceptionLog&, const test::TestDir& dir) { ::chmod(dir.File("app.map").c_str(), 0644); }, "app.map"}},
      {"handler raises",
       {[](TZTExceptionLog&, SaveHandler& handler, const test::TestDir&) { handler.raise = true; }, none,
        "handler failed"}},
      {"handler faults",
       {[](TZTExceptionLog&, SaveHandler& handler, const test::TestDir&) { handler.fault = true; }, none,
        "Access violation"}},
  };
  for (const auto& [name, cause] : causes) EXPECT_EXIT(SurviveInChild(cause), ::testing::ExitedWithCode(0), "") << name;
}

}  // namespace
}  // namespace ztl
