#include <ztlogger/platform/forms/Dialogs.h>

#include <algorithm>
#include <memory>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/forms/StdCtrls.h>

namespace ztl {

ZTL_DEFINE_CLASS(TMessageForm, TForm)

namespace {

struct ButtonInfo {
  const char* Name;
  const char* Caption;
  TModalResult Result;
};

constexpr ButtonInfo kButtons[] = {
    {"Yes", "&Yes", mrYes},           {"No", "&No", mrNo},         {"OK", "OK", mrOk},
    {"Cancel", "Cancel", mrCancel},   {"Abort", "&Abort", mrAbort}, {"Retry", "&Retry", mrRetry},
    {"Ignore", "&Ignore", mrIgnore},  {"All", "&All", mrAll},       {"NoToAll", "N&o to All", mrNoToAll},
    {"YesToAll", "Yes to &All", mrYesToAll}, {"Help", "&Help", mrNone},
};

const char* Caption(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return "Warning";
    case mtError: return "Error";
    case mtInformation: return "Information";
    case mtConfirmation: return "Confirm";
    default: return nullptr;
  }
}

}  // namespace

UINT MessageDlgIcon(TMsgDlgType DlgType) {
  switch (DlgType) {
    case mtWarning: return MB_ICONWARNING;
    case mtError: return MB_ICONERROR;
    case mtInformation: return MB_ICONINFORMATION;
    case mtConfirmation: return MB_ICONQUESTION;
    default: return 0;
  }
}

TForm* CreateMessageDialog(const String& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons) {
  auto form = std::make_unique<TMessageForm>(nullptr);
  form->dlgType_ = DlgType;
  form->SetBorderStyle(bsDialog);
  form->SetPosition(poScreenCenter);
  const char* caption = Caption(DlgType);
  form->SetCaption(caption ? String(caption) : (Application ? Application->Title() : String()));

  // The text beside the icon; the buttons below both, in a row at the
  // bottom right, with the desktop's spacing between them and the margins.
  constexpr int kTextGap = 11, kButtonWidth = 75, kButtonHeight = 25, kButtonSpacing = 6, kMargin = 12;
  auto* message = new TLabel(form.get());
  message->SetName("Message");
  message->SetParent(form.get());
  message->SetCaption(Msg);
  const int textLeft = MessageDlgIconMargin + MessageDlgIconSize + kTextGap;
  message->SetBounds(textLeft, MessageDlgIconMargin, message->Width(), message->Height());

  const TMsgDlgBtn cancel = Buttons.Contains(mbCancel) ? mbCancel : Buttons.Contains(mbNo) ? mbNo : mbOK;
  const TMsgDlgBtn def = Buttons.Contains(mbOK) ? mbOK : mbYes;
  int count = 0;
  for (int b = mbYes; b <= mbHelp; ++b) count += Buttons.Contains(static_cast<TMsgDlgBtn>(b)) ? 1 : 0;
  const int rowWidth = count * kButtonWidth + std::max(0, count - 1) * kButtonSpacing;
  const int contentBottom = std::max(message->Top() + message->Height(), MessageDlgIconMargin + MessageDlgIconSize);
  const int top = contentBottom + 2 * kMargin;
  const int clientWidth = std::max(rowWidth + 2 * kMargin, message->Left() + message->Width() + MessageDlgIconMargin);
  int left = clientWidth - kMargin - rowWidth;
  for (int b = mbYes; b <= mbHelp; ++b) {
    const auto which = static_cast<TMsgDlgBtn>(b);
    if (!Buttons.Contains(which)) continue;
    auto* button = new TButton(form.get());
    button->SetName(kButtons[b].Name);
    button->SetParent(form.get());
    button->SetCaption(kButtons[b].Caption);
    button->SetModalResult(kButtons[b].Result);
    button->SetCancel(which == cancel);
    button->SetDefault(which == def);
    button->SetBounds(left, top, kButtonWidth, kButtonHeight);
    left += kButtonWidth + kButtonSpacing;
  }
  form->SetClientWidth(clientWidth);
  form->SetClientHeight(top + kButtonHeight + kMargin);
  return form.release();
}

int MessageDlg(const String& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) {
  std::unique_ptr<TForm> dialog(CreateMessageDialog(Msg, DlgType, Buttons));
  dialog->SetHelpContext(HelpCtx);
  return dialog->ShowModal();
}

}  // namespace ztl
