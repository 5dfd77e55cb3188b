#include <ztlogger/exceptionlog/LogDlg.h>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/os/Windows.h>

namespace ztl {

ZTL_BEGIN_CLASS(TfrmZTLogErrorDialog, TForm)
  .Method<&Self::btnGoWEBClick>("btnGoWEBClick")
  .Method<&Self::btnEmailClick>("btnEmailClick")
  .Field("btnClose", &Self::btnClose)
  .Field("btnEmail", &Self::btnEmail)
  .Field("cbAttachScreenshot", &Self::cbAttachScreenshot)
  .Field("btnGoWEB", &Self::btnGoWEB)
  .Field("pnlHeader", &Self::pnlHeader)
  .Field("imgError", &Self::imgError)
  .Field("lblHeader", &Self::lblHeader)
  .Field("gbExceptionReason", &Self::gbExceptionReason)
  .Field("lblErrorText", &Self::lblErrorText)
  .Field("lblProductSite", &Self::lblProductSite)
ZTL_END_CLASS

namespace {

const char* const kHeaderText =
    "A crash has been detected\r\n\r\nTo help the development process, this program will try and gather the "
    "information about the crash, andthe state of your machine at the time of the crash. This data can then be "
    "sent to product support or saved to a file.";

// The space between the buttons and the check box below them.
constexpr int kCheckBoxGap = 5;

}  // namespace

TfrmZTLogErrorDialog::TfrmZTLogErrorDialog(TComponent* AOwner) : TForm(AOwner) {
  ReadComponentRes("TFRMZTLOGERRORDIALOG", this);
}

void TfrmZTLogErrorDialog::btnGoWEBClick(TObject* Sender) {
  if (OnActivateWeb) OnActivateWeb(Sender);
}

void TfrmZTLogErrorDialog::btnEmailClick(TObject* Sender) {
  if (OnActivateEMail) OnActivateEMail(Sender, cbAttachScreenshot->Checked() && cbAttachScreenshot->Visible());
}

void TfrmZTLogErrorDialog::Fill(const TZTErrorDialogContent& Content) {
  Icon()->SetHandle(LoadIconW(nullptr, IDI_HAND));
  imgError->Picture()->SetIcon(Icon());

  SetCaption("Error");
  btnClose->SetCaption("&Close");
  lblHeader->SetCaption(kHeaderText);
  gbExceptionReason->SetCaption(" Exception Reason ");

  if (Content.ShowSupportLink && !Content.WWW.empty()) {
    lblProductSite->SetCaption(Content.WWW);
    lblProductSite->SetHint("Support homepage");
  }

  if (Content.ShowSendEMail) {
    btnEmail->SetCaption("Email to author");
    btnEmail->SetVisible(Content.SendToOptions.Contains(doEmail));
    if (Content.SendToOptions.Contains(doScreenshot)) {
      cbAttachScreenshot->SetCaption("to attach screenshot");
      cbAttachScreenshot->SetVisible(true);
      SetClientHeight(ClientHeight() + cbAttachScreenshot->Height() + kCheckBoxGap);
    }
  }

  if (Content.SendToOptions.Contains(doWeb) && Content.ShowSupportLink) {
    btnGoWEB->SetCaption("Support homepage");
    btnGoWEB->SetVisible(true);
    if (!Content.ShowSendEMail) btnGoWEB->SetLeft(btnEmail->Left());
  }

  lblErrorText->Lines()->SetText(Content.ErrorText);
}

}  // namespace ztl
