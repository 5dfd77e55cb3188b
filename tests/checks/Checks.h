#pragma once
// A shown form with one input control of each kind on a panel, and a check
// processor owned by the form.
#include <gtest/gtest.h>

#include <ztlogger/checks/ZTLChecks.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/forms/Testing.h>

namespace ztl::test {

class CheckForm : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetApplicationState();
    Form = new TForm(Application);
    Form->SetName("Form1");
    Panel = Add<TPanel>(Form, "Panel1", 10, 10);
    Edit = Add<TEdit>(Panel, "Edit1", 8, 8);
    Memo = Add<TMemo>(Panel, "Memo1", 8, 40);
    Number = Add<TEdit>(Panel, "Number1", 8, 140);
    Check = Add<TCheckBox>(Panel, "Check1", 8, 170);
    Combo = Add<TComboBox>(Panel, "Combo1", 8, 200);
    Label = Add<TLabel>(Panel, "Label1", 8, 230);
    Label->SetAutoSize(false);  // keeps its size through a stored form
    Processor = new TZTLCheckProcessor(Form);
    Processor->SetName("Checks");
    Form->Show();
  }
  void TearDown() override { ResetApplicationState(); }

  template <typename T>
  T* Add(TWinControl* parent, const char* name, int left, int top) {
    auto* control = new T(Form);
    control->SetName(name);
    control->SetParent(parent);
    control->SetBounds(left, top, 120, 21);
    return control;
  }
  // A provider of kind P in the processor, checking control.
  template <typename P>
  P* Provide(TControl* control) {
    auto* provider = new P(Processor->CheckProviders());
    provider->SetCheckControl(control);
    return provider;
  }
  static size_t Beeps() { return HeadlessWidgetSet().Beeps().size(); }

  TForm* Form = nullptr;
  TPanel* Panel = nullptr;
  TEdit* Edit = nullptr;
  TMemo* Memo = nullptr;
  TEdit* Number = nullptr;
  TCheckBox* Check = nullptr;
  TComboBox* Combo = nullptr;
  TLabel* Label = nullptr;
  TZTLCheckProcessor* Processor = nullptr;
};

}  // namespace ztl::test
