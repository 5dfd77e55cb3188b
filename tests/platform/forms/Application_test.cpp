#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/forms/WindowHandles.h>

namespace ztl {
namespace {

class ApplicationLoop : public ::testing::Test {
 protected:
  void SetUp() override { ResetApplicationState(); }
  void TearDown() override { ResetApplicationState(); }
};

struct Sink : TObject {
  std::vector<String> log;
  TObject* sender = nullptr;
  void Exception_(TObject* Sender, Exception* E) {
    sender = Sender;
    log.push_back(E->ClassName() + ": " + E->Message());
  }
  void Message(TMsg& Msg, bool& Handled) {
    log.push_back("message " + std::to_string(Msg.message));
    Handled = Msg.message == WM_USER + 1;
  }
  bool Hook(TMessage& M) {
    log.push_back("hook " + std::to_string(M.Msg));
    return M.Msg == WM_USER + 2;
  }
  void Activate(TObject*) { log.push_back("activate"); }
  void Minimize(TObject*) { log.push_back("minimize"); }
  void Restore(TObject*) { log.push_back("restore"); }
};

TEST_F(ApplicationLoop, RunDispatchesQueuedMessagesUntilTerminate) {
  Sink sink;
  Application->SetOnMessage(MakeMethod<&Sink::Message>(&sink));
  Application->HookMainWindow(MakeMethod<&Sink::Hook>(&sink));
  Application->PostMessage(Application->Handle(), WM_USER + 1);  // handled by OnMessage
  Application->PostMessage(Application->Handle(), WM_USER + 2);  // handled by the hook
  Application->PostMessage(Application->Handle(), WM_USER + 3);
  Application->Terminate();
  Application->PostMessage(Application->Handle(), WM_USER + 4);  // after the quit
  Application->Run();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(sink.log, (std::vector<String>{"message 1025", "message 1026", "hook 1026", "message 1027",
                                           "hook 1027"}));
}

class ApplicationLoopThreads : public ApplicationLoop {};

TEST_F(ApplicationLoopThreads, WorkersPostFromOtherThreadsAndWakeTheLoop) {
  Sink sink;
  Application->HookMainWindow(MakeMethod<&Sink::Hook>(&sink));
  const HWND handle = Application->Handle();
  std::thread worker([handle] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (int i = 0; i < 3; ++i) Application->PostMessage(handle, WM_USER + 10);
    Application->PostMessage(nullptr, WM_QUIT);
  });
  Application->Run();  // sleeps until the worker posts
  worker.join();
  EXPECT_EQ(sink.log.size(), 3u);
}

TEST_F(ApplicationLoop, UnhookedHooksSeeNothing) {
  Sink first, second;
  Application->HookMainWindow(MakeMethod<&Sink::Hook>(&first));
  Application->HookMainWindow(MakeMethod<&Sink::Hook>(&second));
  Application->UnhookMainWindow(MakeMethod<&Sink::Hook>(&first));
  Application->PostMessage(Application->Handle(), WM_SETTINGCHANGE);
  Application->ProcessMessages();
  EXPECT_TRUE(first.log.empty());
  EXPECT_EQ(second.log, (std::vector<String>{"hook 26"}));
}

TEST_F(ApplicationLoop, AnExceptionFromAHandlerGoesToOnExceptionWithItsSender) {
  Sink sink;
  Application->SetOnException(MakeMethod<&Sink::Exception_>(&sink));
  auto* button = new TButton(Application);
  struct Raiser : TObject {
    void Click(TObject*) { throw EConvertError("bad number"); }
  } raiser;
  button->SetOnClick(MakeMethod<&Raiser::Click>(&raiser));
  Application->PostMessage(button->Handle(), WM_LBUTTONUP);
  Application->QueueCall([] { throw std::out_of_range("vector index"); });
  Application->QueueCall([] { throw EAbort("silent"); });
  Application->ProcessMessages();
  ASSERT_EQ(sink.log.size(), 2u) << "EAbort is silent";
  EXPECT_EQ(sink.log[0], "EConvertError: bad number");
  EXPECT_EQ(sink.log[1], "std::out_of_range: vector index") << "a foreign exception as a framework one";
  EXPECT_EQ(sink.sender, Application);
  EXPECT_TRUE(HeadlessWidgetSet().Shown().empty());
}

TEST_F(ApplicationLoop, WithoutOnExceptionTheStandardDisplayShowsTheMessage) {
  Application->SetTitle("Demo");
  Application->QueueCall([] { throw EInvalidOperation("Cannot do that"); });
  Application->QueueCall([] { throw EInvalidOperation("Ends with a dot."); });
  Application->ProcessMessages();
  const auto& shown = HeadlessWidgetSet().Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].Kind, skMessageBox);
  EXPECT_EQ(shown[0].Caption, "Demo");
  EXPECT_EQ(shown[0].Text, "Cannot do that.");
  EXPECT_EQ(shown[0].Icon, MB_ICONSTOP);
  EXPECT_EQ(shown[0].Buttons, (std::vector<String>{"OK"}));
  EXPECT_EQ(shown[0].Result, IDOK);
  EXPECT_EQ(shown[1].Text, "Ends with a dot.");
}

// In a child process: a handler that fails used to take the process down.
TEST_F(ApplicationLoop, AnExceptionEscapingOnExceptionIsShownAndTheLoopGoesOn) {
  auto child = [] {
    struct FailsOnce : TObject {
      std::vector<String> handled;
      void Exception_(TObject*, Exception* E) {
        handled.push_back(E->Message());
        if (handled.size() == 1) throw EFCreateError("Cannot create file x.log");
      }
    } handler;
    Application->SetOnException(MakeMethod<&FailsOnce::Exception_>(&handler));
    int wentOn = 0;
    Application->QueueCall([] { throw EConvertError("first"); });
    Application->QueueCall([&] { ++wentOn; });
    Application->QueueCall([] { throw EConvertError("second"); });
    Application->QueueCall([] { throw EAbort("silent"); });
    Application->ProcessMessages();
    const auto& shown = HeadlessWidgetSet().Shown();
    const bool ok = wentOn == 1 && handler.handled == std::vector<String>{"first", "second"} && shown.size() == 1 &&
                    shown[0].Kind == skMessageBox && shown[0].Text == "Cannot create file x.log.";
    std::exit(ok ? 0 : 1);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

// In a child process: the standard display used to abort a worker thread.
TEST_F(ApplicationLoop, HandleExceptionOnAWorkerThreadHandsTheExceptionToTheMainThread) {
  auto child = [] {
    std::thread worker([] {
      try {
        throw EConvertError("from a worker");
      } catch (...) {
        Application->HandleException(nullptr);
      }
    });
    worker.join();
    const bool waited = HeadlessWidgetSet().Shown().empty();
    Application->ProcessMessages();
    const auto& shown = HeadlessWidgetSet().Shown();
    std::exit(waited && shown.size() == 1 && shown[0].Text == "from a worker." ? 0 : 1);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

TEST_F(ApplicationLoop, ActivationMinimiseAndRestoreComeFromTheSystemsMessages) {
  Sink sink;
  Application->SetOnActivate(MakeMethod<&Sink::Activate>(&sink));
  Application->SetOnMinimize(MakeMethod<&Sink::Minimize>(&sink));
  Application->SetOnRestore(MakeMethod<&Sink::Restore>(&sink));
  auto& headless = HeadlessWidgetSet();
  headless.PostActivateApp(true);
  headless.PostSysCommand(SC_RESTORE);  // not minimised: nothing
  headless.PostSysCommand(SC_MINIMIZE);
  headless.PostSysCommand(SC_MINIMIZE);  // already minimised
  headless.PostSysCommand(SC_RESTORE);
  Application->ProcessMessages();
  EXPECT_TRUE(Application->Active());
  EXPECT_FALSE(Application->Minimized());
  EXPECT_EQ(sink.log, (std::vector<String>{"activate", "minimize", "restore"}));
}

TEST_F(ApplicationLoop, TimersPostTimerMessagesToTheirWindow) {
  struct Ticker : TButton {
    using TButton::TButton;
    int ticks = 0;
    void WndProc(TMessage& m) override {
      if (m.Msg == WM_TIMER && ++ticks == 3) Application->Terminate();
      TButton::WndProc(m);
    }
  };
  auto* ticker = new Ticker(Application);
  Application->SetTimer(ticker->Handle(), 1, 5);
  const auto start = std::chrono::steady_clock::now();
  Application->Run();
  EXPECT_EQ(ticker->ticks, 3);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(14));
  EXPECT_TRUE(Application->KillTimer(ticker->Handle(), 1));
  EXPECT_FALSE(Application->KillTimer(ticker->Handle(), 1));
}

TEST_F(ApplicationLoop, MessagesToDestroyedWindowsAreDropped) {
  auto* button = new TButton(Application);
  struct Counter : TObject {
    int clicks = 0;
    void Click(TObject*) { ++clicks; }
  } counter;
  button->SetOnClick(MakeMethod<&Counter::Click>(&counter));
  const HWND handle = button->Handle();
  Application->PostMessage(handle, WM_LBUTTONUP);
  delete button;
  Application->ProcessMessages();
  EXPECT_EQ(counter.clicks, 0);
  EXPECT_EQ(FindControl(handle), nullptr);
}

TEST_F(ApplicationLoop, HintsFollowTheMouseAndOnShowHintMayVeto) {
  struct Hints : TObject {
    std::vector<String> log;
    void Hint(TObject*) { log.push_back("hint " + Application->Hint()); }
    void Show(String& HintStr, bool& CanShow, THintInfo& Info) {
      log.push_back("show " + HintStr + " on " + Info.HintControl->Name());
      CanShow = HintStr != "Secret";
    }
  } hints;
  Application->SetOnHint(MakeMethod<&Hints::Hint>(&hints));
  Application->SetOnShowHint(MakeMethod<&Hints::Show>(&hints));
  auto* form = new TForm(Application);
  form->SetShowHint(true);
  auto* label = new TLabel(form);
  label->SetName("Label1");
  label->SetParent(form);
  label->SetBounds(10, 10, 50, 13);
  label->SetHint("Short|Long text");
  auto* edit = new TEdit(form);
  edit->SetName("Edit1");
  edit->SetParent(form);
  edit->SetBounds(10, 40, 100, 21);
  edit->SetHint("Secret");
  auto& headless = HeadlessWidgetSet();
  headless.PostMouseMove(*label);
  headless.PostMouseMove(*label);  // same control: nothing new
  headless.PostMouseMove(*edit);
  Application->ProcessMessages();
  EXPECT_EQ(hints.log, (std::vector<String>{"hint Long text", "show Short on Label1", "hint Secret",
                                            "show Secret on Edit1"}));
  EXPECT_EQ(headless.Hints(), (std::vector<String>{"Short"}));
}

TEST_F(ApplicationLoop, IdleComesWhenTheQueueIsEmpty) {
  struct Idler : TObject {
    int idles = 0;
    void Idle(TObject*, bool& Done) {
      // The first idle queues more work; the loop then idles again.
      if (++idles == 2)
        Application->Terminate();
      else
        Application->PostMessage(nullptr, WM_NULL);
      Done = true;
    }
  } idler;
  Application->SetOnIdle(MakeMethod<&Idler::Idle>(&idler));
  Application->QueueCall([] {});
  Application->Run();
  EXPECT_EQ(idler.idles, 2);
}

}  // namespace
}  // namespace ztl
