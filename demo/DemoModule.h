#pragma once
// The demo's data module: the seven kinds of component a design host puts on
// its palette (all but the check processor, which lives on the check form
// beside the controls it checks) and two plain logs, from the stored form
// TDemoModule.dfm, embedded as a module resource.
#include <vector>

#include <ztlogger/applog/LogApp.h>
#include <ztlogger/core/LogBase.h>
#include <ztlogger/datasetlog/LogDS.h>
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/filelog/LogFile.h>
#include <ztlogger/ntlog/LogNT.h>
#include <ztlogger/platform/classes/DataModule.h>
#include <ztlogger/platform/db/SQLiteDB.h>
#include <ztlogger/registrylog/LogRegistry.h>

namespace demo {

class TDemoModule : public ztl::TDataModule {
  ZTL_DECLARE_CLASS(TDemoModule, ztl::TDataModule)

 public:
  // Reads the stored form; OnCreate then puts the logs and a fresh database
  // with a Customer table into OutputFolder, opens the table, creates the
  // watched registry key and starts both watchers.
  TDemoModule(ztl::TComponent* AOwner, const ztl::String& OutputFolder);
  // Stops the watchers and the application event logger while this module's
  // handlers can still run: freeing one watcher serves every change still
  // waiting for the main thread, the other watcher's too.
  ~TDemoModule() override;

  ztl::TZTLogBase* TextLog = nullptr;
  ztl::TZTLogBase* XmlLog = nullptr;
  ztl::TZTExceptionLog* ExceptionLog = nullptr;
  // Prints the application's changes of active form and control.
  ztl::TZTAppLog* AppEvents = nullptr;
  ztl::TSQLiteConnection* Database = nullptr;
  ztl::TSQLiteTable* Customers = nullptr;
  ztl::TDataSource* CustomerSource = nullptr;
  // Writes a CHANGE line for each edit and hands over the statement of each post.
  ztl::TZTDatasetLog* CustomerLog = nullptr;
  // Watches the output folder: each change is printed and counted.
  ztl::TZTFileLog* FolderWatch = nullptr;
  ztl::TZTNTEventLog* EventLog = nullptr;
  // Watches its key: each change is printed and counted.
  ztl::TZTRegistryLog* RegistryWatch = nullptr;

  int FolderChanges = 0;
  int RegistryChanges = 0;
  int AppEventCount = 0;
  // The statements the dataset logger handed over, in order.
  std::vector<ztl::String> Statements;

 private:
  void DemoModuleCreate(ztl::TObject* Sender);
  void AppEventsActiveFormChange(ztl::TObject* Sender);
  void AppEventsActiveControlChange(ztl::TObject* Sender);
  void CustomerLogSQLStatement(ztl::TObject* Sender, const ztl::String& SQL);
  void FolderWatchNotification(ztl::TObject* Sender, ztl::TFileNotificationOption Action);
  void RegistryWatchNotification(ztl::TObject* Sender);

  ztl::String outputFolder_;
};

}  // namespace demo
