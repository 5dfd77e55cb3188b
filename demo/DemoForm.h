#pragma once
// The demo's main form, read from the stored form TDemoForm.dfm: its button
// runs an order lookup that fails with an access violation.
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/StdCtrls.h>

namespace demo {

class TDemoForm : public ztl::TForm {
  ZTL_DECLARE_CLASS(TDemoForm, ztl::TForm)

 public:
  explicit TDemoForm(ztl::TComponent* AOwner);

  ztl::TEdit* edtOrder = nullptr;
  ztl::TButton* btnLookup = nullptr;

  void btnLookupClick(ztl::TObject* Sender);
};

}  // namespace demo
