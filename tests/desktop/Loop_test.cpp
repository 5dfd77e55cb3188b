// The application's loop waiting inside GLib's main loop.
#include <chrono>
#include <thread>

#include "tests/desktop/Desktop.h"

#if ZTL_TEST_WITH_GTK
#include <glib.h>
#endif

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

#if ZTL_TEST_WITH_GTK
// A worker's call ends the wait inside GLib's loop; the wake-up it left is no
// work for a loop of GLib's own that runs next (a native dialog's), which
// would otherwise return at once from every blocking pass until the
// application waits again.
TEST_F(LoopOnDesktop, AWorkersCallEndsTheWaitAndLeavesOtherLoopsAsleep) {
  bool ran = false;
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Application->QueueCall([&] { ran = true; });
  });
  while (!ran) Application->HandleMessage();
  worker.join();

  bool due = false;
  g_timeout_add(100, [](gpointer flag) -> gboolean {
    *static_cast<bool*>(flag) = true;
    return G_SOURCE_REMOVE;
  }, &due);
  int passes = 0;
  while (!due) {
    g_main_context_iteration(nullptr, TRUE);
    ++passes;
  }
  EXPECT_LT(passes, 10) << "GLib's loop kept finding the wake-up ready";
}
#endif

}  // namespace
}  // namespace ztl::test
