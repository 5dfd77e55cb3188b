#include "demo/DemoModule.h"

#include <cstdio>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/rtl/Registry.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace demo {

using namespace ztl;

ZTL_BEGIN_CLASS(TDemoModule, TDataModule)
  .Method<&Self::DemoModuleCreate>("DemoModuleCreate")
  .Method<&Self::AppEventsActiveFormChange>("AppEventsActiveFormChange")
  .Method<&Self::AppEventsActiveControlChange>("AppEventsActiveControlChange")
  .Method<&Self::CustomerLogSQLStatement>("CustomerLogSQLStatement")
  .Method<&Self::FolderWatchNotification>("FolderWatchNotification")
  .Method<&Self::RegistryWatchNotification>("RegistryWatchNotification")
  .Field("TextLog", &Self::TextLog)
  .Field("XmlLog", &Self::XmlLog)
  .Field("ExceptionLog", &Self::ExceptionLog)
  .Field("AppEvents", &Self::AppEvents)
  .Field("Database", &Self::Database)
  .Field("Customers", &Self::Customers)
  .Field("CustomerSource", &Self::CustomerSource)
  .Field("CustomerLog", &Self::CustomerLog)
  .Field("FolderWatch", &Self::FolderWatch)
  .Field("EventLog", &Self::EventLog)
  .Field("RegistryWatch", &Self::RegistryWatch)
ZTL_END_CLASS

TDemoModule::TDemoModule(TComponent* AOwner, const String& OutputFolder)
    : TDataModule(AOwner), outputFolder_(OutputFolder) {
  CreateFromStoredForm();
}

TDemoModule::~TDemoModule() {
  for (TZTLogBase* component : {static_cast<TZTLogBase*>(FolderWatch), static_cast<TZTLogBase*>(RegistryWatch),
                                static_cast<TZTLogBase*>(AppEvents)})
    if (component) component->SetActive(false);
}

void TDemoModule::DemoModuleCreate(TObject*) {
  // The stored names are relative; keep the demo's files together.
  const String folder = IncludeTrailingPathDelimiter(outputFolder_);
  for (TZTLogBase* log :
       {TextLog, XmlLog, static_cast<TZTLogBase*>(ExceptionLog), static_cast<TZTLogBase*>(CustomerLog)}) {
    log->SetLogFile(folder + log->LogFile());
    log->ClearLog();
  }
  // Each run starts from a new database.
  DeleteFile(folder + Database->DatabaseName());
  Database->SetDatabaseName(folder + Database->DatabaseName());
  Database->ExecSQL(
      "CREATE TABLE Customer (Id INTEGER PRIMARY KEY, Name TEXT NOT NULL, City TEXT);"
      "INSERT INTO Customer VALUES (1, 'Jon', 'Paris'), (2, 'Bea', 'Oslo');");
  Customers->Open();
  FolderWatch->SetFolder(outputFolder_);
  FolderWatch->SetActive(true);
  // The watcher's worker opens its key: it has to be there first.
  TRegistry reg;
  reg.SetRootKey(RegistryWatch->RootKey());
  if (!reg.OpenKey(RegistryWatch->Key(), true)) throw ERegistryException("Cannot create " + RegistryWatch->Key());
  RegistryWatch->SetActive(true);
  AppEvents->SetActive(true);
}

void TDemoModule::AppEventsActiveFormChange(TObject*) {
  ++AppEventCount;
  std::printf("Application event: active form %s\n",
              Screen->ActiveForm() ? Screen->ActiveForm()->Name().c_str() : "(none)");
}

void TDemoModule::AppEventsActiveControlChange(TObject*) {
  ++AppEventCount;
  std::printf("Application event: active control %s\n",
              Screen->ActiveControl() ? Screen->ActiveControl()->Name().c_str() : "(none)");
}

void TDemoModule::CustomerLogSQLStatement(TObject*, const String& SQL) { Statements.push_back(SQL); }

void TDemoModule::FolderWatchNotification(TObject*, TFileNotificationOption Action) {
  ++FolderChanges;
  std::printf("Folder change in %s: %s\n", outputFolder_.c_str(), GetEnumName(EnumTypeInfo(Action), Action).c_str());
}

void TDemoModule::RegistryWatchNotification(TObject*) {
  ++RegistryChanges;
  std::printf("Registry change under HKEY_LOCAL_MACHINE\\%s\n", RegistryWatch->Key().c_str());
}

}  // namespace demo
