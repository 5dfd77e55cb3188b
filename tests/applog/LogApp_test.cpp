#include <ztlogger/applog/LogApp.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/classes/DataModule.h>
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/forms/Testing.h>

namespace ztl {
namespace {

using Log = std::vector<String>;

// The log without the idle calls that the message boxes' loops make.
Log WithoutIdle(const Log& log) {
  Log rest;
  for (const String& s : log)
    if (s.find(":Idle") == String::npos) rest.push_back(s);
  return rest;
}

// Active through its published property, as an application or a stored form sets it.
void SetActive(TZTAppLog* log, bool value) { SetOrdProp(log, "Active", value ? 1 : 0); }

// Handlers of every event signature that write "<name>:<event>" to a log.
class Recorder : public TObject {
 public:
  Recorder(String name, Log& log) : name_(std::move(name)), log_(log) {}

  void Activate(TObject*) { Add("Activate"); }
  void Deactivate(TObject*) { Add("Deactivate"); }
  void Exception_(TObject* Sender, Exception* E) {
    Add("Exception " + E->Message());
    lastSender = Sender;
    boxesSeen = HeadlessWidgetSet().Shown().size();
  }
  void Idle(TObject*, bool& Done) {
    Add("Idle");
    doneSeen = Done;
    Done = doneResult;
  }
  bool Help(WORD Command, NativeInt Data, bool& CallHelp) {
    Add("Help " + std::to_string(Command) + "," + std::to_string(Data));
    CallHelp = false;
    return helpResult;
  }
  void Hint(TObject*) { Add("Hint " + Application->Hint()); }
  void Message(TMsg& Msg, bool& Handled) {
    if (Msg.message != WM_USER + 7) return;
    Add("Message");
    handledSeen = Handled;
    Handled = true;
  }
  void Minimize(TObject*) { Add("Minimize"); }
  void Restore(TObject*) { Add("Restore"); }
  void ShowHint(String& HintStr, bool& CanShow, THintInfo&) {
    Add("ShowHint " + HintStr);
    HintStr += "!";
    CanShow = canShowResult;
  }
  void Settings(TObject* Sender) {
    Add("Settings");
    lastSender = Sender;
    if (raiseInSettings) throw EConvertError("settings handler failed");
  }
  void ControlChange(TObject* Sender) {
    Add("ActiveControlChange");
    lastSender = Sender;
  }
  void FormChange(TObject*) { Add("ActiveFormChange"); }
  bool Hook(TMessage& Message) {
    if (Message.Msg == WM_SETTINGCHANGE || Message.Msg == WM_USER + 9) Add("Hook " + std::to_string(Message.Msg));
    return false;
  }

  // Installs the recorder as the application's and the screen's handlers.
  void InstallEverywhere() {
    Application->SetOnActivate(MakeMethod<&Recorder::Activate>(this));
    Application->SetOnDeactivate(MakeMethod<&Recorder::Deactivate>(this));
    Application->SetOnException(MakeMethod<&Recorder::Exception_>(this));
    Application->SetOnIdle(MakeMethod<&Recorder::Idle>(this));
    Application->SetOnHelp(MakeMethod<&Recorder::Help>(this));
    Application->SetOnHint(MakeMethod<&Recorder::Hint>(this));
    Application->SetOnMessage(MakeMethod<&Recorder::Message>(this));
    Application->SetOnMinimize(MakeMethod<&Recorder::Minimize>(this));
    Application->SetOnRestore(MakeMethod<&Recorder::Restore>(this));
    Application->SetOnShowHint(MakeMethod<&Recorder::ShowHint>(this));
    Screen->SetOnActiveControlChange(MakeMethod<&Recorder::ControlChange>(this));
    Screen->SetOnActiveFormChange(MakeMethod<&Recorder::FormChange>(this));
  }
  // Assigns the recorder as the logger's developer handlers.
  void AssignTo(TZTAppLog& log) {
    log.SetOnActivate(MakeMethod<&Recorder::Activate>(this));
    log.SetOnDeactivate(MakeMethod<&Recorder::Deactivate>(this));
    log.SetOnException(MakeMethod<&Recorder::Exception_>(this));
    log.SetOnIdle(MakeMethod<&Recorder::Idle>(this));
    log.SetOnHelp(MakeMethod<&Recorder::Help>(this));
    log.SetOnHint(MakeMethod<&Recorder::Hint>(this));
    log.SetOnMessage(MakeMethod<&Recorder::Message>(this));
    log.SetOnMinimize(MakeMethod<&Recorder::Minimize>(this));
    log.SetOnRestore(MakeMethod<&Recorder::Restore>(this));
    log.SetOnShowHint(MakeMethod<&Recorder::ShowHint>(this));
    log.SetOnSettingsChanged(MakeMethod<&Recorder::Settings>(this));
    log.SetOnActiveControlChange(MakeMethod<&Recorder::ControlChange>(this));
    log.SetOnActiveFormChange(MakeMethod<&Recorder::FormChange>(this));
  }

  TObject* lastSender = nullptr;
  size_t boxesSeen = 0;
  bool doneSeen = false;
  bool doneResult = true;
  bool helpResult = false;
  bool handledSeen = false;
  bool canShowResult = true;
  bool raiseInSettings = false;

 private:
  void Add(const String& what) { log_.push_back(name_ + ":" + what); }
  String name_;
  Log& log_;
};

// The application's slots as a comparable snapshot.
struct Slots {
  std::vector<TMethod> methods;
  static Slots Take() {
    Slots s;
    auto add = [&](auto ref) { s.methods.push_back(ref.Method()); };
    add(Application->OnActivate());
    add(Application->OnDeactivate());
    add(Application->OnException());
    add(Application->OnIdle());
    add(Application->OnHelp());
    add(Application->OnHint());
    add(Application->OnMessage());
    add(Application->OnMinimize());
    add(Application->OnRestore());
    add(Application->OnShowHint());
    if (Screen) {
      add(Screen->OnActiveControlChange());
      add(Screen->OnActiveFormChange());
    }
    return s;
  }
  bool operator==(const Slots&) const = default;
};

class AppLog : public ::testing::Test {
 protected:
  void SetUp() override { ResetApplicationState(); }
  void TearDown() override { ResetApplicationState(); }

  THeadlessWidgetSet& Headless() { return HeadlessWidgetSet(); }
  void Process() { Application->ProcessMessages(); }

  // A shown form with two edits and a hinted button.
  TForm* MakeForm() {
    auto* form = new TForm(Application);
    form->SetName("Form1");
    for (const char* name : {"Edit1", "Edit2"}) {
      auto* edit = new TEdit(form);
      edit->SetName(name);
      edit->SetParent(form);
    }
    auto* button = new TButton(form);
    button->SetName("Button1");
    button->SetParent(form);
    button->SetBounds(10, 100, 75, 25);
    button->SetHint("Go|Starts the work");
    button->SetShowHint(true);
    return form;
  }

  // Raises from a click handler reached through a posted mouse message.
  struct Raiser : TObject {
    void Click(TObject*) { throw EConvertError("boom"); }
  };
  void RaiseInLoop(TButton& button, Raiser& raiser) {
    button.SetOnClick(MakeMethod<&Raiser::Click>(&raiser));
    Application->PostMessage(button.Handle(), WM_LBUTTONUP);
    Process();
  }

  Log log;
};

TEST_F(AppLog, IsActiveAndHookedWhenCreatedAtRunTime) {
  const Slots before = Slots::Take();
  TZTAppLog logger(nullptr);
  EXPECT_TRUE(logger.Active());
  const Slots installed = Slots::Take();
  for (size_t i = 0; i < installed.methods.size(); ++i) {
    EXPECT_NE(installed.methods[i], before.methods[i]) << "slot " << i;
    EXPECT_EQ(installed.methods[i].Data, &logger) << "slot " << i;
  }
}

TEST_F(AppLog, WithoutHandlersEventsPassButExceptionsAreStillShown) {
  TZTAppLog logger(nullptr);
  TForm* form = MakeForm();
  form->Show();
  Headless().PostActivateApp(true);
  Headless().PostSysCommand(SC_MINIMIZE);
  Headless().PostSysCommand(SC_RESTORE);
  Headless().PostSettingChange();
  Headless().PostMouseMove(*static_cast<TButton*>(form->FindComponent("Button1")));
  Process();
  EXPECT_EQ(Application->Hint(), "Starts the work");
  ASSERT_EQ(Headless().Hints().size(), 1u);
  EXPECT_EQ(Headless().Hints()[0], "Go");
  EXPECT_TRUE(Headless().Shown().empty());

  Raiser raiser;
  RaiseInLoop(*static_cast<TButton*>(form->FindComponent("Button1")), raiser);
  ASSERT_EQ(Headless().Shown().size(), 1u);
  EXPECT_EQ(Headless().Shown()[0].Kind, skMessageBox);
  EXPECT_EQ(Headless().Shown()[0].Text, "boom.");
  EXPECT_EQ(Headless().Shown()[0].Icon, MB_ICONERROR);
}

// Each event from its real source: the previous handler first, then the developer's.
TEST_F(AppLog, ChainsEveryApplicationAndScreenEventPreviousFirst) {
  Recorder previous("prev", log), developer("dev", log);
  previous.InstallEverywhere();
  TZTAppLog logger(nullptr);
  developer.AssignTo(logger);
  TForm* form = MakeForm();
  auto* button = static_cast<TButton*>(form->FindComponent("Button1"));

  auto expect = [&](const String& event, auto trigger) {
    log.clear();
    trigger();
    EXPECT_EQ(log, (Log{"prev:" + event, "dev:" + event})) << event;
  };
  expect("Activate", [&] {
    Headless().PostActivateApp(true);
    Process();
  });
  expect("Deactivate", [&] {
    Headless().PostActivateApp(false);
    Process();
  });
  expect("Minimize", [&] {
    Headless().PostSysCommand(SC_MINIMIZE);
    Process();
  });
  expect("Restore", [&] {
    Headless().PostSysCommand(SC_RESTORE);
    Process();
  });
  expect("Message", [&] {
    Application->PostMessage(Application->Handle(), WM_USER + 7);
    Process();
  });
  expect("ActiveFormChange", [&] {
    form->Show();  // activation also focuses Edit1, checked below
    log.erase(std::remove_if(log.begin(), log.end(),
                             [](const String& s) { return s.find("ActiveControlChange") != String::npos; }),
              log.end());
  });
  expect("ActiveControlChange", [&] { static_cast<TEdit*>(form->FindComponent("Edit2"))->SetFocus(); });
  EXPECT_EQ(developer.lastSender, Screen);
  log.clear();
  Headless().PostMouseMove(*button);
  Process();
  EXPECT_EQ(log, (Log{"prev:Hint Starts the work", "dev:Hint Starts the work", "prev:ShowHint Go",
                      "dev:ShowHint Go!"}));
  ASSERT_EQ(Headless().Hints().size(), 1u);
  EXPECT_EQ(Headless().Hints()[0], "Go!!") << "both handlers edit the same hint text";
}

TEST_F(AppLog, MessageHandlersShareHandledAndTheFirstDoesNotStopTheSecond) {
  Recorder previous("prev", log), developer("dev", log);
  previous.InstallEverywhere();
  TZTAppLog logger(nullptr);
  developer.AssignTo(logger);
  struct Target : TObject {
    int received = 0;
    bool Hook(TMessage& m) {
      if (m.Msg == WM_USER + 7) ++received;
      return false;
    }
  } target;
  Application->HookMainWindow(MakeMethod<&Target::Hook>(&target));
  Application->PostMessage(Application->Handle(), WM_USER + 7);
  Process();
  EXPECT_EQ(log, (Log{"prev:Message", "dev:Message"}));
  EXPECT_FALSE(previous.handledSeen);
  EXPECT_TRUE(developer.handledSeen) << "the developer sees the Handled the previous handler set";
  EXPECT_EQ(target.received, 0) << "a handled message is not dispatched";
}

TEST_F(AppLog, IdleHandlersShareDone) {
  Recorder previous("prev", log), developer("dev", log);
  previous.InstallEverywhere();
  previous.doneResult = false;
  TZTAppLog logger(nullptr);
  developer.AssignTo(logger);
  developer.doneResult = false;  // so the loop does not wait afterwards
  Application->HandleMessage();  // nothing queued: the loop idles
  EXPECT_EQ(log, (Log{"prev:Idle", "dev:Idle"}));
  EXPECT_TRUE(previous.doneSeen);
  EXPECT_FALSE(developer.doneSeen) << "the developer sees the Done the previous handler set";
}

TEST_F(AppLog, ExceptionGoesToPreviousThenDeveloperThenTheStandardDisplay) {
  Recorder previous("prev", log), developer("dev", log);
  previous.InstallEverywhere();
  TZTAppLog logger(nullptr);
  developer.AssignTo(logger);
  TForm* form = MakeForm();
  auto* button = static_cast<TButton*>(form->FindComponent("Button1"));
  Raiser raiser;
  RaiseInLoop(*button, raiser);
  EXPECT_EQ(WithoutIdle(log), (Log{"prev:Exception boom", "dev:Exception boom"}));
  EXPECT_EQ(developer.lastSender, button);
  EXPECT_EQ(developer.boxesSeen, 0u) << "the display comes after both handlers";
  ASSERT_EQ(Headless().Shown().size(), 1u);
  EXPECT_EQ(Headless().Shown()[0].Text, "boom.");
}

TEST_F(AppLog, HelpAsksTheDeveloperFirstAndReturnsThePreviousResult) {
  Recorder previous("prev", log), developer("dev", log);
  previous.InstallEverywhere();
  previous.helpResult = true;
  developer.helpResult = false;
  TZTAppLog logger(nullptr);
  developer.AssignTo(logger);
  EXPECT_TRUE(Application->HelpCommand(HELP_CONTEXT, 17));
  EXPECT_EQ(log, (Log{"dev:Help 1,17", "prev:Help 1,17"}));

  previous.helpResult = false;
  developer.helpResult = true;
  EXPECT_FALSE(Application->HelpCommand(HELP_CONTEXT, 17)) << "the previous handler's result wins";

  // A help message posted to a control reaches the chain too.
  TForm* form = MakeForm();
  auto* edit = static_cast<TEdit*>(form->FindComponent("Edit1"));
  edit->SetHelpContext(99);
  log.clear();
  Headless().PostHelp(*edit);
  Process();
  EXPECT_EQ(log, (Log{"dev:Help 1,99", "prev:Help 1,99"}));
  EXPECT_TRUE(Headless().HelpCalls().empty()) << "both handlers cleared CallHelp";
}

TEST_F(AppLog, HelpWithoutPreviousHandlerGivesTheDevelopersResultElseFalse) {
  Recorder developer("dev", log);
  TZTAppLog logger(nullptr);
  developer.helpResult = true;
  logger.SetOnHelp(MakeMethod<&Recorder::Help>(&developer));
  EXPECT_TRUE(Application->HelpCommand(HELP_CONTEXT, 1));
  developer.helpResult = false;
  EXPECT_FALSE(Application->HelpCommand(HELP_CONTEXT, 1));

  logger.SetOnHelp(nullptr);
  EXPECT_FALSE(Application->HelpCommand(HELP_CONTEXT, 2));
  // With CallHelp left true the framework went on to the help system.
  ASSERT_EQ(Headless().HelpCalls().size(), 1u);
  EXPECT_EQ(Headless().HelpCalls()[0].Data, 2);
}

TEST_F(AppLog, SettingsChangeReachesTheDeveloperAndIsNotSwallowed) {
  Recorder developer("dev", log), later("later", log);
  TZTAppLog logger(nullptr);
  developer.AssignTo(logger);
  Application->HookMainWindow(MakeMethod<&Recorder::Hook>(&later));
  Headless().PostSettingChange();
  Application->PostMessage(Application->Handle(), WM_USER + 9);
  Process();
  EXPECT_EQ(log, (Log{"dev:Settings", "later:Hook 26", "later:Hook 1033"}));
  EXPECT_EQ(developer.lastSender, &logger);
}

TEST_F(AppLog, AnExceptionInTheSettingsHandlerGoesToTheApplicationsHandling) {
  Recorder developer("dev", log), later("later", log);
  TZTAppLog logger(nullptr);
  developer.AssignTo(logger);
  developer.raiseInSettings = true;
  Application->HookMainWindow(MakeMethod<&Recorder::Hook>(&later));
  Headless().PostSettingChange();
  Process();
  EXPECT_EQ(WithoutIdle(log), (Log{"dev:Settings", "dev:Exception settings handler failed", "later:Hook 26"}));
  EXPECT_EQ(developer.lastSender, &logger) << "HandleException gets the component as Sender";
  ASSERT_EQ(Headless().Shown().size(), 1u);
  EXPECT_EQ(Headless().Shown()[0].Text, "settings handler failed.");
}

TEST_F(AppLog, DeactivationAndDestructionPutBackExactlyWhatWasThere) {
  Recorder previous("prev", log), developer("dev", log), intruder("intruder", log);
  previous.InstallEverywhere();
  const Slots before = Slots::Take();
  {
    TZTAppLog logger(nullptr);
    developer.AssignTo(logger);
    SetActive(&logger, false);
    EXPECT_EQ(Slots::Take(), before);
    Headless().PostSettingChange();
    Process();
    EXPECT_TRUE(log.empty()) << "the hook went with deactivation";

    SetActive(&logger, true);
    // Someone installs a handler after the logger: deactivation drops it.
    intruder.InstallEverywhere();
  }
  EXPECT_EQ(Slots::Take(), before);
  Headless().PostSettingChange();
  Headless().PostActivateApp(true);
  Process();
  EXPECT_EQ(log, (Log{"prev:Activate"}));
}

TEST_F(AppLog, RepeatedActivationChangesNothing) {
  Recorder previous("prev", log), developer("dev", log);
  previous.InstallEverywhere();
  TZTAppLog logger(nullptr);
  developer.AssignTo(logger);
  const Slots installed = Slots::Take();
  SetActive(&logger, true);
  EXPECT_EQ(Slots::Take(), installed);
  Headless().PostActivateApp(true);
  Headless().PostSettingChange();
  Process();
  EXPECT_EQ(log, (Log{"prev:Activate", "dev:Activate", "dev:Settings"}));

  SetActive(&logger, false);
  const Slots removed = Slots::Take();
  SetActive(&logger, false);
  EXPECT_EQ(Slots::Take(), removed);
}

TEST_F(AppLog, DevelopersScreenHandlersSurviveActivation) {
  Recorder previous("prev", log), developer("dev", log);
  previous.InstallEverywhere();
  TZTAppLog logger(nullptr);
  SetActive(&logger, false);
  logger.SetOnActiveFormChange(MakeMethod<&Recorder::FormChange>(&developer));
  SetActive(&logger, true);
  EXPECT_EQ(logger.OnActiveFormChange(), MakeMethod<&Recorder::FormChange>(&developer));
  MakeForm()->Show();
  Log forms;
  for (const String& s : log)
    if (s.find("ActiveFormChange") != String::npos) forms.push_back(s);
  EXPECT_EQ(forms, (Log{"prev:ActiveFormChange", "dev:ActiveFormChange"}));
}

TEST_F(AppLog, AtDesignTimeOnlyTheFlagChanges) {
  TComponent designed(nullptr);
  designed.SetDesigning(true);
  const Slots before = Slots::Take();
  auto* logger = new TZTAppLog(&designed);
  EXPECT_TRUE(logger->ComponentState().Contains(csDesigning));
  EXPECT_TRUE(logger->Active());
  EXPECT_EQ(Slots::Take(), before);
  SetActive(logger, false);
  EXPECT_FALSE(logger->Active());
  SetActive(logger, true);
  EXPECT_EQ(Slots::Take(), before);
  Recorder developer("dev", log);
  logger->SetOnSettingsChanged(MakeMethod<&Recorder::Settings>(&developer));
  Headless().PostSettingChange();
  Process();
  EXPECT_TRUE(log.empty()) << "nothing is hooked in the designer";
}

TEST_F(AppLog, TwoLoggersChainAndUnchainInOrder) {
  Recorder previous("prev", log), first("A", log), second("B", log);
  previous.InstallEverywhere();
  TZTAppLog a(nullptr);
  first.AssignTo(a);
  auto b = std::make_unique<TZTAppLog>(nullptr);
  second.AssignTo(*b);
  Headless().PostActivateApp(true);
  Headless().PostSettingChange();
  Process();
  EXPECT_EQ(log, (Log{"prev:Activate", "A:Activate", "B:Activate", "A:Settings", "B:Settings"}));

  // Each logger shows the exception once more after its own handlers.
  log.clear();
  TForm* form = MakeForm();
  Raiser raiser;
  RaiseInLoop(*static_cast<TButton*>(form->FindComponent("Button1")), raiser);
  EXPECT_EQ(WithoutIdle(log), (Log{"prev:Exception boom", "A:Exception boom", "B:Exception boom"}));
  EXPECT_EQ(Headless().Shown().size(), 2u);

  b.reset();
  log.clear();
  Headless().PostActivateApp(false);
  Process();
  EXPECT_EQ(log, (Log{"prev:Deactivate", "A:Deactivate"}));
  EXPECT_EQ(Application->OnDeactivate().Data(), &a);
}

TEST_F(AppLog, WorksWithoutAScreen) {
  delete Screen;
  ASSERT_EQ(Screen, nullptr);
  Recorder developer("dev", log);
  {
    TZTAppLog logger(nullptr);
    developer.AssignTo(logger);
    Headless().PostActivateApp(true);
    Process();
    SetActive(&logger, false);
  }
  EXPECT_EQ(log, (Log{"dev:Activate"}));
}

class AppLogLoading : public AppLog {
 protected:
  void SetUp() override {
    AppLog::SetUp();
    RegisterClass(TZTAppLog::StaticClass());
  }
  String Design(bool active) {
    return String("object Module1: TDataModule\n  object AppLog1: TZTAppLog\n    Active = ") +
           (active ? "True" : "False") + "\n  end\nend\n";
  }
};

TEST_F(AppLogLoading, StoredActiveTrueHooksExactlyOnce) {
  Recorder previous("prev", log), developer("dev", log);
  previous.InstallEverywhere();
  TDataModule module(nullptr);
  TextToComponent(Design(true), &module);
  auto* logger = dynamic_cast<TZTAppLog*>(module.FindComponent("AppLog1"));
  ASSERT_NE(logger, nullptr);
  EXPECT_TRUE(logger->Active());
  developer.AssignTo(*logger);
  Headless().PostActivateApp(true);
  Headless().PostSettingChange();
  Process();
  EXPECT_EQ(log, (Log{"prev:Activate", "dev:Activate", "dev:Settings"}));
}

TEST_F(AppLogLoading, StoredActiveFalseLeavesTheApplicationAsItWas) {
  Recorder previous("prev", log);
  previous.InstallEverywhere();
  const Slots before = Slots::Take();
  TDataModule module(nullptr);
  TextToComponent(Design(false), &module);
  auto* logger = dynamic_cast<TZTAppLog*>(module.FindComponent("AppLog1"));
  ASSERT_NE(logger, nullptr);
  EXPECT_FALSE(logger->Active());
  EXPECT_EQ(Slots::Take(), before);
}

TEST_F(AppLogLoading, ActiveIsAlwaysWrittenAndTheEventsArePublishedInOrder) {
  TDataModule module(nullptr);
  auto* logger = new TZTAppLog(&module);
  logger->SetName("AppLog1");
  EXPECT_NE(ComponentToText(&module).find("Active = True"), String::npos);
  std::vector<String> events;
  for (const TPropInfo* p : TZTAppLog::StaticClass()->Properties())
    if (p->Kind == tkMethod) events.push_back(p->Name);
  EXPECT_EQ(events, (std::vector<String>{"OnActivate", "OnDeactivate", "OnException", "OnIdle", "OnHelp", "OnHint",
                                         "OnMessage", "OnMinimize", "OnRestore", "OnShowHint", "OnSettingsChanged",
                                         "OnActiveControlChange", "OnActiveFormChange"}));
}

}  // namespace
}  // namespace ztl
