// The four kinds of check provider: their rules on real controls, the hint
// texts, OnCheck and what Assign copies.
#include "tests/checks/Checks.h"
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/FormatSettings.h>
#include <ztlogger/platform/rtl/ScopeExit.h>

namespace ztl::test {
namespace {

using CheckProviders = CheckForm;

TZTLCheckStatus Checked(TZTLCheckProvider* provider) {
  provider->ExecuteCheck();
  return provider->CheckStatus();
}

TEST_F(CheckProviders, EditBoxesAndMemosMustNotBeEmptyWhenRequired) {
  auto* edit = Provide<TZTLCheckProviderEdit>(Edit);
  auto* memo = Provide<TZTLCheckProviderEdit>(Memo);
  EXPECT_EQ(edit->CheckStatus(), csUnknown);
  EXPECT_EQ(Checked(edit), csFailed);
  EXPECT_EQ(Checked(memo), csFailed);
  Edit->SetText("   ");
  EXPECT_EQ(Checked(edit), csValid) << "blanks are text";
  Memo->SetText("line");
  EXPECT_EQ(Checked(memo), csValid);
  Edit->SetText("");
  edit->SetRequired(false);
  EXPECT_EQ(Checked(edit), csValid);
  EXPECT_EQ(Checked(Provide<TZTLCheckProviderEdit>(Label)), csValid) << "another class of control";
  EXPECT_EQ(Checked(Provide<TZTLCheckProviderEdit>(nullptr)), csValid);
  EXPECT_EQ(Checked(Provide<TZTLCheckProviderEdit>(Combo)), csValid);
}

TEST_F(CheckProviders, NumbersMustLieWithinTheBoundsInTheUsersFormat) {
  const char separator = FormatSettings().DecimalSeparator;
  ScopeExit restore([&] { FormatSettings().DecimalSeparator = separator; });
  FormatSettings().DecimalSeparator = ',';
  auto* number = Provide<TZTLCheckProviderNumericEdit>(Number);
  EXPECT_TRUE(number->Required());
  EXPECT_EQ(Checked(number), csFailed) << "empty and required: no conversion";
  Number->SetText("0");
  EXPECT_EQ(Checked(number), csValid) << "the default bounds hold zero only";
  Number->SetText("0,01");
  EXPECT_EQ(Checked(number), csFailed);
  number->SetMinValue(-1.5);
  number->SetMaxValue(2.5);
  for (const char* inside : {"-1,5", "2,5", "1"}) {
    Number->SetText(inside);
    EXPECT_EQ(Checked(number), csValid) << inside;
  }
  for (const char* outside : {"-1,51", "2,51"}) {
    Number->SetText(outside);
    EXPECT_EQ(Checked(number), csFailed) << outside;
  }
  number->SetHintText("changed");
  EXPECT_EQ(number->GetHintText(), "Editbox must contain the value in range betwen -1,50 and 2,50");
}

TEST_F(CheckProviders, AConversionErrorLeavesTheStatusTheMarkAndOnCheckAlone) {
  struct Counter : TObject {
    int calls = 0;
    void Count(TObject*) { ++calls; }
  } counter;
  auto* number = Provide<TZTLCheckProviderNumericEdit>(Number);
  number->SetOnCheck(MakeMethod<&Counter::Count>(&counter));
  number->SetRequired(false);
  EXPECT_THROW(number->ExecuteCheck(), EConvertError) << "empty, not required: converted all the same";
  Number->SetText("twelve");
  EXPECT_THROW(number->ExecuteCheck(), EConvertError);
  EXPECT_EQ(number->CheckStatus(), csValid);
  EXPECT_EQ(counter.calls, 0);
}

TEST_F(CheckProviders, CheckBoxesAndComboBoxes) {
  auto* check = Provide<TZTLCheckProviderCheckbox>(Check);
  EXPECT_EQ(Checked(check), csFailed);
  Check->SetChecked(true);
  EXPECT_EQ(Checked(check), csValid);
  Check->SetChecked(false);
  check->SetChecked(false);
  EXPECT_EQ(Checked(check), csValid) << "nothing is tested";

  auto* combo = Provide<TZTLCheckProviderCombobox>(Combo);
  EXPECT_EQ(Checked(combo), csFailed) << "no items, no text";
  Combo->Items()->Add("red");
  Combo->SetText("blue");
  EXPECT_EQ(Checked(combo), csValid) << "typed text not among the items";
  Combo->SetStyle(csDropDownList);
  Combo->SetItemIndex(-1);
  EXPECT_EQ(Checked(combo), csFailed) << "a list with nothing selected";
  Combo->SetItemIndex(0);
  EXPECT_EQ(Checked(combo), csValid);
  combo->SetRequired(false);
  Combo->SetItemIndex(-1);
  EXPECT_EQ(Checked(combo), csValid);
}

TEST_F(CheckProviders, OnCheckDecidesLastAndAFailureWithoutControlOrProcessorPlacesNoMark) {
  struct Failer : TObject {
    void Fail(TObject* sender) { static_cast<TZTLCheckProvider*>(sender)->SetCheckStatus(csFailed); }
  } failer;
  TZTLCheckProviders loose(nullptr);
  for (TZTLCheckProvider* provider :
       {Provide<TZTLCheckProvider>(nullptr), static_cast<TZTLCheckProvider*>(new TZTLCheckProviderEdit(&loose))}) {
    provider->SetOnCheck(MakeMethod<&Failer::Fail>(&failer));
    EXPECT_EQ(Checked(provider), csFailed);
    provider->CreateLinkedImage(Processor->DefaultPicture());
    EXPECT_EQ(provider->LinkedImage(), nullptr);
  }
  loose.Items(0)->SetCheckControl(Edit);
  loose.Items(0)->ExecuteCheck();
  loose.Items(0)->CreateLinkedImage(Processor->DefaultPicture());
  EXPECT_EQ(loose.Items(0)->LinkedImage(), nullptr) << "no processor to own a mark";
}

TEST_F(CheckProviders, AssignCopiesTheSettingsBothKindsShare) {
  auto* number = Provide<TZTLCheckProviderNumericEdit>(Number);
  number->SetRequired(false);
  number->SetMaxValue(9);
  number->SetHintText("range");
  number->SetFocusOnError(false);
  number->Picture()->Bitmap()->SetSize(4, 4);
  number->SetCheckStatus(csFailed);
  auto* edit = Provide<TZTLCheckProviderEdit>(Edit);
  edit->Assign(number);
  EXPECT_FALSE(edit->Required());
  EXPECT_EQ(edit->CheckControl(), Number);
  EXPECT_EQ(edit->HintText(), "range");
  EXPECT_FALSE(edit->FocusOnError());
  EXPECT_EQ(edit->Picture()->Width(), 4);
  EXPECT_EQ(edit->CheckStatus(), csUnknown) << "the status is never copied";
  auto* check = Provide<TZTLCheckProviderCheckbox>(Check);
  check->SetChecked(false);
  check->Assign(edit);
  EXPECT_FALSE(check->Checked()) << "not an added setting of an edit provider";
  EXPECT_EQ(check->CheckControl(), Number);
  TPicture notAProvider;
  EXPECT_THROW(check->Assign(&notAProvider), EConvertError);
  EXPECT_EQ(Processor->CheckProviders()->UpdateCount(), 0);
}

}  // namespace
}  // namespace ztl::test
