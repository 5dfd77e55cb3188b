// Crashes outside any handler with an active exception logger, for the
// last-chance tests:
//
//   lastchance_helper null-read-in-main LOG text|xml
//       reads through a null pointer in main, with no handler anywhere
//   lastchance_helper overflow-in-thread LOG text|xml
//       recurses without end in a std::thread, which has no fault stack
//   lastchance_helper crowd-fault LOG text|xml
//   lastchance_helper crowd-throw LOG text|xml
//       eight std::threads read through a null pointer, or throw, at the
//       same moment, with no handler anywhere
//   lastchance_helper abort-in-writer LOG text|xml
//       throws in main with no handler, and the log's writer aborts
//
// Before crashing it prints the source line of the crash on the standard
// output ("line N"), so that the test can compare the report with it. The map
// file beside the program gives the report its source lines.
#include <cstdio>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>

namespace {

using namespace ztl;

volatile int sink = 0;

void SayLine(int line) {
  std::printf("line %d\n", line);
  std::fflush(stdout);
}

__attribute__((noinline, no_sanitize("undefined"))) int ReadSetting() {
  SayLine(__LINE__ + 2);
  int* volatile setting = nullptr;
  return *setting;
}

// Called through a pointer, so that the recursion stays real.
int RecurseForever(int depth);
int (*volatile recurse)(int) = &RecurseForever;

__attribute__((noinline)) int RecurseForever(int depth) {
  volatile char frame[512];
  frame[depth % 512] = static_cast<char>(depth);
  return recurse(depth + 1) + frame[0];
}

// Eight threads released together into the same crash.
[[noreturn]] void Crowd(bool fault) {
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, fault] {
      ready.fetch_add(1);
      while (ready.load() < 8) {
      }
      if (fault) sink = ReadSetting();
      throw EConvertError("crowd");
    });
  for (std::thread& thread : threads) thread.join();
  std::abort();  // not reached: the first crash ends the process
}

// A log whose writer crashes: the last chance's own report then crashes.
class TAbortingLog : public TZTExceptionLog {
 public:
  using TZTExceptionLog::TZTExceptionLog;
  void WriteAsString(const String&, const String&) override { std::abort(); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  InstallFaultHandlers();
  const bool abortingWriter = std::strcmp(argv[1], "abort-in-writer") == 0;
  std::unique_ptr<TZTExceptionLog> owned(abortingWriter ? new TAbortingLog(nullptr) : new TZTExceptionLog(nullptr));
  TZTExceptionLog& log = *owned;
  log.SetActive(true);
  log.SetFormatting(std::strcmp(argv[3], "xml") == 0 ? ztlfXML : ztlfText);
  log.SetLogFile(argv[2]);
  log.SetErrorDialog(edNone);
  log.SetFormats({lfExceptionClassName});
  if (std::strcmp(argv[1], "null-read-in-main") == 0) return ReadSetting();
  if (abortingWriter) throw EConvertError("not a number");
  if (std::strncmp(argv[1], "crowd-", 6) == 0) Crowd(std::strcmp(argv[1], "crowd-fault") == 0);
  if (std::strcmp(argv[1], "overflow-in-thread") == 0) {
    SayLine(0);  // no source line: the report gives the module offset
    std::thread([] { sink = RecurseForever(0); }).join();
  }
  return 2;
}
