// Built once for each build type's code generation (see Tests.cmake), each
// with its map: reports a thrown exception and a hardware fault with their
// source lines into the log file named by its argument, then prints the lines
// the two reports must name ("throw N", "fault N").
#include <cstdio>

#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/rtl/HardwareFaults.h>

namespace {

volatile int sink = 0;

constexpr int kThrowLine = __LINE__ + 3;
__attribute__((noinline)) void ThrowIfNegative(int value) {
  if (value < 0) {
    throw ztl::EConvertError("negative");
  }
  sink = value;
}

// The fault is meant: the undefined-behaviour sanitizer must not stop it
// before the hardware does.
__attribute__((noinline, no_sanitize("undefined"))) void ReadThroughNull() {
  int* volatile none = nullptr;
  sink = *none;
}
constexpr int kFaultLine = __LINE__ - 2;

}  // namespace

int main(int argc, char** argv) {
  using namespace ztl;
  if (argc != 2) return 2;
  try {
    InstallFaultHandlers();
    TZTExceptionLog log(nullptr);
    log.SetActive(true);
    log.SetLogFile(argv[1]);
    log.SetErrorDialog(edNone);
    log.SetFormats({lfExceptionClassName, lfMessage, lfSourceLine});
    Application->QueueCall([] { ThrowIfNegative(-1); });
    Application->QueueCall([] { ReadThroughNull(); });
    Application->ProcessMessages();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::printf("throw %d\nfault %d\n", kThrowLine, kFaultLine);
  return 0;
}
