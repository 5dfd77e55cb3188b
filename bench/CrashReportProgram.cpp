// The crash the crash-report benchmark times: a program with an active
// exception logger reads through a null pointer in main, outside any handler.
// The last chance writes the full report with its source line into the log
// given as the argument, and the process ends as abort() ends it.
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>

namespace {

__attribute__((noinline)) int ReadThroughNull() {
  int* volatile nothing = nullptr;
  return *nothing;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  ztl::InstallFaultHandlers();
  ztl::TZTExceptionLog log(nullptr);
  log.SetActive(true);
  log.SetLogFile(argv[1]);
  log.SetErrorDialog(ztl::edNone);
  return ReadThroughNull();
}
