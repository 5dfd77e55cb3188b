// The registry change logger, driven by real changes of a test's own
// registry: made in this process and by a second one through ztl-reg.
#include <ztlogger/registrylog/LogRegistry.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/classes/Bind.h>
#include <ztlogger/platform/classes/DataModule.h>
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/classes/Registration.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/rtl/Registry.h>
#include <ztlogger/platform/rtl/Threads.h>

namespace ztl {
namespace {

// Handlers are methods of framework objects.
struct Counter : TObject {
  std::vector<TObject*> senders;
  void Count(TObject* sender) {
    EXPECT_TRUE(IsMainThread());
    senders.push_back(sender);
  }
};

class RegistryLogThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetApplicationState();
    RegisterClass(TZTRegistryLog::StaticClass());
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.CreateKey("Software\\Velmora\\Sub"));
    ASSERT_TRUE(reg.CreateKey("Software\\Other"));
    log = std::make_unique<TZTRegistryLog>(nullptr);
    Listen(log.get(), counter);
  }
  void TearDown() override { log.reset(); }

  static void Listen(TZTRegistryLog* component, Counter& to) {
    component->SetOnRegistryNotification(MakeMethod<&Counter::Count>(&to));
  }
  // Serves the worker's calls until `count` reports arrived or two seconds passed.
  void PumpFor(size_t count, const Counter& of) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (of.senders.size() < count && std::chrono::steady_clock::now() < deadline) CheckSynchronize(10);
  }
  void PumpFor(size_t count) { PumpFor(count, counter); }
  // Serves the worker's calls for a while; for changes that must not be reported.
  static void PumpQuietly() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < until) CheckSynchronize(10);
  }
  // Starts a worker and lets it register before anything changes.
  void Activate(TZTRegistryLog* component) {
    component->SetActive(true);
    PumpQuietly();
  }
  void SetValue(const String& key, const String& name, int32_t value) {
    TRegistry writer;
    writer.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(writer.OpenKey(key, true));
    writer.WriteInteger(name, value);
  }
  static int Tool(const std::string& arguments) {
    return test::RunCommandLine(test::ShellQuoted(ZTL_REG_PATH) + " " + arguments).status;
  }

  test::TestDir dir;
  TRegistry reg;
  std::unique_ptr<TZTRegistryLog> log;
  Counter counter;
};

TEST_F(RegistryLogThreads, DefaultsReportSubkeysNotValuesUnlessLastSetIsChosen) {
  EXPECT_EQ(log->RootKey(), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(log->Key(), "Software\\Velmora");
  EXPECT_EQ(log->Options(), (TRegistryNotificationOptions{roName, roAttributes}));
  Activate(log.get());
  SetValue("Software\\Velmora", "Value", 1);
  PumpQuietly();
  EXPECT_TRUE(counter.senders.empty());
  ASSERT_TRUE(reg.CreateKey("Software\\Velmora\\Added"));
  PumpFor(1);
  EXPECT_EQ(counter.senders, std::vector<TObject*>{log.get()});

  log->SetActive(false);
  log->SetOptions({roName, roAttributes, roLastSet});
  Activate(log.get());
  ASSERT_EQ(Tool("add 'HKLM\\Software\\Velmora' /v FromTool /t REG_DWORD /d 5 /f"), 0);  // another process
  PumpFor(2);
  EXPECT_EQ(counter.senders.size(), 2u);
}

TEST_F(RegistryLogThreads, SubkeysAreWatchedOnlyWithTheirOption) {
  log->SetOptions({roLastSet});
  Activate(log.get());
  SetValue("Software\\Velmora\\Sub", "Deep", 1);
  PumpQuietly();
  EXPECT_TRUE(counter.senders.empty());
  log->SetActive(false);
  log->SetOptions({roLastSet, roWatchSubFolders});
  Activate(log.get());
  ASSERT_EQ(Tool("add 'HKLM\\Software\\Velmora\\Sub' /v Deep /t REG_DWORD /d 2 /f"), 0);
  PumpFor(1);
  EXPECT_EQ(counter.senders.size(), 1u);
}

// The failure reaches the application once, from the main thread, while the
// activation itself succeeds.
TEST_F(RegistryLogThreads, AKeyThatCannotBeOpenedGoesToTheApplicationOnce) {
  TComponent handlerOwner(nullptr);
  std::vector<String> errors;
  Application->SetOnException(Bind(&handlerOwner, [&](TObject* Sender, Exception* E) {
    EXPECT_TRUE(IsMainThread());
    EXPECT_EQ(Sender, log.get());
    EXPECT_TRUE(dynamic_cast<ERegistryNotificationError*>(E));
    errors.push_back(E->Message());
  }));
  log->SetKey("Software\\Missing");
  log->SetOptions({roName, roLastSet});
  EXPECT_NO_THROW(log->SetActive(true));
  EXPECT_TRUE(log->Active());
  PumpQuietly();
  EXPECT_EQ(errors, std::vector<String>{"Unable to open registry keySoftware\\Missing"});
  ASSERT_TRUE(reg.CreateKey("Software\\Missing\\Now"));  // the key appears after the worker gave up
  SetValue("Software\\Missing", "x", 1);
  PumpQuietly();
  EXPECT_TRUE(counter.senders.empty());
  EXPECT_EQ(errors.size(), 1u);
  log->SetActive(false);  // stopping a worker that ended on its own
}

// Registered before SetActive returns: a value set at once, by this process
// or by another, is reported every time, and once.
TEST_F(RegistryLogThreads, EveryValueSetRightAfterActivationIsReportedOnce) {
  log->SetOptions({roLastSet});
  for (size_t round = 1; round <= 1000; ++round) {
    log->SetActive(true);
    if (round % 25 == 0)
      ASSERT_EQ(Tool("add 'HKLM\\Software\\Velmora' /v Round /t REG_DWORD /d " + std::to_string(round) + " /f"), 0);
    else
      SetValue("Software\\Velmora", "Round", static_cast<int32_t>(round));
    PumpFor(round);
    log->SetActive(false);
    ASSERT_EQ(counter.senders.size(), round) << "round " << round;
  }
}

TEST_F(RegistryLogThreads, ChangingTheKeyWhileActiveTakesEffectAtTheNextActivation) {
  Activate(log.get());
  log->SetKey("Software\\Other");
  ASSERT_TRUE(reg.CreateKey("Software\\Other\\New"));
  PumpQuietly();
  EXPECT_TRUE(counter.senders.empty());
  ASSERT_TRUE(reg.CreateKey("Software\\Velmora\\StillWatched"));
  PumpFor(1);
  EXPECT_EQ(counter.senders.size(), 1u);
  log->SetActive(false);
  Activate(log.get());
  ASSERT_TRUE(reg.CreateKey("Software\\Other\\Newer"));
  PumpFor(2);
  EXPECT_EQ(counter.senders.size(), 2u);
}

TEST_F(RegistryLogThreads, TwoWatchersOfDifferentKeysEachReportOnlyTheirOwn) {
  Counter otherCounter;
  TZTRegistryLog other(nullptr);
  other.SetKey("Software\\Other");
  Listen(&other, otherCounter);
  Activate(log.get());
  Activate(&other);
  ASSERT_TRUE(reg.CreateKey("Software\\Other\\Mine"));
  PumpFor(1, otherCounter);
  PumpQuietly();
  EXPECT_EQ(otherCounter.senders, std::vector<TObject*>{&other});
  EXPECT_TRUE(counter.senders.empty());
  ASSERT_EQ(Tool("add 'HKLM\\Software\\Velmora\\Yours'"), 0);
  PumpFor(1);
  PumpQuietly();
  EXPECT_EQ(counter.senders, std::vector<TObject*>{log.get()});
  EXPECT_EQ(otherCounter.senders.size(), 1u);
}

TEST_F(RegistryLogThreads, ActivatingTwiceLeavesOneWorkerAndStoppingNeedsNoChange) {
  Activate(log.get());
  log->SetActive(true);
  ASSERT_TRUE(reg.CreateKey("Software\\Velmora\\Once"));
  PumpFor(2);
  PumpQuietly();
  EXPECT_EQ(counter.senders.size(), 1u);  // a second worker would report it again
  log->SetActive(false);                  // returns although nothing changes: the stop event wakes the worker
  EXPECT_FALSE(log->Active());
  ASSERT_TRUE(reg.CreateKey("Software\\Velmora\\AfterStop"));
  PumpQuietly();
  EXPECT_EQ(counter.senders.size(), 1u);
}

TEST_F(RegistryLogThreads, AStoredActiveComponentWatchesItsStoredKeyOnceLoaded) {
  TDataModule module(nullptr);
  TextToComponent(
      "object Module1: TDataModule\n  object RegistryLog1: TZTRegistryLog\n    Active = True\n"
      "    Key = 'Software\\Other'\n    Options = [roLastSet]\n  end\nend\n",
      &module);
  auto* stored = dynamic_cast<TZTRegistryLog*>(module.FindComponent("RegistryLog1"));
  ASSERT_NE(stored, nullptr);
  Listen(stored, counter);
  PumpQuietly();
  SetValue("Software\\Velmora", "NotThis", 1);
  SetValue("Software\\Other", "This", 1);
  PumpFor(1);
  PumpQuietly();
  EXPECT_EQ(counter.senders, std::vector<TObject*>{stored});
  const String text = ComponentToText(&module);
  EXPECT_NE(text.find("Options = [roLastSet]"), String::npos);
  EXPECT_EQ(text.find("RootKey"), String::npos);  // the default is not stored
  stored->SetRootKey(HKEY_CURRENT_USER);
  EXPECT_NE(ComponentToText(&module).find("RootKey = 2147483649"), String::npos);
}

}  // namespace
}  // namespace ztl
