#include "demo/CheckDemo.h"

#include <cstdio>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/forms/GtkWidgetSet.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace demo {

using namespace ztl;

ZTL_BEGIN_CLASS(TCheckDemoForm, TForm)
  .Field("edtName", &Self::edtName)
  .Field("edtAge", &Self::edtAge)
  .Field("cbxCountry", &Self::cbxCountry)
  .Field("chkTerms", &Self::chkTerms)
  .Field("Checks", &Self::Checks)
ZTL_END_CLASS

TCheckDemoForm::TCheckDemoForm(TComponent* AOwner) : TForm(AOwner) { CreateFromStoredForm(); }

namespace {

// The bells rung so far, by the widget set in use.
size_t Beeps() {
  if (auto* headless = dynamic_cast<THeadlessWidgetSet*>(&WidgetSet())) return headless->Beeps().size();
  return GtkInspection() ? static_cast<size_t>(GtkInspection()->Beeps()) : 0;
}

const bool registered = (RegisterClass(TCheckDemoForm::StaticClass()), true);

void Report(TCheckDemoForm& form, size_t beepsBefore) {
  const bool passed = form.Checks->Execute();
  std::printf("Execute: %s, %d failed\n", passed ? "passed" : "failed", form.Checks->FailedCount());
  TZTLCheckProviders* providers = form.Checks->CheckProviders();
  for (int i = 0; i < providers->Count(); ++i) {
    TZTLCheckProvider* provider = providers->Items(i);
    TImage* mark = provider->LinkedImage();
    const String control = provider->CheckControl() ? provider->CheckControl()->Name() : String("(none)");
    // A mark stays once made; after a passing check it shows nothing.
    if (mark && mark->Visible() && !mark->Picture()->Empty())
      std::printf("  %-10s %-28s mark at (%d, %d) %dx%d: \"%s\"\n", control.c_str(), provider->ClassName().c_str(),
                  mark->Left(), mark->Top(), mark->Width(), mark->Height(), mark->Hint().c_str());
    else
      std::printf("  %-10s %-28s nothing shown\n", control.c_str(), provider->ClassName().c_str());
  }
  TWinControl* focused = Screen->ActiveControl();
  std::printf("  focus: %s, beeps: %zu\n", focused ? focused->Name().c_str() : "(none)", Beeps() - beepsBefore);
}

}  // namespace

void RunCheckDemo() {
  std::printf("== Input validation\n");
  auto* form = new TCheckDemoForm(Application);
  form->Show();
  const size_t beeps = Beeps();
  std::printf("Bad input: name empty, age %s, no country, terms not accepted\n", form->edtAge->Text().c_str());
  Report(*form, beeps);
  form->edtName->SetText("Ada Lovelace");
  form->edtAge->SetText(FloatToStr(36.5));
  form->cbxCountry->SetItemIndex(1);
  form->chkTerms->SetChecked(true);
  std::printf("Corrected: name \"%s\", age %s, country %s, terms accepted\n", form->edtName->Text().c_str(),
              form->edtAge->Text().c_str(), form->cbxCountry->Text().c_str());
  Report(*form, beeps);
  delete form;
}

}  // namespace demo
