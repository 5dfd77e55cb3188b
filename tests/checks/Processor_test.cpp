// The check processor: the built-in mark, marks, focus and beep of Execute,
// writing providers, stored forms, and providers outliving or outlived by
// their controls, parents and processor.
#include "tests/checks/Checks.h"
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl::test {
namespace {

using CheckProcessor = CheckForm;

TEST_F(CheckProcessor, TheBuiltInMarkIsASixteenPixelPaletteBitmapWithMagentaTransparent) {
  auto* mark = dynamic_cast<TBitmap*>(Processor->DefaultPicture()->Graphic());
  ASSERT_NE(mark, nullptr);
  EXPECT_EQ(mark->Width(), 16);
  EXPECT_EQ(mark->Height(), 16);
  EXPECT_EQ(mark->PixelFormat(), pf8bit);
  EXPECT_TRUE(mark->Transparent());
  EXPECT_EQ(mark->TransparentColor(), clFuchsia);
  EXPECT_EQ(mark->Pixel(0, 0), clFuchsia) << "a corner lies outside the mark";
  EXPECT_NE(mark->Pixel(8, 8), clFuchsia);
  EXPECT_TRUE(Processor->BeepOnError());
  EXPECT_EQ(Processor->FailedCount(), 0);
}

TEST_F(CheckProcessor, ExecuteMarksFailuresFocusesTheFirstAndBeepsOnce) {
  const size_t beeps = Beeps();
  EXPECT_TRUE(Processor->Execute()) << "no providers";
  EXPECT_EQ(Beeps(), beeps);
  auto* passing = Provide<TZTLCheckProviderCheckbox>(Check);
  passing->SetChecked(false);
  auto* edit = Provide<TZTLCheckProviderEdit>(Edit);
  auto* memo = Provide<TZTLCheckProviderEdit>(Memo);
  memo->SetHintText("Say something");
  memo->Picture()->Bitmap()->SetSize(7, 5);

  Check->SetFocus();
  EXPECT_FALSE(Processor->Execute());
  EXPECT_EQ(Processor->FailedCount(), 2);
  EXPECT_EQ(passing->LinkedImage(), nullptr);
  TImage* mark = edit->LinkedImage();
  ASSERT_NE(mark, nullptr);
  EXPECT_EQ(mark->Owner(), Processor);
  EXPECT_EQ(mark->Parent(), Panel);
  EXPECT_EQ(mark->BoundsRect(), Bounds(8 + 120 + 5, 8, 16, 16));
  EXPECT_TRUE(mark->Visible());
  EXPECT_TRUE(mark->Transparent());
  EXPECT_TRUE(mark->ShowHint());
  EXPECT_EQ(mark->Hint(), "Editbox can not be empty");
  EXPECT_EQ(memo->LinkedImage()->Width(), 7) << "its own picture";
  EXPECT_EQ(memo->LinkedImage()->Hint(), "Say something");
  EXPECT_TRUE(Edit->Focused());
  ASSERT_EQ(Beeps(), beeps + 1);
  EXPECT_EQ(HeadlessWidgetSet().Beeps().back(), MB_ICONHAND);

  Edit->SetText("x");
  Memo->SetText("y");
  EXPECT_TRUE(Processor->Execute());
  EXPECT_EQ(edit->LinkedImage(), mark) << "a mark stays once made";
  EXPECT_TRUE(mark->Picture()->Empty());
  EXPECT_EQ(Beeps(), beeps + 1);
  Processor->HighlightFailed();
  EXPECT_FALSE(mark->Visible());
}

TEST_F(CheckProcessor, FocusGoesToTheFirstFailingControlThatMayAndCanTakeIt) {
  struct Failer : TObject {
    void Fail(TObject* sender) { static_cast<TZTLCheckProvider*>(sender)->SetCheckStatus(csFailed); }
  } failer;
  Provide<TZTLCheckProviderEdit>(Edit)->SetFocusOnError(false);
  Provide<TZTLCheckProvider>(Label)->SetOnCheck(MakeMethod<&Failer::Fail>(&failer));  // not windowed
  Provide<TZTLCheckProviderEdit>(Memo);
  Memo->SetEnabled(false);
  Provide<TZTLCheckProviderCheckbox>(Check);
  Provide<TZTLCheckProviderCombobox>(Combo);
  Processor->SetBeepOnError(false);
  const size_t beeps = Beeps();
  EXPECT_FALSE(Processor->Execute());
  EXPECT_EQ(Processor->FailedCount(), 5);
  EXPECT_TRUE(Check->Focused());
  EXPECT_EQ(Beeps(), beeps);

  Form->Hide();
  Processor->SetBeepOnError(true);
  EXPECT_FALSE(Processor->Execute()) << "a hidden form's controls cannot take the focus";
  EXPECT_EQ(Beeps(), beeps + 1);
}

TEST_F(CheckProcessor, AConversionErrorEndsExecuteBeforeAnyMark) {
  auto* edit = Provide<TZTLCheckProviderEdit>(Edit);
  Provide<TZTLCheckProviderNumericEdit>(Number);
  Number->SetText("1.2.3");
  auto* after = Provide<TZTLCheckProviderCheckbox>(Check);
  Combo->SetFocus();
  const size_t beeps = Beeps();
  EXPECT_THROW(Processor->Execute(), EConvertError);
  EXPECT_EQ(edit->CheckStatus(), csFailed);
  EXPECT_EQ(edit->LinkedImage(), nullptr);
  EXPECT_EQ(after->CheckStatus(), csUnknown);
  EXPECT_TRUE(Combo->Focused());
  EXPECT_EQ(Beeps(), beeps);
}

TEST_F(CheckProcessor, WritingProvidersCopiesSettingsIntoTheItemsThatAreThere) {
  auto* number = Provide<TZTLCheckProviderNumericEdit>(Number);
  TZTLCheckProviders given(nullptr);
  auto* edit = new TZTLCheckProviderEdit(&given);
  edit->SetCheckControl(Edit);
  edit->SetRequired(false);
  (new TZTLCheckProviderNumericEdit(&given))->SetCheckControl(Number);
  (new TZTLCheckProviderCheckbox(&given))->SetFocusOnError(false);
  (new TZTLCheckProviderCombobox(&given))->SetHintText("pick one");

  Processor->CheckProviders()->SetItems(0, edit);
  EXPECT_EQ(Processor->CheckProviders()->Items(0), number) << "the item is not replaced";
  EXPECT_EQ(number->CheckControl(), Edit);
  EXPECT_FALSE(number->Required());

  Processor->SetCheckProviders(&given);
  TZTLCheckProviders* providers = Processor->CheckProviders();
  ASSERT_EQ(providers->Count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(providers->Items(i)->ClassType(), TZTLCheckProvider::StaticClass());
  EXPECT_EQ(providers->Items(1)->CheckControl(), Number);
  EXPECT_FALSE(providers->Items(2)->FocusOnError());
  EXPECT_EQ(providers->Items(3)->HintText(), "pick one");
  EXPECT_TRUE(Processor->Execute()) << "base providers accept everything";
}

TEST_F(CheckProcessor, AStoredFormKeepsTheKindsAndSettingsOfItsProviders) {
  Provide<TZTLCheckProviderEdit>(Edit)->SetRequired(false);
  auto* number = Provide<TZTLCheckProviderNumericEdit>(Number);
  number->SetMinValue(1.5);
  number->SetMaxValue(10);
  Provide<TZTLCheckProviderCheckbox>(Check)->SetHintText("Accept the terms");
  Provide<TZTLCheckProviderCombobox>(Combo)->SetFocusOnError(false);
  Processor->SetBeepOnError(false);
  const String text = ComponentToText(Form);
  EXPECT_EQ(text.find("Data"), String::npos) << "neither the built-in mark nor empty pictures are stored";
  EXPECT_EQ(text.find("Editbox"), String::npos) << "default hints are not stored";

  delete Form;  // its name is free for the copy
  auto* copy = new TForm(Application);
  TextToComponent(text, copy);
  EXPECT_EQ(ComponentToText(copy), text);
  auto* processor = static_cast<TZTLCheckProcessor*>(copy->FindComponent("Checks"));
  ASSERT_NE(processor, nullptr);
  EXPECT_FALSE(processor->BeepOnError());
  TZTLCheckProviders* providers = processor->CheckProviders();
  ASSERT_EQ(providers->Count(), 4);
  auto* edit = dynamic_cast<TZTLCheckProviderEdit*>(providers->Items(0));
  ASSERT_NE(edit, nullptr);
  EXPECT_FALSE(edit->Required());
  EXPECT_EQ(edit->CheckControl(), copy->FindComponent("Edit1"));
  auto* range = dynamic_cast<TZTLCheckProviderNumericEdit*>(providers->Items(1));
  ASSERT_NE(range, nullptr);
  EXPECT_EQ(range->MinValue(), 1.5);
  EXPECT_EQ(range->MaxValue(), 10);
  EXPECT_EQ(providers->Items(2)->ClassType(), TZTLCheckProviderCheckbox::StaticClass());
  EXPECT_EQ(providers->Items(2)->HintText(), "Accept the terms");
  EXPECT_EQ(providers->Items(3)->ClassType(), TZTLCheckProviderCombobox::StaticClass());
  EXPECT_FALSE(providers->Items(3)->FocusOnError());
}

// Marks placed for the edit box, then the parts freed in the given order.
class CheckLifetimes : public CheckForm {
 protected:
  TZTLCheckProvider* MarkEdit() {
    auto* provider = Provide<TZTLCheckProviderEdit>(Edit);
    EXPECT_FALSE(Processor->Execute());
    EXPECT_NE(provider->LinkedImage(), nullptr);
    return provider;
  }
};

TEST_F(CheckLifetimes, AFreedControlIsForgottenAndItsMarkHidden) {
  TZTLCheckProvider* provider = MarkEdit();
  delete Edit;
  EXPECT_EQ(provider->CheckControl(), nullptr);
  EXPECT_TRUE(Processor->Execute());
  EXPECT_TRUE(provider->LinkedImage()->Picture()->Empty());
  Processor->HighlightFailed();
  EXPECT_FALSE(provider->LinkedImage()->Visible());
}

TEST_F(CheckLifetimes, AFreedParentTakesTheMarkAndTheControlWithIt) {
  TZTLCheckProvider* provider = MarkEdit();
  delete Panel;
  EXPECT_EQ(provider->LinkedImage(), nullptr);
  EXPECT_EQ(provider->CheckControl(), nullptr);
  EXPECT_TRUE(Processor->Execute());
}

TEST_F(CheckLifetimes, AFreedProviderOrProcessorTakesItsMarksFromTheParent) {
  const int controls = Panel->ControlCount();
  delete MarkEdit();
  EXPECT_EQ(Panel->ControlCount(), controls);
  MarkEdit();
  Provide<TZTLCheckProviderEdit>(Memo);
  EXPECT_FALSE(Processor->Execute());
  EXPECT_EQ(Panel->ControlCount(), controls + 2);
  delete Processor;
  EXPECT_EQ(Panel->ControlCount(), controls);
}

TEST_F(CheckLifetimes, AProcessorOutlivesTheFormItChecks) {
  TZTLCheckProvider* provider = MarkEdit();
  Form->RemoveComponent(Processor);
  std::unique_ptr<TZTLCheckProcessor> processor(Processor);
  delete Form;
  EXPECT_EQ(provider->LinkedImage(), nullptr);
  EXPECT_EQ(provider->CheckControl(), nullptr);
  EXPECT_TRUE(processor->Execute());
}

}  // namespace
}  // namespace ztl::test
