// Delivery of a log: by mail through Simple MAPI, with the log, a screenshot
// and further files attached, or through the support web page.
#include <ztlogger/core/LogBase.h>

#include <deque>
#include <iterator>
#include <memory>
#include <vector>

#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/forms/Dialogs.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/Graphics.h>
#include <ztlogger/platform/forms/Jpeg.h>
#include <ztlogger/platform/os/Windows.h>
#include <ztlogger/platform/rtl/ErrorMessages.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

namespace {

// Narrow texts for Simple MAPI are in the ANSI code page, which is UTF-8 on
// POSIX, the form String already has.
const String& AnsiText(const String& text) { return text; }

// The screenshot file of one send: removed when the send is over, however it
// ends.
class TTemporaryFile {
 public:
  TTemporaryFile() = default;
  ~TTemporaryFile() {
    if (!path_.empty()) DeleteFile(path_);
  }
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;

  const String& Path() const { return path_; }
  void SetPath(const String& path) { path_ = path; }

 private:
  String path_;
};

// A new file of the temporary folder, with the extension of the format, made
// for this send alone: readable by its owner only, and never a name that
// another user prepared (a link to the sender's own files, say).
std::unique_ptr<THandleStream> CreateScreenshotFile(TZTLScreenshotFormat format, String& path) {
  WCHAR folder[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH, folder);
  if (length == 0 || length > MAX_PATH) RaiseLastOSError();
  const String folderName = Utf16ToUtf8(folder);
  // A temporary folder that is missing is the system's failure, as Windows
  // reports it.
  if (!DirectoryExists(folderName)) RaiseLastOSError(ERROR_DIRECTORY);
  return CreateUniqueFile(folderName, "ZTL", format == sfJpeg ? ".jpg" : ".bmp", path);
}

class TScreenDC {
 public:
  TScreenDC() : handle_(GetDC(nullptr)) {
    if (!handle_) RaiseLastOSError();
  }
  ~TScreenDC() { ReleaseDC(nullptr, handle_); }
  TScreenDC(const TScreenDC&) = delete;
  TScreenDC& operator=(const TScreenDC&) = delete;
  HDC Handle() const { return handle_; }

 private:
  HDC handle_;
};

int ScreenWidth() { return Screen ? Screen->Width() : WidgetSet().ScreenWidth(); }
int ScreenHeight() { return Screen ? Screen->Height() : WidgetSet().ScreenHeight(); }

void WriteScreenshot(TStream& file, TZTLScreenshotFormat format) {
  const int width = ScreenWidth(), height = ScreenHeight();
  TBitmap bitmap;
  bitmap.SetHeight(height);
  bitmap.SetWidth(width);
  TScreenDC screen;
  BitBlt(bitmap.Canvas()->Handle(), 0, 0, width, height, screen.Handle(), 0, 0, SRCCOPY);
  if (format == sfJpeg) {
    TJPEGImage jpeg;
    jpeg.Assign(&bitmap);
    jpeg.SaveToStream(file);
  } else {
    bitmap.SaveToStream(file);
  }
}

// Every "," or ";" ends a recipient, empty ones included; what follows the
// last separator counts only when it is not empty. Nothing is trimmed.
std::vector<String> SplitRecipients(const String& text) {
  std::vector<String> recipients;
  String gathered;
  for (char c : text) {
    if (c == ',' || c == ';') {
      recipients.push_back(gathered);
      gathered.clear();
    } else {
      gathered += c;
    }
  }
  if (!gathered.empty()) recipients.push_back(gathered);
  return recipients;
}

bool HasPrefix(const String& text, const char* prefix) {
  const String wanted = prefix;
  return text.size() >= wanted.size() && UpperCase(text.substr(0, wanted.size())) == wanted;
}

// The records handed to MapiSendMail and everything they point at, which
// stays valid until the mail system has returned; the descriptors the mail
// system resolved are given back to it at the end.
class TMailComposition {
 public:
  TMailComposition() = default;
  ~TMailComposition() {
    for (lpMapiRecipDesc entry : resolved_) MapiFreeBuffer(entry);
  }
  TMailComposition(const TMailComposition&) = delete;
  TMailComposition& operator=(const TMailComposition&) = delete;

  void SetTexts(const String& subject, const String& body) {
    message_.lpszSubject = Keep(AnsiText(subject));
    message_.lpszNoteText = Keep(AnsiText(body));
  }

  void AddAttachment(const String& path) {
    MapiFileDesc file{};
    file.nPosition = 0xFFFFFFFF;  // not placed in the text
    file.lpszPathName = Keep(AnsiText(path));
    file.lpszFileName = Keep(AnsiText(ExtractFileName(path)));
    files_.push_back(file);
  }

  void AddRecipient(const String& text, bool resolveNames) {
    MapiRecipDesc recipient{};
    String rest = text;
    if (HasPrefix(text, "CC:")) {
      recipient.ulRecipClass = MAPI_CC;
      rest = text.substr(3);
    } else if (HasPrefix(text, "BCC:")) {
      recipient.ulRecipClass = MAPI_BCC;
      rest = text.substr(4);
    } else {
      recipient.ulRecipClass = MAPI_TO;
    }
    if (!resolveNames) {
      recipient.lpszName = recipient.lpszAddress = Keep(AnsiText(rest));
    } else if (lpMapiRecipDesc entry = Resolve(rest)) {
      recipient.lpszName = recipient.lpszAddress = entry->lpszName;
      recipient.ulEIDSize = entry->ulEIDSize;
      recipient.lpEntryID = entry->lpEntryID;
    }
    recipients_.push_back(recipient);
  }

  ULONG Send(bool openBeforeSend) {
    message_.nFileCount = static_cast<ULONG>(files_.size());
    message_.lpFiles = files_.empty() ? nullptr : files_.data();
    message_.nRecipCount = static_cast<ULONG>(recipients_.size());
    message_.lpRecips = recipients_.empty() ? nullptr : recipients_.data();
    const ULONG_PTR parent = Application ? reinterpret_cast<ULONG_PTR>(Application->Handle()) : 0;
    return MapiSendMail(0, parent, &message_, MAPI_LOGON_UI | (openBeforeSend ? MAPI_DIALOG : 0), 0);
  }

 private:
  // A name the address book knows, else one the user picks from it; nullptr
  // when neither gives one.
  lpMapiRecipDesc Resolve(const String& name) {
    LPSTR text = Keep(AnsiText(name));
    lpMapiRecipDesc entry = nullptr;
    ULONG result = MapiResolveName(0, 0, text, 0, 0, &entry);
    if (result == MAPI_E_UNKNOWN_RECIPIENT || result == MAPI_E_AMBIGUOUS_RECIPIENT)
      result = MapiResolveName(0, 0, text, MAPI_DIALOG, 0, &entry);
    if (result != SUCCESS_SUCCESS) return nullptr;
    resolved_.push_back(entry);
    return entry;
  }

  LPSTR Keep(const String& text) { return texts_.emplace_back(text).data(); }

  MapiMessage message_{};
  std::deque<String> texts_;  // a deque keeps each text where it is
  std::vector<MapiFileDesc> files_;
  std::vector<MapiRecipDesc> recipients_;
  std::vector<lpMapiRecipDesc> resolved_;
};

constexpr const char* kMapiErrors[] = {
    nullptr,
    "User cancelled request",
    "General MAPI failure",
    "Logon failure",
    "Disk full",
    "Insufficient memory",
    "Access denied",
    nullptr,
    "Too many sessions",
    "Too many files open",
    "Too many recipients",
    "Attachment not found",
    "Failed to open attachment",
    "Failed to write attachment",
    "Unknown recipient",
    "Invalid recipient type",
    "No messages",
    "Invalid message",
    "Text too large.",
    "Invalid session",
    "Type not supported",
    "Ambiguous recipient",
    "Message in use",
    "Network failure",
    "Invalid edit fields",
    "Invalid recipients",
    "Not supported",
};

}  // namespace

void TZTLogBase::SendLogByMail() {
  std::vector<String> attachments;
  TTemporaryFile screenshot;
  if (FSendTo->AttachScreenShot()) {
    String path;
    std::unique_ptr<THandleStream> file = CreateScreenshotFile(FSendTo->ScreenshotFormat(), path);
    screenshot.SetPath(path);
    SaveScreenshot(*file);
    file.reset();  // complete before the mail system reads it
    attachments.push_back(path);
  }
  if (FSendTo->AttachLog() && !FLogFile.empty()) attachments.push_back(FLogFile);
  // The additional files follow the log, as the list gives them.
  for (int i = 0; i < FSendTo->AdditionalFiles()->Count(); ++i)
    if (!FSendTo->AdditionalFiles()->Strings(i).empty()) attachments.push_back(FSendTo->AdditionalFiles()->Strings(i));
  const std::vector<String> recipients = SplitRecipients(FSendTo->EMail());
  const String body = Format(FSendTo->EMailBody(), {FSendTo->EMail(), FLogFile});

  ULONG result;
  {
    TMailComposition mail;
    mail.SetTexts(FSendTo->EMailSubject(), body);
    for (const String& path : attachments) mail.AddAttachment(path);
    for (const String& recipient : recipients) mail.AddRecipient(recipient, FSendTo->ResolveNames());
    result = mail.Send(FSendTo->EMailOpenBeforeSend());
  }
  if (result != SUCCESS_SUCCESS) MessageDlg(MAPIErrorDescription(static_cast<int>(result)), mtError, {mbOK}, 0);
}

void TZTLogBase::SaveScreenshot(TStream& Stream) const { WriteScreenshot(Stream, FSendTo->ScreenshotFormat()); }

void TZTLogBase::SendLogByWWW() {
  const std::u16string page = Utf8ToUtf16(FSendTo->WWW());
  ShellExecuteW(nullptr, u"open", page.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

String TZTLogBase::MAPIErrorDescription(int intErrorCode) {
  constexpr int count = static_cast<int>(std::size(kMapiErrors));
  if (intErrorCode > 0 && intErrorCode < count && kMapiErrors[intErrorCode]) return kMapiErrors[intErrorCode];
  return "Unknown Error Code: " + IntToStr(intErrorCode);
}

}  // namespace ztl
