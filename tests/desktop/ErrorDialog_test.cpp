// The end user's error dialog on a real desktop, driven by real X input.
#include <ztlogger/exceptionlog/LogDlg.h>

#include <atomic>
#include <memory>
#include <vector>

#include "tests/desktop/Desktop.h"

namespace ztl::test {
namespace {

class Callbacks : public TObject {
 public:
  void Web(TObject*) { ++web; }
  void Mail(TObject*, bool IncludeScreenshot) { mails.push_back(IncludeScreenshot); }
  int web = 0;
  std::vector<bool> mails;
};

class ErrorDialogOnDesktop : public DesktopTest {
 protected:
  std::unique_ptr<TfrmZTLogErrorDialog> NewDialog() {
    auto dialog = std::make_unique<TfrmZTLogErrorDialog>(nullptr);
    TZTErrorDialogContent content;
    content.ShowSendEMail = true;
    content.ShowSupportLink = true;
    content.SendToOptions = TZTLDialogOptions{doScreenshot, doEmail, doWeb};
    content.WWW = "https://support.example.org/";
    // Longer than the memo is wide: the window keeps the design's size.
    content.ErrorText =
        "Access violation at address 000055F6DE497F4A: read of address 0000000000000004\r\nUnit: DemoForm\r\n"
        "Procedure: demo::TDemoForm::btnLookupClick(ztl::TObject*)\r\nLine No: 38";
    dialog->Fill(content);
    dialog->OnActivateWeb = MakeMethod<&Callbacks::Web>(&callbacks_);
    dialog->OnActivateEMail = MakeMethod<&Callbacks::Mail>(&callbacks_);
    return dialog;
  }

  Callbacks callbacks_;
};

TEST_F(ErrorDialogOnDesktop, ShowsItsDesignAndRunsTheCallbacksUntilEscape) {
  auto dialog = NewDialog();
  TfrmZTLogErrorDialog& d = *dialog;
  AsUser([&] {
    const Window window = WaitForWindow("Error");
    if (!window) return;
    XWindowAttributes attributes;
    ASSERT_TRUE(XGetWindowAttributes(display_, window, &attributes));
    EXPECT_EQ(attributes.width, 492);
    EXPECT_EQ(attributes.height, 232);
    // Controls where the design puts them, on the screen the library copies.
    const auto shot = OnMain<std::shared_ptr<TBitmap>>([] { return Screenshot("error-dialog"); });
    EXPECT_EQ(shot->Width(), kScreenWidth) << "the primary monitor, whole";
    EXPECT_EQ(shot->Height(), kScreenHeight);
    const TPoint form = OnMain<TPoint>([&] { return ScreenPos(d); });
    EXPECT_EQ(form.X, (kScreenWidth - 492) / 2);
    EXPECT_EQ(form.Y, (kScreenHeight - 232) / 2);
    EXPECT_EQ(ColorToRGB(shot->Pixel(form.X + 300, form.Y + 95)), ColorToRGB(clHighlightText)) << "header panel";
    EXPECT_EQ(ColorToRGB(shot->Pixel(form.X + 300, form.Y + 101)), ColorToRGB(clBtnFace)) << "below the header";
    EXPECT_EQ(ColorToRGB(shot->Pixel(form.X + 26, form.Y + 15)), RGB(0xC0, 0, 0)) << "the stock error icon";
    EXPECT_EQ(ColorToRGB(shot->Pixel(form.X + 11, form.Y + 11)), ColorToRGB(clHighlightText)) << "icon transparency";
    EXPECT_GT(Differing(*shot, form.X + 56, form.Y + 3, 425, 70, clHighlightText), 200) << "the header text";
    // The report is longer than its box: the box's scroll bar shows, beside
    // the text, without the pointer coming near.
    const TPoint memo = OnMain<TPoint>([&] { return ScreenPos(*d.lblErrorText); });
    const int memoRight = memo.X + d.lblErrorText->Width();
    EXPECT_GT(Differing(*shot, memoRight - 14, memo.Y, 12, d.lblErrorText->Height(), clBtnFace), 60) << "scroll bar";
    for (TControl* c : {static_cast<TControl*>(d.btnEmail), static_cast<TControl*>(d.btnGoWEB),
                        static_cast<TControl*>(d.btnClose), static_cast<TControl*>(d.cbAttachScreenshot)}) {
      SCOPED_TRACE(c->Name());
      const TPoint at = OnMain<TPoint>([&] { return ScreenPos(*c); });
      EXPECT_GT(Differing(*shot, at.X, at.Y, c->Width(), c->Height(), clBtnFace), 50) << "drawn in its place";
      EXPECT_EQ(Differing(*shot, at.X - 3, at.Y, 2, c->Height(), clBtnFace), 0) << "nothing left of it";
    }

    ClickOn(*d.btnGoWEB);
    EXPECT_TRUE(WaitUntil([&] { return callbacks_.web == 1; })) << "Support homepage";
    ClickOn(*d.lblProductSite);
    EXPECT_TRUE(WaitUntil([&] { return callbacks_.web == 2; })) << "the link";
    ClickOn(*d.cbAttachScreenshot);
    EXPECT_TRUE(WaitUntil([&] { return d.cbAttachScreenshot->Checked(); }));
    ClickOn(*d.btnEmail);
    EXPECT_TRUE(WaitUntil([&] { return callbacks_.mails.size() == 1; }));
    EXPECT_TRUE(OnMain<bool>([&] { return d.Visible(); })) << "no callback closes the dialog";
    Key(XK_Escape);
  });
  EXPECT_EQ(d.ShowModal(), mrOk);  // the cancel button's result
  EXPECT_EQ(callbacks_.web, 2);
  EXPECT_EQ(callbacks_.mails, std::vector<bool>{true});
}

TEST_F(ErrorDialogOnDesktop, TheCloseBoxEndsItWithCancel) {
  auto dialog = NewDialog();
  AsUser([&] {
    if (Window w = WaitForWindow("Error")) CloseBox(w);
  });
  EXPECT_EQ(dialog->ShowModal(), mrCancel);
  EXPECT_EQ(callbacks_.web, 0);
}

TEST_F(ErrorDialogOnDesktop, EnterPressesTheDefaultButton) {
  auto dialog = NewDialog();
  std::atomic<int> closeClicks = 0;
  class Counter : public TObject {
   public:
    explicit Counter(std::atomic<int>& n) : n_(n) {}
    void Clicked(TObject*) { ++n_; }
    std::atomic<int>& n_;
  } counter(closeClicks);
  dialog->btnClose->SetOnClick(MakeMethod<&Counter::Clicked>(&counter));
  AsUser([&] {
    if (!WaitForWindow("Error")) return;
    MoveTo(kScreenWidth / 2, kScreenHeight / 2);
    Key(XK_Return);
  });
  EXPECT_EQ(dialog->ShowModal(), mrOk);
  EXPECT_EQ(closeClicks, 1);
}

}  // namespace
}  // namespace ztl::test
