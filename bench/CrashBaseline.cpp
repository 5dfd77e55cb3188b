// The floor of the crash-report benchmark: the smallest crash handler worth
// the name. A SIGSEGV handler writes the raw call stack with
// backtrace_symbols_fd into the file given as the argument and lets the
// signal end the process. No library of the project is loaded.
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

int reportFd = -1;

void OnFault(int signal) {
  void* frames[64];
  const int count = backtrace(frames, 64);
  backtrace_symbols_fd(frames, count, reportFd);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

__attribute__((noinline)) int ReadThroughNull() {
  int* volatile nothing = nullptr;
  return *nothing;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  reportFd = open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (reportFd < 0) return 2;
  // backtrace() loads libgcc at its first call: not inside the handler.
  void* warm[1];
  backtrace(warm, 1);
  signal(SIGSEGV, &OnFault);
  return ReadThroughNull();
}
