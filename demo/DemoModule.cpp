#include "demo/DemoModule.h"

#include "platform/classes/ClassBuilder.h"
#include "platform/rtl/SysUtils.h"

namespace demo {

using namespace ztl;

ZTL_BEGIN_CLASS(TDemoModule, TDataModule)
  .Method<&Self::DemoModuleCreate>("DemoModuleCreate")
  .Field("TextLog", &Self::TextLog)
  .Field("XmlLog", &Self::XmlLog)
ZTL_END_CLASS

TDemoModule::TDemoModule(TComponent* AOwner, const String& OutputFolder)
    : TDataModule(AOwner), outputFolder_(OutputFolder) {
  CreateFromStoredForm();
}

void TDemoModule::DemoModuleCreate(TObject*) {
  // The stored names are relative; keep the demo's files together.
  for (TZTLogBase* log : {TextLog, XmlLog}) {
    log->SetLogFile(IncludeTrailingPathDelimiter(outputFolder_) + log->LogFile());
    log->ClearLog();
  }
}

}  // namespace demo
