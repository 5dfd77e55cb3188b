#include <ztlogger/platform/forms/Forms.h>

#include <gtest/gtest.h>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/forms/Dialogs.h>
#include <ztlogger/platform/forms/ExtCtrls.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/forms/Testing.h>

namespace ztl {
namespace {

class Forms : public ::testing::Test {
 protected:
  void SetUp() override { ResetApplicationState(); }
  void TearDown() override { ResetApplicationState(); }
  THeadlessWidgetSet& Headless() { return HeadlessWidgetSet(); }

  template <typename T>
  T* Add(TWinControl* parent, const char* name) {
    auto* c = new T(parent->Owner() ? parent->Owner() : parent);
    c->SetName(name);
    c->SetParent(parent);
    return c;
  }
  // A dialog: OK (default), Cancel (cancel, result 2), a check box and an edit.
  TForm* MakeDialog() {
    auto* form = new TForm(Application);
    form->SetName("Dialog");
    form->SetCaption("Question");
    auto* ok = new TButton(form);
    ok->SetName("OK");
    ok->SetParent(form);
    ok->SetCaption("OK");
    ok->SetModalResult(mrOk);
    ok->SetDefault(true);
    auto* cancel = new TButton(form);
    cancel->SetName("Cancel");
    cancel->SetParent(form);
    cancel->SetCaption("Cancel");
    cancel->SetModalResult(mrCancel);
    cancel->SetCancel(true);
    auto* check = new TCheckBox(form);
    check->SetName("Check");
    check->SetParent(form);
    auto* edit = new TEdit(form);
    edit->SetName("Edit");
    edit->SetParent(form);
    return form;
  }
};

TEST_F(Forms, APostedClickOnAButtonWithAModalResultEndsTheModalLoop) {
  TForm* form = MakeDialog();
  Headless().PostCheck("Check", true);
  Headless().PostText("Edit", "typed");
  Headless().PostClick("OK");
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_FALSE(form->Visible());
  EXPECT_TRUE(static_cast<TCheckBox*>(form->FindComponent("Check"))->Checked());
  EXPECT_EQ(static_cast<TEdit*>(form->FindComponent("Edit"))->Text(), "typed");
  ASSERT_EQ(Headless().Shown().size(), 1u);
  const TShownWindow& shown = Headless().Shown()[0];
  EXPECT_EQ(shown.Kind, skForm);
  EXPECT_EQ(shown.Caption, "Question");
  EXPECT_EQ(shown.Buttons, (std::vector<String>{"OK", "Cancel"}));
  EXPECT_EQ(shown.Result, mrOk);
  EXPECT_FALSE(shown.Open);
}

TEST_F(Forms, AModalFormWithNothingPostedClosesAtOnceWithItsCancelResult) {
  TForm* form = MakeDialog();
  static_cast<TButton*>(form->FindComponent("Cancel"))->SetModalResult(mrAbort);
  EXPECT_EQ(form->ShowModal(), mrAbort);
  static_cast<TButton*>(form->FindComponent("Cancel"))->SetCancel(false);
  EXPECT_EQ(form->ShowModal(), mrCancel) << "without a cancel button";
}

TEST_F(Forms, EnterAndEscapePressTheDefaultAndTheCancelButton) {
  TForm* form = MakeDialog();
  Headless().PostKey(VK_RETURN);
  EXPECT_EQ(form->ShowModal(), mrOk);
  Headless().PostKey(VK_ESCAPE);
  EXPECT_EQ(form->ShowModal(), mrCancel);
}

TEST_F(Forms, AButtonWithoutModalResultKeepsTheFormOpen) {
  struct Counter : TObject {
    int clicks = 0;
    void Click(TObject*) { ++clicks; }
  } counter;
  TForm* form = MakeDialog();
  auto* more = new TButton(form);
  more->SetName("More");
  more->SetParent(form);
  more->SetOnClick(MakeMethod<&Counter::Click>(&counter));
  Headless().PostClick("More");
  Headless().PostClick("More");
  Headless().PostInspect([](TCustomForm& f) { EXPECT_TRUE(f.Visible()); });
  Headless().PostClick("OK");
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_EQ(counter.clicks, 2);
}

TEST_F(Forms, AModalFormReleasedInItsLoopEndsTheLoopBeforeItIsFreed) {
  TForm* form = MakeDialog();
  const int forms = Screen->CustomFormCount();
  Headless().PostInspect([](TCustomForm& f) { f.Release(); });
  Headless().PostInspect([](TCustomForm& f) { f.Release(); });  // twice frees once
  EXPECT_EQ(form->ShowModal(), mrCancel);
  EXPECT_EQ(Screen->CustomFormCount(), forms) << "still there when ShowModal returns";
  Application->ProcessMessages();
  EXPECT_EQ(Screen->CustomFormCount(), forms - 1);
}

TEST_F(Forms, ClickingAHiddenControlIsAnErrorTheLoopReports) {
  TForm* form = MakeDialog();
  form->FindComponent("OK")->Is<TButton>();
  static_cast<TButton*>(form->FindComponent("OK"))->Hide();
  Headless().PostClick("OK");
  EXPECT_EQ(form->ShowModal(), mrCancel);
  ASSERT_EQ(Headless().Shown().size(), 2u);
  EXPECT_EQ(Headless().Shown()[1].Kind, skMessageBox);
  EXPECT_EQ(Headless().Shown()[1].Text, "Control OK is hidden or disabled.");
}

TEST_F(Forms, MessageDialogsAndBoxesAreRecordedAndDriven) {
  Headless().PostClick("No");
  EXPECT_EQ(MessageDlg("Save changes?", mtConfirmation, {mbYes, mbNo, mbCancel}), mrNo);
  EXPECT_EQ(MessageDlg("Gone", mtError, {mbOK}), mrOk) << "nothing posted: the cancel result";
  Headless().PostClick("Retry");
  EXPECT_EQ(Application->MessageBox("Disk?", "Drive", MB_RETRYCANCEL | MB_ICONWARNING), IDRETRY);
  EXPECT_EQ(Application->MessageBox("Sure?", "", MB_YESNO), IDNO);
  const auto& shown = Headless().Shown();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].Caption, "Confirm");
  EXPECT_EQ(shown[0].Text, "Save changes?");
  EXPECT_EQ(shown[0].Icon, MB_ICONQUESTION);
  EXPECT_EQ(shown[0].Buttons, (std::vector<String>{"&Yes", "&No", "Cancel"}));
  EXPECT_EQ(shown[1].Caption, "Error");
  EXPECT_EQ(shown[2].Caption, "Drive");
  EXPECT_EQ(shown[2].Icon, MB_ICONWARNING);
  EXPECT_EQ(shown[2].Buttons, (std::vector<String>{"Retry", "Cancel"}));
  EXPECT_EQ(shown[3].Caption, Application->Title()) << "an empty caption shows the title";
}

TEST_F(Forms, FocusMovesBetweenFormsAndControlsAndTheScreenTellsIt) {
  struct Watcher : TObject {
    std::vector<String> log;
    void Control(TObject*) { log.push_back("control " + (Screen->ActiveControl() ? Screen->ActiveControl()->Name() : "-")); }
    void Form(TObject*) { log.push_back("form " + (Screen->ActiveCustomForm() ? Screen->ActiveCustomForm()->Name() : "-")); }
  } watcher;
  Screen->SetOnActiveControlChange(MakeMethod<&Watcher::Control>(&watcher));
  Screen->SetOnActiveFormChange(MakeMethod<&Watcher::Form>(&watcher));
  TForm* first = MakeDialog();
  auto* second = new TForm(Application);
  second->SetName("Second");
  auto* edit = new TEdit(second);
  edit->SetName("Other");
  edit->SetParent(second);

  first->Show();
  EXPECT_EQ(Screen->ActiveForm(), first);
  EXPECT_EQ(Screen->ActiveControl()->Name(), "OK") << "the first control in tab order";
  static_cast<TEdit*>(first->FindComponent("Edit"))->SetFocus();
  EXPECT_THROW(edit->SetFocus(), EInvalidOperation) << "its form is hidden";
  second->Show();
  first->FindComponent("Check")->Is<TCheckBox>();
  static_cast<TCheckBox*>(first->FindComponent("Check"))->SetFocus();
  second->Hide();
  delete first->FindComponent("Check");
  EXPECT_EQ(watcher.log, (std::vector<String>{"form Dialog", "control OK", "control Edit", "form Second",
                                              "control Other", "form Dialog", "control Check", "control -"}));
  EXPECT_EQ(Screen->ActiveControl(), nullptr);
  EXPECT_FALSE(static_cast<TButton*>(first->FindComponent("OK"))->Focused());
}

TEST_F(Forms, AnActiveFormBeingFreedHearsNoMoreDeactivation) {
  struct Watcher : TObject {
    TEdit* note = nullptr;
    std::vector<String> seen;
    void Deactivate(TObject*) { seen.push_back(note->Text()); }  // a handler reads its form's controls
  } watcher;
  TForm* back = MakeDialog();
  back->Show();
  auto* front = new TForm(Application);
  watcher.note = Add<TEdit>(front, "Note");
  watcher.note->SetText("note");
  front->SetOnDeactivate(MakeMethod<&Watcher::Deactivate>(&watcher));
  front->Show();
  back->SetFocus();
  front->SetFocus();
  delete front;  // its controls are gone before the screen hears of it
  EXPECT_EQ(watcher.seen, std::vector<String>{"note"});
  EXPECT_EQ(Screen->ActiveCustomForm(), back);
  EXPECT_EQ(Screen->ActiveControl()->Name(), "OK");
}

TEST_F(Forms, CanFocusNeedsVisibleAndEnabledControlsUpToTheForm) {
  TForm* form = MakeDialog();
  auto* panel = Add<TPanel>(form, "Panel");
  auto* inner = Add<TEdit>(panel, "Inner");
  EXPECT_TRUE(inner->CanFocus()) << "the form itself may still be hidden";
  panel->SetEnabled(false);
  EXPECT_FALSE(inner->CanFocus());
  panel->SetEnabled(true);
  inner->Hide();
  EXPECT_FALSE(inner->CanFocus());
  auto* orphan = new TEdit(nullptr);
  EXPECT_FALSE(orphan->CanFocus()) << "no form";
  delete orphan;
}

TEST_F(Forms, TopAlignedControlsStackAndFollowTheParentsWidth) {
  TForm* form = MakeDialog();
  form->SetClientWidth(400);
  auto* header = Add<TPanel>(form, "Header");
  header->SetBounds(5, 50, 10, 100);
  header->SetAlign(alTop);
  auto* bar = Add<TPanel>(form, "Bar");
  bar->SetHeight(20);
  bar->SetAlign(alTop);
  EXPECT_EQ(header->BoundsRect(), Bounds(0, 0, 400, 100));
  EXPECT_EQ(bar->BoundsRect(), Bounds(0, 100, 400, 20));
  form->SetClientWidth(300);
  EXPECT_EQ(bar->Width(), 300);
  header->Hide();
  EXPECT_EQ(bar->Top(), 0);
}

TEST_F(Forms, TabOrderIsThePositionAmongTheWindowedSiblings) {
  TForm* form = MakeDialog();  // OK, Cancel, Check, Edit
  auto* edit = static_cast<TEdit*>(form->FindComponent("Edit"));
  EXPECT_EQ(edit->TabOrder(), 3);
  edit->SetTabOrder(0);
  EXPECT_EQ(edit->TabOrder(), 0);
  EXPECT_EQ(static_cast<TButton*>(form->FindComponent("OK"))->TabOrder(), 1);
  auto* late = new TButton(form);
  late->SetTabOrder(1);  // before it has a parent: applied on insertion
  late->SetParent(form);
  EXPECT_EQ(late->TabOrder(), 1);
}

TEST_F(Forms, ParentFontAndShowHintFollowTheParentUntilSetOwnValues) {
  TForm* form = MakeDialog();
  form->SetShowHint(true);
  auto* label = new TLabel(form);
  label->SetParent(form);
  EXPECT_TRUE(label->ShowHint());
  form->Font()->SetColor(clBlue);
  EXPECT_EQ(label->Font()->Color(), clBlue);
  label->Font()->SetStyle({fsUnderline});
  EXPECT_FALSE(label->ParentFont());
  form->Font()->SetHeight(-20);
  EXPECT_EQ(label->Font()->Height(), -11);
}

TEST_F(Forms, AutoSizedLabelsAndImagesTakeTheSizeOfTheirContent) {
  TForm* form = MakeDialog();
  auto* label = new TLabel(form);
  label->SetParent(form);
  label->SetCaption("&Hello");
  const TSize extent = WidgetSet().TextExtent(*label->Font(), "Hello");
  EXPECT_EQ(label->Width(), extent.cx);
  EXPECT_EQ(label->Height(), extent.cy);
  auto* image = new TImage(form);
  image->SetAutoSize(true);
  image->Picture()->Bitmap()->SetSize(16, 12);
  EXPECT_EQ(image->Width(), 16);
  EXPECT_EQ(image->Height(), 12);
  image->SetTransparent(true);
  EXPECT_TRUE(image->Picture()->Graphic()->Transparent());
}

TEST_F(Forms, AMemosTextIsItsLinesAndAComboListShowsItsSelection) {
  TForm* form = MakeDialog();
  auto* memo = Add<TMemo>(form, "Memo");
  memo->SetText("one\r\ntwo");
  EXPECT_EQ(memo->Lines()->Count(), 2);
  EXPECT_EQ(memo->Text(), "one\r\ntwo");
  memo->Lines()->Clear();
  EXPECT_EQ(memo->Text(), "");
  auto* combo = Add<TComboBox>(form, "Combo");
  combo->Items()->Add("red");
  combo->Items()->Add("green");
  combo->SetText("blue");
  EXPECT_EQ(combo->Text(), "blue") << "a drop-down takes any text";
  combo->SetStyle(csDropDownList);
  EXPECT_EQ(combo->Text(), "");
  combo->SetItemIndex(1);
  EXPECT_EQ(combo->Text(), "green");
}

class DesignedForm : public TForm {
  ZTL_DECLARE_CLASS(DesignedForm, TForm)

 public:
  explicit DesignedForm(TComponent* AOwner) : TForm(AOwner) {}
  void GoClick(TObject*) { ++clicks; }
  TButton* btnGo = nullptr;
  TPanel* pnlTop = nullptr;
  int clicks = 0;
};

ZTL_BEGIN_CLASS(DesignedForm, TForm)
  .Method<&Self::GoClick>("GoClick")
  .Field("btnGo", &DesignedForm::btnGo)
  .Field("pnlTop", &DesignedForm::pnlTop)
ZTL_END_CLASS

TEST_F(Forms, AStoredDesignMakesTheControlsWithParentsFieldsAndEvents) {
  const String design =
      "object DesignedForm1: DesignedForm\n"
      "  Caption = 'Designed'\n"
      "  ClientHeight = 210\n"
      "  ClientWidth = 492\n"
      "  object pnlTop: TPanel\n"
      "    Left = 0\n    Top = 0\n    Width = 10\n    Height = 100\n"
      "    Align = alTop\n"
      "    BevelOuter = bvNone\n"
      "    object lblTitle: TLabel\n"
      "      Left = 56\n      Top = 3\n      Width = 425\n      Height = 70\n"
      "      AutoSize = False\n"
      "      Caption = 'Title'\n"
      "    end\n"
      "  end\n"
      "  object btnGo: TButton\n"
      "    Left = 408\n    Top = 180\n    Width = 75\n    Height = 25\n"
      "    Caption = '&Go'\n"
      "    Default = True\n"
      "    ModalResult = 1\n"
      "    TabOrder = 0\n"
      "    OnClick = GoClick\n"
      "  end\n"
      "end\n";
  DesignedForm form(nullptr);
  TextToComponent(design, &form);
  ASSERT_NE(form.btnGo, nullptr);
  ASSERT_NE(form.pnlTop, nullptr);
  EXPECT_EQ(form.btnGo->Parent(), &form);
  EXPECT_EQ(form.btnGo->Caption(), "&Go");
  EXPECT_EQ(form.pnlTop->Width(), 492) << "aligned to the top of the form";
  auto* title = dynamic_cast<TLabel*>(form.FindComponent("lblTitle"));
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->Parent(), form.pnlTop);
  EXPECT_EQ(title->Width(), 425) << "no auto-size";
  Headless().PostClick("btnGo");
  EXPECT_EQ(form.ShowModal(), mrOk);
  EXPECT_EQ(form.clicks, 1);
  // Writing it back gives the same structure.
  const String written = ComponentToText(&form);
  EXPECT_NE(written.find("object lblTitle: TLabel"), String::npos);
  EXPECT_NE(written.find("OnClick = GoClick"), String::npos);
  EXPECT_LT(written.find("object pnlTop"), written.find("object lblTitle"));
}

}  // namespace
}  // namespace ztl
