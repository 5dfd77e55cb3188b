#include <ztlogger/platform/classes/DataModule.h>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/classes/Filer.h>

namespace ztl {

ZTL_BEGIN_CLASS(TDataModule, TComponent)
  .Property("OnCreate", &Self::OnCreate, &Self::SetOnCreate)
ZTL_END_CLASS

TDataModule::TDataModule(TComponent* AOwner) : TComponent(AOwner) {}

void TDataModule::CreateFromStoredForm() {
  InitInheritedComponent(this);
  if (onCreate_) onCreate_(this);
}

}  // namespace ztl
