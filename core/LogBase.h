#pragma once
// The base class of every log component: the activation flag, the log file in
// its two forms, the write operations under the process-wide write lock, and
// the delivery settings.
#include <cstdint>
#include <memory>

#include <ztlogger/platform/classes/Component.h>
#include <ztlogger/platform/classes/Set.h>
#include <ztlogger/platform/classes/Strings.h>
#include <ztlogger/platform/classes/TypInfo.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

class TStream;

enum TZTLogFormatting : uint8_t { ztlfText, ztlfXML };
ZTL_ENUM_NAMES(TZTLogFormatting, "ztlfText", "ztlfXML")

enum TZTLScreenshotFormat : uint8_t { sfBitmap, sfJpeg };
ZTL_ENUM_NAMES(TZTLScreenshotFormat, "sfBitmap", "sfJpeg")

enum TZTLDialogOption : uint8_t { doScreenshot, doEmail, doWeb };
ZTL_ENUM_NAMES(TZTLDialogOption, "doScreenshot", "doEmail", "doWeb")
using TZTLDialogOptions = TSet<TZTLDialogOption, 3>;

// How a log is handed to a person: by mail or through a support web page.
class ZTL_API TZTLSendTo : public TPersistent {
  ZTL_DECLARE_CLASS(TZTLSendTo, TPersistent)

 public:
  TZTLSendTo();
  ~TZTLSendTo() override;
  TZTLSendTo(const TZTLSendTo&) = delete;
  TZTLSendTo& operator=(const TZTLSendTo&) = delete;

  const String& EMail() const { return FEMail; }
  void SetEMail(const String& value) { FEMail = value; }
  const String& EMailSubject() const { return FEMailSubject; }
  void SetEMailSubject(const String& value) { FEMailSubject = value; }
  const String& EMailBody() const { return FEMailBody; }
  void SetEMailBody(const String& value) { FEMailBody = value; }
  bool EMailOpenBeforeSend() const { return FEMailOpen; }
  void SetEMailOpenBeforeSend(bool value) { FEMailOpen = value; }
  const String& WWW() const { return FWWW; }
  void SetWWW(const String& value) { FWWW = value; }
  bool AttachScreenShot() const { return FAttachScreenShot; }
  void SetAttachScreenShot(bool value) { FAttachScreenShot = value; }
  TZTLScreenshotFormat ScreenshotFormat() const { return FScreenshotFormat; }
  void SetScreenshotFormat(TZTLScreenshotFormat value) { FScreenshotFormat = value; }
  bool AttachLog() const { return FAttachLog; }
  void SetAttachLog(bool value) { FAttachLog = value; }
  bool ResolveNames() const { return FResolveNames; }
  void SetResolveNames(bool value) { FResolveNames = value; }
  TStrings* AdditionalFiles() const { return FAdditionalFiles.get(); }
  // Copies the lines of Value into the owned list.
  void SetAdditionalFiles(TStrings* Value);
  TZTLDialogOptions Options() const { return FOptions; }
  void SetOptions(TZTLDialogOptions value) { FOptions = value; }
  // The collecting server (Sentry's protocol) that the exception logger's
  // reports go to, as a DSN: "https://PUBLIC_KEY@HOST[:PORT][/PATH]/PROJECT_ID".
  // Empty: none. Raises EConvertError for a text that is not such a DSN.
  const String& Collector() const { return FCollector; }
  void SetCollector(const String& Value);
  // Whether reports go to the collector as they are made. Without it they
  // wait in its queue until the application sends them
  // (TZTExceptionLog::SendCollectorReports), after asking the user, say.
  bool CollectorAutoSend() const { return FCollectorAutoSend; }
  void SetCollectorAutoSend(bool value) { FCollectorAutoSend = value; }
  // Whether a report for the collector carries a picture of the screen (in
  // ScreenshotFormat). Off by default: nobody is asked before it is sent,
  // and taking it keeps the user waiting for the dialog. The log file goes
  // with the report as AttachLog says.
  bool CollectorScreenshot() const { return FCollectorScreenshot; }
  void SetCollectorScreenshot(bool value) { FCollectorScreenshot = value; }

 private:
  String FEMail;
  String FEMailSubject;
  String FEMailBody;
  bool FEMailOpen = true;
  String FWWW;
  bool FAttachScreenShot = true;
  TZTLScreenshotFormat FScreenshotFormat = sfBitmap;
  bool FAttachLog = false;
  bool FResolveNames = true;
  std::unique_ptr<TStringList> FAdditionalFiles;
  TZTLDialogOptions FOptions;
  String FCollector;
  bool FCollectorAutoSend = true;
  bool FCollectorScreenshot = false;
};

// The base of every log component: Active, LogFile, Formatting and SendTo,
// the write operations (one dated entry a call, under the process-wide write
// lock) and the delivery of the log by mail or through a support web page.
// Used on its own it is a plain application log:
//
//     auto* log = new TZTLogBase(owner);     // freed with its owner
//     log->SetLogFile("/var/tmp/app.log");
//     log->SetFormatting(ztlfXML);           // writes /var/tmp/app.xml
//     log->WriteAsString("START", "Application started");
//
// Main thread for the properties; the write operations from any thread.
class ZTL_API TZTLogBase : public TComponent {
  ZTL_DECLARE_CLASS(TZTLogBase, TComponent)

 public:
  explicit TZTLogBase(TComponent* AOwner);
  ~TZTLogBase() override;

  bool Active() const { return FActive; }
  // Stores the flag; descendants attach their own meaning and call this first.
  virtual void SetActive(bool Value);
  const String& LogFile() const { return FLogFile; }
  void SetLogFile(const String& value) { FLogFile = value; }
  // The component owns the delivery settings; an assigned object is taken
  // over as it is (no copy) and freed with the component.
  TZTLSendTo* SendTo() const { return FSendTo.get(); }
  void SetSendTo(TZTLSendTo* value);
  TZTLogFormatting Formatting() const { return FFormatting; }
  // Stores the form and gives LogFile the matching extension (".xml" or
  // ".log"), on every assignment.
  void SetFormatting(TZTLogFormatting Value);

  // Appends one named value to the log file; an empty value writes nothing.
  // Failures of the file layer propagate; the lock is released either way. A
  // write that fails part way leaves the file as it was before it.
  virtual void WriteAsString(const String& AName, const String& AValue);
  void WriteAsInteger(const String& AName, int64_t AValue);
  void WriteAsFloat(const String& AName, double AValue);
  void WriteAsDateTime(const String& AName, TDateTime AValue);
  // Deletes the log file if it exists; reports nothing.
  void ClearLog();

  // Hands one mail with the log to the system's mail client: recipients from
  // SendTo.EMail, the body from SendTo.EMailBody, the screenshot, the log
  // file and the additional files attached as the settings ask. A mail
  // system error is shown in an error box, not returned; the temporary
  // screenshot is deleted when this returns, also by an exception.
  void SendLogByMail();
  // Opens SendTo.WWW with the shell's "open"; the result is not examined.
  void SendLogByWWW();
  // Writes a picture of the whole screen to Stream in SendTo.ScreenshotFormat.
  void SaveScreenshot(TStream& Stream) const;
  // The text of a Simple MAPI result code.
  String MAPIErrorDescription(int intErrorCode);

 private:
  bool FActive = false;
  std::unique_ptr<TZTLSendTo> FSendTo;
  String FLogFile;
  TZTLogFormatting FFormatting = ztlfText;
  // The LogFile whose last write found a regular file: its next write need
  // not ask again (fmKnownFile). Read and written under the write lock.
  String FKnownLogFile;
};

}  // namespace ztl
