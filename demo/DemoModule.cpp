#include "demo/DemoModule.h"

#include <cstdio>

#include "platform/classes/ClassBuilder.h"
#include "platform/rtl/SysUtils.h"

namespace demo {

using namespace ztl;

ZTL_BEGIN_CLASS(TDemoModule, TDataModule)
  .Method<&Self::DemoModuleCreate>("DemoModuleCreate")
  .Method<&Self::FolderWatchNotification>("FolderWatchNotification")
  .Field("TextLog", &Self::TextLog)
  .Field("XmlLog", &Self::XmlLog)
  .Field("ExceptionLog", &Self::ExceptionLog)
  .Field("FolderWatch", &Self::FolderWatch)
ZTL_END_CLASS

TDemoModule::TDemoModule(TComponent* AOwner, const String& OutputFolder)
    : TDataModule(AOwner), outputFolder_(OutputFolder) {
  CreateFromStoredForm();
}

void TDemoModule::DemoModuleCreate(TObject*) {
  // The stored names are relative; keep the demo's files together.
  for (TZTLogBase* log : {TextLog, XmlLog, static_cast<TZTLogBase*>(ExceptionLog)}) {
    log->SetLogFile(IncludeTrailingPathDelimiter(outputFolder_) + log->LogFile());
    log->ClearLog();
  }
  FolderWatch->SetFolder(outputFolder_);
  FolderWatch->SetActive(true);
}

void TDemoModule::FolderWatchNotification(TObject*, TFileNotificationOption Action) {
  ++FolderChanges;
  std::printf("Folder change in %s: %s\n", outputFolder_.c_str(), GetEnumName(EnumTypeInfo(Action), Action).c_str());
}

}  // namespace demo
