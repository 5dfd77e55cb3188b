#pragma once
// Message dialogs.
// Main thread only.
#include <ztlogger/platform/classes/Set.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

enum TMsgDlgType : uint8_t { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
ZTL_ENUM_NAMES(TMsgDlgType, "mtWarning", "mtError", "mtInformation", "mtConfirmation", "mtCustom")
enum TMsgDlgBtn : uint8_t { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp };
ZTL_ENUM_NAMES(TMsgDlgBtn, "mbYes", "mbNo", "mbOK", "mbCancel", "mbAbort", "mbRetry", "mbIgnore", "mbAll",
               "mbNoToAll", "mbYesToAll", "mbHelp")
using TMsgDlgButtons = TSet<TMsgDlgBtn, 11>;

// The dialog MessageDlg shows: a form with a label "Message" and one button
// per requested button, named after it ("Yes", "No", "OK", "Cancel", ...).
class ZTL_PLATFORM_API TMessageForm : public TForm {
  ZTL_DECLARE_CLASS(TMessageForm, TForm)

 public:
  explicit TMessageForm(TComponent* AOwner) : TForm(AOwner) {}
  TMsgDlgType DlgType() const { return dlgType_; }

 private:
  friend TForm* CreateMessageDialog(const String&, TMsgDlgType, TMsgDlgButtons);
  TMsgDlgType dlgType_ = mtCustom;
};

// Where a message dialog's icon goes, in client pixels: a square of this
// size at this distance from the top and left edges. The text starts right
// of it and the buttons below it.
inline constexpr int MessageDlgIconMargin = 16;
inline constexpr int MessageDlgIconSize = 32;

// The caption follows the type ("Warning", "Error", "Information", "Confirm",
// else the application's title); Cancel (else No, else OK) is the cancel
// button and OK (else Yes) the default one. The buttons stand in a row at
// the bottom right, below the text and the icon, spaced as the desktop's own
// dialogs space them. The caller frees the form.
ZTL_PLATFORM_API TForm* CreateMessageDialog(const String& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons);
// Shows the dialog modally and returns the modal result of the pressed button.
ZTL_PLATFORM_API int MessageDlg(const String& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx = 0);
// The message box icon (MB_ICON...) of a message dialog type.
ZTL_PLATFORM_API UINT MessageDlgIcon(TMsgDlgType DlgType);

}  // namespace ztl
