#pragma once
// The demo's data module: its log components come from the stored form
// TDemoModule.dfm, embedded as a module resource.
#include "core/LogBase.h"
#include "exceptionlog/LogError.h"
#include "filelog/LogFile.h"
#include "platform/classes/DataModule.h"

namespace demo {

class TDemoModule : public ztl::TDataModule {
  ZTL_DECLARE_CLASS(TDemoModule, ztl::TDataModule)

 public:
  // Reads the stored form; OnCreate then puts the logs into OutputFolder.
  TDemoModule(ztl::TComponent* AOwner, const ztl::String& OutputFolder);

  ztl::TZTLogBase* TextLog = nullptr;
  ztl::TZTLogBase* XmlLog = nullptr;
  ztl::TZTExceptionLog* ExceptionLog = nullptr;
  // Watches the output folder: each change is printed and counted.
  ztl::TZTFileLog* FolderWatch = nullptr;
  int FolderChanges = 0;

 private:
  void DemoModuleCreate(ztl::TObject* Sender);
  void FolderWatchNotification(ztl::TObject* Sender, ztl::TFileNotificationOption Action);

  ztl::String outputFolder_;
};

}  // namespace demo
