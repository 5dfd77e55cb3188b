// A program without a display and without an exception logger: an event
// handler that the message loop runs reads through a null pointer, and the
// application shows the exception; then the program shows a message box of
// its own. The headless box tests read what reached the standard error.
#include <cstdio>

#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/WidgetSet.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>

namespace {

// The fault is meant: the undefined-behaviour sanitizer must not stop it.
__attribute__((noinline, no_sanitize("undefined"))) int ReadNowhere() {
  volatile int* nowhere = nullptr;
  return *nowhere;
}

}  // namespace

int main() {
  using namespace ztl;
  InstallFaultHandlers();  // the fault arrives as an exception, as the library's users have it
  Application->SetTitle("Stock Keeper");
  Application->QueueCall([] { std::printf("read %d\n", ReadNowhere()); });
  Application->ProcessMessages();
  const int answer = Application->MessageBox("Save the counts?", "Closing", MB_YESNO | MB_ICONQUESTION);
  std::printf("answer %d\n", answer);
  return 0;
}
