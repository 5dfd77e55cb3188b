#pragma once
// The input validation demo: a form read from its stored form, with one check
// provider of each kind, checked once with bad input and once corrected.
#include <ztlogger/checks/ZTLChecks.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/StdCtrls.h>

namespace demo {

class TCheckDemoForm : public ztl::TForm {
  ZTL_DECLARE_CLASS(TCheckDemoForm, ztl::TForm)

 public:
  explicit TCheckDemoForm(ztl::TComponent* AOwner);

  ztl::TEdit* edtName = nullptr;
  ztl::TEdit* edtAge = nullptr;
  ztl::TComboBox* cbxCountry = nullptr;
  ztl::TCheckBox* chkTerms = nullptr;
  ztl::TZTLCheckProcessor* Checks = nullptr;
};

// Shows the form, runs the checks with bad input and after correcting it,
// and prints what the user would see: marks, tooltips, focus, beeps.
void RunCheckDemo();

}  // namespace demo
