#pragma once
// The end user's error dialog: tells of the crash, shows the exception's
// message and offers to mail the log or open the support web page. Its design
// is the stored form TfrmZTLogErrorDialog.dfm, a module resource.
#include <ztlogger/core/LogBase.h>
#include <ztlogger/platform/forms/ExtCtrls.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

// The dialog's mail callback: IncludeScreenshot is the user's choice.
using TZTOnActivateMail = TMethodRef<void(TObject* Sender, bool IncludeScreenshot)>;

// What the dialog offers, taken from the exception logger's settings.
struct ZTL_API TZTErrorDialogContent {
  bool ShowSendEMail = false;    // laShowSendEMail in the logger's Options
  bool ShowSupportLink = false;  // laShowSupportLink in the logger's Options
  TZTLDialogOptions SendToOptions;
  String WWW;
  // The exception's message, with the source position when it is wanted.
  String ErrorText;
};

// The end user's error dialog, made from its stored form: the crash notice,
// the exception's message and, in its extended form, the report, with the
// buttons to mail the log or open the support page. Main thread only.
class ZTL_API TfrmZTLogErrorDialog : public TForm {
  ZTL_DECLARE_CLASS(TfrmZTLogErrorDialog, TForm)

 public:
  // Reads the stored design.
  explicit TfrmZTLogErrorDialog(TComponent* AOwner);

  TButton* btnClose = nullptr;
  TButton* btnEmail = nullptr;
  TCheckBox* cbAttachScreenshot = nullptr;
  TButton* btnGoWEB = nullptr;
  TPanel* pnlHeader = nullptr;
  TImage* imgError = nullptr;
  TLabel* lblHeader = nullptr;
  TGroupBox* gbExceptionReason = nullptr;
  TMemo* lblErrorText = nullptr;
  TLabel* lblProductSite = nullptr;

  TNotifyEvent OnActivateWeb;
  TZTOnActivateMail OnActivateEMail;

  // Neither handler closes the dialog.
  void btnGoWEBClick(TObject* Sender);
  void btnEmailClick(TObject* Sender);

  // Puts in the icon, the texts and the delivery controls Content asks for.
  void Fill(const TZTErrorDialogContent& Content);
};

}  // namespace ztl
