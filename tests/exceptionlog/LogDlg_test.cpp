#include <ztlogger/exceptionlog/LogDlg.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/classes/Resources.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/os/Icons.h>

namespace ztl {
namespace {

const char* const kHeader =
    "A crash has been detected\r\n\r\nTo help the development process, this program will try and gather the "
    "information about the crash, andthe state of your machine at the time of the crash. This data can then be "
    "sent to product support or saved to a file.";

// Records the callbacks of a dialog.
class Callbacks : public TObject {
 public:
  void Web(TObject* Sender) { web.push_back(Sender); }
  void Mail(TObject* Sender, bool IncludeScreenshot) {
    mailSenders.push_back(Sender);
    mailScreenshots.push_back(IncludeScreenshot);
  }
  void Connect(TfrmZTLogErrorDialog& dialog) {
    dialog.OnActivateWeb = MakeMethod<&Callbacks::Web>(this);
    dialog.OnActivateEMail = MakeMethod<&Callbacks::Mail>(this);
  }

  std::vector<TObject*> web;
  std::vector<TObject*> mailSenders;
  std::vector<bool> mailScreenshots;
};

class ErrorDialog : public ::testing::Test {
 protected:
  void SetUp() override { ResetApplicationState(); }
  void TearDown() override { ResetApplicationState(); }

  std::unique_ptr<TfrmZTLogErrorDialog> NewDialog() { return std::make_unique<TfrmZTLogErrorDialog>(nullptr); }

  static TZTErrorDialogContent Content(bool email, bool link, TZTLDialogOptions sendTo, String www = "") {
    TZTErrorDialogContent c;
    c.ShowSendEMail = email;
    c.ShowSupportLink = link;
    c.SendToOptions = sendTo;
    c.WWW = std::move(www);
    c.ErrorText = "Access violation";
    return c;
  }
};

TEST_F(ErrorDialog, TheStoredDesignPlacesEveryControl) {
  auto d = NewDialog();
  EXPECT_EQ(d->Name(), "frmZTLogErrorDialog");
  EXPECT_EQ(d->ClientWidth(), 492);
  EXPECT_EQ(d->ClientHeight(), 210);
  EXPECT_EQ(d->BorderStyle(), bsDialog);
  EXPECT_EQ(d->Position(), poScreenCenter);
  EXPECT_TRUE(d->ShowHint());
  EXPECT_EQ(d->Caption(), "");
  EXPECT_EQ(d->Font()->Name(), "MS Sans Serif");
  EXPECT_EQ(d->Font()->Height(), -11);
  EXPECT_EQ(d->Font()->Color(), clWindowText);

  struct Placed {
    TControl* control;
    TWinControl* parent;
    int left, top, width, height;
    bool visible;
  };
  const std::vector<Placed> layout = {
      {d->btnClose, d.get(), 408, 180, 75, 25, true},
      {d->btnEmail, d.get(), 8, 180, 125, 25, false},
      {d->cbAttachScreenshot, d.get(), 8, 210, 250, 17, false},
      {d->btnGoWEB, d.get(), 138, 180, 125, 25, false},
      {d->pnlHeader, d.get(), 0, 0, 492, 100, true},
      {d->imgError, d->pnlHeader, 10, 10, 32, 32, true},
      {d->lblHeader, d->pnlHeader, 56, 3, 425, 70, true},
      // Auto-sized to its text: the width is the widget set's measure.
      {d->lblProductSite, d->pnlHeader, 56, 80, -1, 13, true},
      {d->gbExceptionReason, d.get(), 9, 104, 473, 73, true},
      {d->lblErrorText, d->gbExceptionReason, 7, 17, 460, 50, true},
  };
  for (const Placed& p : layout) {
    ASSERT_NE(p.control, nullptr);
    SCOPED_TRACE(p.control->Name());
    EXPECT_EQ(p.control->Parent(), p.parent);
    EXPECT_EQ(p.control->Left(), p.left);
    EXPECT_EQ(p.control->Top(), p.top);
    if (p.width >= 0) {
      EXPECT_EQ(p.control->Width(), p.width);
    }
    EXPECT_EQ(p.control->Height(), p.height);
    EXPECT_EQ(p.control->Visible(), p.visible);
  }
  // The check box waits just below the designed client area.
  EXPECT_EQ(d->cbAttachScreenshot->Top(), d->ClientHeight());
  EXPECT_FALSE(d->cbAttachScreenshot->Checked());
}

TEST_F(ErrorDialog, TheStoredDesignSetsBehaviourTabOrderAndLooks) {
  auto d = NewDialog();
  EXPECT_EQ(d->btnClose->Caption(), "&Close");
  EXPECT_TRUE(d->btnClose->Default());
  EXPECT_TRUE(d->btnClose->Cancel());
  EXPECT_EQ(d->btnClose->ModalResult(), mrOk);
  for (TControl* c : {static_cast<TControl*>(d->btnEmail), static_cast<TControl*>(d->cbAttachScreenshot),
                      static_cast<TControl*>(d->btnGoWEB), static_cast<TControl*>(d->lblProductSite)})
    EXPECT_EQ(c->Caption(), "") << c->Name();

  EXPECT_EQ(d->btnClose->TabOrder(), 0);
  EXPECT_EQ(d->cbAttachScreenshot->TabOrder(), 1);
  EXPECT_EQ(d->btnEmail->TabOrder(), 2);
  EXPECT_EQ(d->btnGoWEB->TabOrder(), 3);
  EXPECT_EQ(d->pnlHeader->TabOrder(), 4);
  EXPECT_EQ(d->gbExceptionReason->TabOrder(), 5);
  EXPECT_EQ(d->lblErrorText->TabOrder(), 0);

  // Events come bound by method name from the stored form.
  EXPECT_EQ(d->btnEmail->OnClick(), MakeMethod<&TfrmZTLogErrorDialog::btnEmailClick>(d.get()));
  EXPECT_EQ(d->btnGoWEB->OnClick(), MakeMethod<&TfrmZTLogErrorDialog::btnGoWEBClick>(d.get()));
  EXPECT_EQ(d->lblProductSite->OnClick(), MakeMethod<&TfrmZTLogErrorDialog::btnGoWEBClick>(d.get()));
  EXPECT_FALSE(d->btnClose->OnClick());
  EXPECT_FALSE(d->OnActivateWeb);
  EXPECT_FALSE(d->OnActivateEMail);

  EXPECT_EQ(d->pnlHeader->Align(), alTop);
  EXPECT_EQ(d->pnlHeader->BevelOuter(), bvNone);
  EXPECT_EQ(d->pnlHeader->Color(), clHighlightText);
  EXPECT_TRUE(d->imgError->Center());
  EXPECT_FALSE(d->lblHeader->AutoSize());
  EXPECT_TRUE(d->lblHeader->Transparent());
  EXPECT_TRUE(d->lblHeader->WordWrap());
  EXPECT_EQ(d->lblProductSite->Cursor(), crHandPoint);
  EXPECT_EQ(d->lblProductSite->Font()->Color(), clBlue);
  EXPECT_EQ(d->lblProductSite->Font()->Style(), TFontStyles{fsUnderline});
  EXPECT_EQ(d->gbExceptionReason->Font()->Color(), clActiveCaption);
  EXPECT_EQ(d->lblErrorText->Font()->Color(), clWindowText);
  EXPECT_EQ(d->lblErrorText->BorderStyle(), bsNone);
  EXPECT_TRUE(d->lblErrorText->ParentColor());
  EXPECT_EQ(d->lblErrorText->Color(), d->gbExceptionReason->Color());
  EXPECT_TRUE(d->lblErrorText->ReadOnly());
  EXPECT_EQ(d->lblErrorText->ScrollBars(), ssVertical);
}

TEST_F(ErrorDialog, TheDesignIsTheModuleResourceNamedAfterTheClass) {
  const TResourceEntry* entry = FindResourceEntry("TfrmZTLogErrorDialog");
  ASSERT_NE(entry, nullptr);
  const String text(reinterpret_cast<const char*>(entry->Data), entry->Size);
  EXPECT_EQ(text.rfind("object frmZTLogErrorDialog: TfrmZTLogErrorDialog", 0), 0u);
  EXPECT_NE(text.find("OnClick = btnEmailClick"), String::npos);
}

TEST_F(ErrorDialog, FillingSetsTheFixedTextsTheIconAndTheMessageLines) {
  auto d = NewDialog();
  TZTErrorDialogContent c = Content(true, true, {doScreenshot, doEmail, doWeb});
  c.ErrorText = "Access violation at 0x10\r\nUnit: Demo\r\nProcedure: Crash\r\nLine No: 12";
  d->Fill(c);
  EXPECT_EQ(d->Caption(), "Error");
  EXPECT_EQ(d->btnClose->Caption(), "&Close");
  EXPECT_EQ(d->lblHeader->Caption(), kHeader);
  EXPECT_EQ(d->gbExceptionReason->Caption(), " Exception Reason ");

  ASSERT_EQ(d->lblErrorText->Lines()->Count(), 4);
  EXPECT_EQ(d->lblErrorText->Lines()->Strings(0), "Access violation at 0x10");
  EXPECT_EQ(d->lblErrorText->Lines()->Strings(3), "Line No: 12");

  // The stock error icon goes to the form and from there to the image.
  HICON hand = LoadIconW(nullptr, IDI_HAND);
  ASSERT_NE(hand, nullptr);
  EXPECT_EQ(d->Icon()->Handle(), hand);
  auto* shown = dynamic_cast<TIcon*>(d->imgError->Picture()->Graphic());
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->Handle(), hand);
  EXPECT_EQ(d->imgError->Picture()->Width(), 32);
  EXPECT_EQ(d->imgError->Picture()->Height(), 32);
}

TEST_F(ErrorDialog, TheSupportLinkNeedsTheOptionAndAnAddress) {
  struct Case {
    bool link;
    String www;
    String caption, hint;
  };
  for (const Case& k : {Case{true, "https://example.com/help", "https://example.com/help", "Support homepage"},
                        Case{true, "", "", ""}, Case{false, "https://example.com/help", "", ""}}) {
    auto d = NewDialog();
    d->Fill(Content(false, k.link, {}, k.www));
    EXPECT_EQ(d->lblProductSite->Caption(), k.caption);
    EXPECT_EQ(d->lblProductSite->Width(), WidgetSet().TextExtent(*d->lblProductSite->Font(), k.caption).cx);
    EXPECT_EQ(d->lblProductSite->Hint(), k.hint);
    EXPECT_TRUE(d->lblProductSite->Visible());
  }
}

// Every combination of the logger's two options and the three delivery options.
class ErrorDialogVisibility : public ErrorDialog, public ::testing::WithParamInterface<int> {};

TEST_P(ErrorDialogVisibility, ShowsWhatTheOptionsAllowAndPlacesTheWebButton) {
  const int bits = GetParam();
  const bool email = bits & 1, link = bits & 2;
  TZTLDialogOptions sendTo;
  if (bits & 4) sendTo.Include(doScreenshot);
  if (bits & 8) sendTo.Include(doEmail);
  if (bits & 16) sendTo.Include(doWeb);

  auto d = NewDialog();
  d->Fill(Content(email, link, sendTo, "www.example.com"));

  const bool emailShown = email && sendTo.Contains(doEmail);
  const bool checkShown = email && sendTo.Contains(doScreenshot);
  const bool webShown = link && sendTo.Contains(doWeb);
  EXPECT_EQ(d->btnEmail->Visible(), emailShown);
  EXPECT_EQ(d->btnEmail->Caption(), email ? "Email to author" : "");
  EXPECT_EQ(d->cbAttachScreenshot->Visible(), checkShown);
  EXPECT_EQ(d->cbAttachScreenshot->Caption(), checkShown ? "to attach screenshot" : "");
  EXPECT_FALSE(d->cbAttachScreenshot->Checked());
  EXPECT_EQ(d->ClientHeight(), checkShown ? 232 : 210);
  EXPECT_EQ(d->btnGoWEB->Visible(), webShown);
  EXPECT_EQ(d->btnGoWEB->Caption(), webShown ? "Support homepage" : "");
  EXPECT_EQ(d->btnGoWEB->Left(), webShown && !email ? 8 : 138);
  EXPECT_EQ(d->btnEmail->Left(), 8);
  EXPECT_EQ(d->btnClose->Left(), 408);
  EXPECT_TRUE(d->btnClose->Visible());
  EXPECT_EQ(d->lblProductSite->Caption(), link ? "www.example.com" : "");
}

INSTANTIATE_TEST_SUITE_P(AllOptions, ErrorDialogVisibility, ::testing::Range(0, 32));

TEST_F(ErrorDialog, TheMailCallbackGetsTheScreenshotOnlyWhenTickedAndVisible) {
  auto d = NewDialog();
  Callbacks calls;
  calls.Connect(*d);
  d->btnEmailClick(d->btnEmail);  // hidden and unticked
  d->cbAttachScreenshot->SetChecked(true);
  d->btnEmailClick(d->btnEmail);  // ticked but hidden
  d->cbAttachScreenshot->SetVisible(true);
  d->btnEmailClick(d->btnEmail);  // ticked and visible
  d->cbAttachScreenshot->SetChecked(false);
  d->btnEmailClick(d->btnEmail);  // visible, unticked
  EXPECT_EQ(calls.mailScreenshots, (std::vector<bool>{false, false, true, false}));
  EXPECT_EQ(calls.mailSenders, std::vector<TObject*>(4, d->btnEmail));
  EXPECT_TRUE(calls.web.empty());

  d->btnGoWEBClick(d->lblProductSite);
  EXPECT_EQ(calls.web, std::vector<TObject*>{d->lblProductSite});
}

TEST_F(ErrorDialog, ClicksWithoutCallbacksDoNothing) {
  auto d = NewDialog();
  d->Fill(Content(true, true, {doScreenshot, doEmail, doWeb}));
  d->btnEmailClick(d->btnEmail);
  d->btnGoWEBClick(d->btnGoWEB);
  EXPECT_FALSE(d->Visible());
}

TEST_F(ErrorDialog, WithNothingPostedTheModalDialogClosesAtOnce) {
  auto d = NewDialog();
  d->Fill(Content(true, true, {doScreenshot, doEmail, doWeb}));
  EXPECT_EQ(d->ShowModal(), mrOk);  // the close button is the cancel button
  ASSERT_EQ(HeadlessWidgetSet().Shown().size(), 1u);
  const TShownWindow& shown = HeadlessWidgetSet().Shown()[0];
  EXPECT_EQ(shown.Kind, skForm);
  EXPECT_EQ(shown.Caption, "Error");
  EXPECT_EQ(shown.FormClass, "TfrmZTLogErrorDialog");
  EXPECT_EQ(shown.Buttons, (std::vector<String>{"&Close", "Email to author", "Support homepage"}));
  EXPECT_FALSE(shown.Open);
  EXPECT_FALSE(d->Visible());
}

TEST_F(ErrorDialog, UserClicksRunTheCallbacksEachTimeAndKeepTheDialogOpen) {
  auto d = NewDialog();
  d->Fill(Content(true, true, {doScreenshot, doEmail, doWeb}, "www.example.com"));
  Callbacks calls;
  calls.Connect(*d);
  THeadlessWidgetSet& ws = HeadlessWidgetSet();
  ws.PostClick("btnEmail");
  ws.PostClick("btnEmail");
  ws.PostClick("cbAttachScreenshot");
  ws.PostClick("btnEmail");
  ws.PostClick("btnGoWEB");
  ws.PostClick("lblProductSite");
  bool stillOpen = false;
  ws.PostInspect([&](TCustomForm& form) { stillOpen = &form == d.get() && form.Modal(); });
  ws.PostKey(VK_RETURN);
  EXPECT_EQ(d->ShowModal(), mrOk);
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(calls.mailScreenshots, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(calls.web, (std::vector<TObject*>{d->btnGoWEB, d->lblProductSite}));
}

TEST_F(ErrorDialog, EscapeAndTheCloseBoxEndTheModalLoop) {
  auto d = NewDialog();
  d->Fill(Content(true, true, {doEmail}));
  HeadlessWidgetSet().PostKey(VK_ESCAPE);
  EXPECT_EQ(d->ShowModal(), mrOk);
  HeadlessWidgetSet().PostClose(mrCancel);
  EXPECT_EQ(d->ShowModal(), mrCancel);
}

}  // namespace
}  // namespace ztl
