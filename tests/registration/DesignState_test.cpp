// Components that a design host creates from the registered classes are in
// design state from their constructor on: each installs, writes, opens and
// starts nothing there, whatever its properties say.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "tests/support/TestDir.h"
#include <ztlogger/applog/LogApp.h>
#include <ztlogger/checks/ZTLChecks.h>
#include <ztlogger/datasetlog/LogDS.h>
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/filelog/LogFile.h>
#include <ztlogger/ntlog/LogNT.h>
#include <ztlogger/platform/classes/DataModule.h>
#include <ztlogger/platform/classes/Registration.h>
#include <ztlogger/platform/db/SQLiteDB.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/Registry.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Threads.h>
#include <ztlogger/registrylog/LogRegistry.h>

namespace ztl {
namespace {

struct Recorder : TObject {
  int calls = 0;
  void Notified(TObject*) { ++calls; }
  void FileNotified(TObject*, TFileNotificationOption) { ++calls; }
};

class DesignStateThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetApplicationState();
    module = LoadPackage(ZTL_COMPONENT_LIBRARY);
  }
  void TearDown() override {
    host.reset();
    UnloadPackage(module);
  }
  template <typename C>
  C* Create(const String& className) {
    auto* component = dynamic_cast<C*>(CreateDesignComponent(className, host.get()));
    EXPECT_NE(component, nullptr);
    EXPECT_TRUE(component->ComponentState().Contains(csDesigning));
    return component;
  }
  // Serves worker calls until the recorder heard something or the time is up.
  static void Pump(const Recorder& r, std::chrono::milliseconds time) {
    const auto until = std::chrono::steady_clock::now() + time;
    while (r.calls == 0 && std::chrono::steady_clock::now() < until) CheckSynchronize(10);
  }

  test::TestDir dir;
  HMODULE module = nullptr;
  std::unique_ptr<TDataModule> host = std::make_unique<TDataModule>(nullptr);
  Recorder recorder;
};

TEST_F(DesignStateThreads, TheExceptionLoggerInstallsNoHandler) {
  Create<TZTExceptionLog>("TZTExceptionLog");
  EXPECT_FALSE(Application->OnException().Assigned());
}

TEST_F(DesignStateThreads, TheApplicationEventLoggerHooksNoEvent) {
  auto* log = Create<TZTAppLog>("TZTAppLog");
  log->SetActive(true);
  EXPECT_FALSE(Application->OnActivate().Assigned());
}

TEST_F(DesignStateThreads, TheDatasetLoggerWritesNothing) {
  TSQLiteConnection connection(nullptr);
  connection.SetDatabaseName(dir.File("shop.db"));
  connection.ExecSQL(
      "CREATE TABLE Customer (Id INTEGER PRIMARY KEY, Name TEXT); INSERT INTO Customer VALUES (1, 'Jon');");
  TSQLiteTable table(nullptr);
  table.SetConnection(&connection);
  table.SetTableName("Customer");
  TDataSource source(nullptr);
  source.SetDataSet(&table);
  auto* log = Create<TZTDatasetLog>("TZTDatasetLog");
  log->SetLogFile(dir.File("changes.log"));
  log->SetActive(true);
  log->SetDataSource(&source);
  table.Open();
  table.Edit();
  table.FieldByName("Name")->SetAsString("John");
  table.Post();
  EXPECT_FALSE(FileExists(dir.File("changes.log")));
}

TEST_F(DesignStateThreads, TheFolderWatcherStartsNoWorker) {
  auto* log = Create<TZTFileLog>("TZTFileLog");
  log->SetOnFileNotification(MakeMethod<&Recorder::FileNotified>(&recorder));
  log->SetFolder(dir.Path());
  log->SetActive(true);
  static_cast<TComponent*>(log)->Loaded();  // as after the host read a stored form
  std::ofstream(dir.File("new.txt")) << "x";
  Pump(recorder, std::chrono::milliseconds(300));
  EXPECT_EQ(recorder.calls, 0);
  // The same component out of design state watches: the wait above is long enough.
  host->SetDesigning(false);
  log->SetActive(false);
  log->SetActive(true);
  std::ofstream(dir.File("other.txt")) << "x";
  Pump(recorder, std::chrono::seconds(2));
  EXPECT_GT(recorder.calls, 0);
}

TEST_F(DesignStateThreads, TheRegistryWatcherStartsNoWorker) {
  TRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("Software\\Velmora", true));
  auto* log = Create<TZTRegistryLog>("TZTRegistryLog");
  log->SetOnRegistryNotification(MakeMethod<&Recorder::Notified>(&recorder));
  log->SetKey("Software\\Velmora");
  log->SetActive(true);
  static_cast<TComponent*>(log)->Loaded();  // as after the host read a stored form
  // A subkey added: a change its default options watch.
  ASSERT_TRUE(reg.CreateKey("Designed"));
  Pump(recorder, std::chrono::milliseconds(300));
  EXPECT_EQ(recorder.calls, 0);
  // The same component out of design state watches: the wait above is long enough.
  host->SetDesigning(false);
  log->SetActive(false);
  log->SetActive(true);
  Pump(recorder, std::chrono::milliseconds(300));  // its worker registers with the store
  EXPECT_EQ(recorder.calls, 0) << "nothing has changed since";
  ASSERT_TRUE(reg.CreateKey("Running"));
  Pump(recorder, std::chrono::seconds(2));
  EXPECT_GT(recorder.calls, 0);
}

TEST_F(DesignStateThreads, TheEventLogComponentOpensNoLog) {
  auto* log = Create<TZTNTEventLog>("TZTNTEventLog");
  log->SetServer("\\\\elsewhere");
  EXPECT_NO_THROW(log->SetActive(true));
  EXPECT_TRUE(log->Active());
  TZTNTEventLog running(nullptr);
  running.SetServer("\\\\elsewhere");
  EXPECT_THROW(running.SetActive(true), EOSError) << "at run time the same settings open the log";
}

TEST_F(DesignStateThreads, TheCheckProcessorMarksNothing) {
  TForm* form = new TForm(host.get());
  auto* processor = static_cast<TZTLCheckProcessor*>(CreateDesignComponent("TZTLCheckProcessor", form));
  EXPECT_TRUE(processor->ComponentState().Contains(csDesigning));
  EXPECT_FALSE(processor->DefaultPicture()->Graphic()->Empty()) << "the failure mark comes from the module";
  auto* edit = new TEdit(form);
  edit->SetParent(form);
  auto* provider = new TZTLCheckProviderEdit(processor->CheckProviders());
  provider->SetCheckControl(edit);
  static_cast<TComponent*>(processor)->Loaded();  // as after the host read a stored form
  EXPECT_EQ(form->ControlCount(), 1) << "designing, loading and a failing provider place no mark";
  EXPECT_EQ(provider->LinkedImage(), nullptr);
  // At run time the same check marks the empty required edit.
  host->SetDesigning(false);
  EXPECT_FALSE(processor->Execute());
  EXPECT_EQ(form->ControlCount(), 2);
  ASSERT_NE(provider->LinkedImage(), nullptr);
  EXPECT_EQ(provider->LinkedImage()->Parent(), form);
}

}  // namespace
}  // namespace ztl
