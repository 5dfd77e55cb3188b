// The application's loop waiting inside GLib's main loop.
#include <chrono>

#include "tests/desktop/Desktop.h"

namespace ztl::test {
namespace {

class TimerHook : public TObject {
 public:
  bool Seen(TMessage& message) {
    if (message.Msg == WM_TIMER) ++ticks;
    return false;
  }
  int ticks = 0;
};

using LoopOnDesktop = DesktopTest;

TEST_F(LoopOnDesktop, TimersFireWhileNothingElseHappens) {
  TimerHook hook;
  Application->HookMainWindow(MakeMethod<&TimerHook::Seen>(&hook));
  Application->SetTimer(Application->Handle(), 1, 20);
  const auto start = std::chrono::steady_clock::now();
  // With no event on the display and nothing posted, only the timer's due
  // time can end each wait.
  while (hook.ticks < 3) Application->HandleMessage();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
  Application->KillTimer(Application->Handle(), 1);
  Application->UnhookMainWindow(MakeMethod<&TimerHook::Seen>(&hook));
}

}  // namespace
}  // namespace ztl::test
