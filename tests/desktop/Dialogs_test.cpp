// Message boxes, check marks and synchronised calls on a real desktop.
#include <atomic>
#include <memory>
#include <vector>

#include "tests/desktop/Desktop.h"
#include <ztlogger/checks/ZTLChecks.h>
#include <ztlogger/platform/forms/Dialogs.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/rtl/Threads.h>

namespace ztl::test {
namespace {

using MessageBoxOnDesktop = DesktopTest;

TEST_F(MessageBoxOnDesktop, AnswersWithTheButtonClicked) {
  AsUser([&] {
    if (!WaitForWindow("Unsaved")) return;
    auto* no = OnMain<TControl*>([] { return Screen->ActiveCustomForm()->FindChildControl("No"); });
    ASSERT_NE(no, nullptr);
    ClickOn(*no);
  });
  EXPECT_EQ(Application->MessageBox("Save the changes?", "Unsaved", MB_YESNOCANCEL | MB_ICONQUESTION), IDNO);
}

TEST_F(MessageBoxOnDesktop, EnterTakesTheDefaultAndEscapeTheCancelButton) {
  AsUser([&] {
    if (!WaitForWindow("Confirm")) return;
    MoveTo(kScreenWidth / 2, kScreenHeight / 2);
    Key(XK_Return);
    if (!WaitForWindow("Warning")) return;
    MoveTo(kScreenWidth / 2, kScreenHeight / 2);
    Key(XK_Escape);
  });
  EXPECT_EQ(MessageDlg("Go on?", mtConfirmation, TMsgDlgButtons{mbYes, mbNo}), mrYes);
  EXPECT_EQ(MessageDlg("Really?", mtWarning, TMsgDlgButtons{mbOK, mbCancel}), mrCancel);
}

TEST_F(MessageBoxOnDesktop, ItsButtonsStandClearOfTheIconAndTheEdges) {
  AsUser([&] {
    if (!WaitForWindow("Stock")) return;
    const auto shot = OnMain<std::shared_ptr<TBitmap>>([] { return Screenshot("message-box-screen"); });
    TCustomForm* box = OnMain<TCustomForm*>([] { return Screen->ActiveCustomForm(); });
    TControl* ok = OnMain<TControl*>([&] { return box->FindChildControl("OK"); });
    ASSERT_NE(ok, nullptr);
    const TPoint form = OnMain<TPoint>([&] { return ScreenPos(*box); });
    const TSize client = OnMain<TSize>([&] { return TSize{box->ClientWidth(), box->ClientHeight()}; });
    const TPoint button = OnMain<TPoint>([&] { return ScreenPos(*ok); });
    SaveArea(*shot, "message-box", form.X, form.Y, client.cx, client.cy);
    const int iconTop = form.Y + MessageDlgIconMargin, iconBottom = iconTop + MessageDlgIconSize;
    EXPECT_GT(Differing(*shot, form.X + MessageDlgIconMargin, iconTop, MessageDlgIconSize, MessageDlgIconSize,
                        clBtnFace),
              100)
        << "the icon";
    EXPECT_GT(Differing(*shot, button.X, button.Y, ok->Width(), ok->Height(), clBtnFace), 50) << "the OK button";
    EXPECT_GE(button.Y - iconBottom, 12) << "a gap between the icon and the buttons";
    // Nothing drawn between the icon and the buttons, nor along the bottom
    // and right edges: the button is the size the layout gave it.
    EXPECT_EQ(Differing(*shot, form.X, iconBottom + 1, client.cx, button.Y - iconBottom - 2, clBtnFace), 0);
    EXPECT_EQ(Differing(*shot, form.X, form.Y + client.cy - 6, client.cx, 6, clBtnFace), 0);
    EXPECT_EQ(Differing(*shot, form.X + client.cx - 6, form.Y, 6, client.cy, clBtnFace), 0);
    Key(XK_Return);
  });
  EXPECT_EQ(Application->MessageBox("Count the stock again?", "Stock", MB_OKCANCEL | MB_ICONINFORMATION), IDOK);
}

using ChecksOnDesktop = DesktopTest;

// A form whose OK button runs the checks, as an application's would.
class CheckedForm : public TForm {
 public:
  explicit CheckedForm(TComponent* AOwner) : TForm(AOwner) {
    SetCaption("Order");
    SetBounds(100, 100, 300, 120);
    Edit = new TEdit(this);
    Edit->SetParent(this);
    Edit->SetBounds(10, 10, 150, 21);
    Ok = new TButton(this);
    Ok->SetParent(this);
    Ok->SetCaption("OK");
    Ok->SetBounds(10, 80, 75, 25);
    Ok->SetOnClick(MakeMethod<&CheckedForm::OkClick>(this));
    Processor = new TZTLCheckProcessor(this);
    auto* provider = new TZTLCheckProviderEdit(Processor->CheckProviders());
    provider->SetCheckControl(Edit);
    Provider = provider;
  }
  void OkClick(TObject*) { Passed = Processor->Execute(); }

  TEdit* Edit;
  TButton* Ok;
  TZTLCheckProcessor* Processor;
  TZTLCheckProviderEdit* Provider;
  std::atomic<bool> Passed{true};
};

TEST_F(ChecksOnDesktop, AFailedCheckMarksTheControlAndShowsItsHint) {
  auto* form = new CheckedForm(Application);
  AsUser([&] {
    Window window = WaitForWindow("Order");
    if (!window) return;
    ClickOn(*form->Ok);
    ASSERT_TRUE(WaitUntil([&] { return form->Provider->LinkedImage() && form->Edit->Focused(); }));
    EXPECT_FALSE(form->Passed);
    EXPECT_EQ(OnMain<int>([] { return GtkInspection()->Beeps(); }), 1);
    TImage* mark = OnMain<TImage*>([&] { return form->Provider->LinkedImage(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto shot = OnMain<std::shared_ptr<TBitmap>>([] { return Screenshot("check-mark"); });
    const TPoint at = OnMain<TPoint>([&] { return ScreenPos(*mark); });
    EXPECT_EQ(at.X, 100 + 10 + 150 + 5) << "beside the control";
    int drawn = 0;
    for (int y = at.Y; y < at.Y + 16; ++y)
      for (int x = at.X; x < at.X + 16; ++x) drawn += ColorToRGB(shot->Pixel(x, y)) != ColorToRGB(clBtnFace);
    EXPECT_GT(drawn, 10) << "the mark is drawn";
    EXPECT_LT(drawn, 16 * 16) << "its transparent colour shows the form";
    MoveTo(at.X + 8, at.Y + 8);
    EXPECT_TRUE(WaitUntil([] { return GtkInspection()->HintVisible(); }));
    const auto hints = OnMain<std::vector<TGtkShownHint>>([] { return GtkInspection()->Hints(); });
    ASSERT_FALSE(hints.empty());
    EXPECT_EQ(hints.back().Text, "Editbox can not be empty");
    CloseBox(window);
  });
  EXPECT_EQ(form->ShowModal(), mrCancel);
}

// Workers that hand calls to the main thread.
class Counting : public TThread {
 public:
  explicit Counting(int& counter) : counter_(counter) {}
  ~Counting() override { TerminateAndWait(); }

 protected:
  void Execute() override {
    for (int i = 0; i < 40 && !Terminated(); ++i) Synchronize([this] { ++counter_; });
  }

 private:
  int& counter_;  // main thread only
};

using DesktopThreads = DesktopTest;

TEST_F(DesktopThreads, SynchronizeIsServedWhileAModalDialogIsOpen) {
  int counter = 0;
  std::vector<std::unique_ptr<Counting>> workers;
  AsUser([&] {
    if (!WaitForWindow("Information")) return;
    EXPECT_TRUE(WaitUntil([&] { return counter == 3 * 40; })) << "the workers were served";
    MoveTo(kScreenWidth / 2, kScreenHeight / 2);
    Key(XK_Return);
  });
  for (int i = 0; i < 3; ++i) workers.push_back(std::make_unique<Counting>(counter));
  Application->QueueCall([&] {
    for (auto& w : workers) w->Start();
  });
  EXPECT_EQ(MessageDlg("Working", mtInformation, TMsgDlgButtons{mbOK}), mrOk);
  for (auto& w : workers) w->WaitFor();
  EXPECT_EQ(counter, 3 * 40);
}

}  // namespace
}  // namespace ztl::test
