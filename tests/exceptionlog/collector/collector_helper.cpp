// An application with an exception logger that reports to a collector, for
// the collector's end-to-end tests:
//
//   collector_helper fault DSN LOG
//       a handler run by the message loop reads through a null pointer,
//       three calls deep; the report is sent before the program ends
//   collector_helper crash DSN LOG
//       aborts: the crash path queues the crash's envelope
//   collector_helper start DSN LOG
//       only starts, and sends what the queue holds
//
// Exits 0 when nothing is left to send at its end, 1 when something is.
#include <cstdlib>
#include <cstring>

#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>

namespace {

using namespace ztl;

volatile int sink = 0;

// The fault is meant: the undefined-behaviour sanitizer must not stop it
// before the hardware does.
__attribute__((noinline, no_sanitize("undefined"))) void ReadThroughNull() {
  int* volatile none = nullptr;
  sink = *none;
}

// The statement after each call keeps it a call, so every frame stays.
__attribute__((noinline)) void SaveOrder() {
  ReadThroughNull();
  sink = sink + 1;
}

__attribute__((noinline)) void PostOrder() {
  SaveOrder();
  sink = sink + 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  InstallFaultHandlers();
  Application->SetTitle("Collector helper");
  TZTExceptionLog log(nullptr);
  log.SetLogFile(argv[3]);
  log.SetErrorDialog(edNone);
  log.SendTo()->SetCollector(argv[2]);
  log.SetActive(true);
  if (std::strcmp(argv[1], "fault") == 0) {
    Application->QueueCall([] { PostOrder(); });
    Application->ProcessMessages();
  } else if (std::strcmp(argv[1], "crash") == 0) {
    std::abort();
  }
  return log.FlushCollector(30000) ? 0 : 1;
}
