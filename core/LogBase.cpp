#include "core/LogBase.h"

#include <algorithm>
#include <deque>
#include <iterator>
#include <memory>
#include <vector>

#include "core/LogCnst.h"
#include "platform/classes/ClassBuilder.h"
#include "platform/classes/Streams.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/forms/Graphics.h"
#include "platform/forms/Jpeg.h"
#include "platform/os/Windows.h"
#include "platform/rtl/ExceptionSupport.h"
#include "platform/rtl/FormatUtils.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"

namespace ztl {

namespace {

// The process-wide log write lock: made when the module is loaded, before any
// component exists, and deleted when it is unloaded.
class LogWriteLock {
 public:
  LogWriteLock() { InitializeCriticalSection(&section_); }
  ~LogWriteLock() { DeleteCriticalSection(&section_); }
  LogWriteLock(const LogWriteLock&) = delete;
  LogWriteLock& operator=(const LogWriteLock&) = delete;

  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

LogWriteLock writeLock;

class LockGuard {
 public:
  LockGuard() { writeLock.Enter(); }
  ~LockGuard() { writeLock.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;
};

const String closingTag = XMLLogClosingTag;

String XMLElement(const String& name, const String& value) {
  String element;
  element.reserve(name.size() * 2 + value.size() + 16 + closingTag.size());
  element += "  <";
  element += name;
  element += '>';
  element += value;
  element += "\r\n  </";
  element += name;
  element += ">\r\n";
  element += closingTag;
  return element;
}

// Where the closing tag of a log of ours starts: the file ends with it, or
// with it and then only line ends and blanks (as an editor or "echo >>"
// leaves them). -1 for any other ending. replaced gets the bytes from the
// tag to the end.
int64_t ClosingTagStart(TStream& stream, int64_t size, String& replaced) {
  const size_t tagSize = closingTag.size();
  String window;  // the file's bytes from `from` to its end
  int64_t from = size;
  size_t last;  // in window: the last byte that is not blank
  for (;;) {
    if (from == 0) return -1;
    const int64_t step = std::min<int64_t>(from, 256);
    from -= step;
    String chunk(static_cast<size_t>(step), '\0');
    stream.Seek(from, soBeginning);
    stream.ReadBuffer(chunk.data(), step);
    window.insert(0, chunk);
    last = window.find_last_not_of(" \t\r\n");
    if (last != String::npos && last + 1 >= tagSize) break;
  }
  const size_t tag = last + 1 - tagSize;
  if (window.compare(tag, tagSize, closingTag) != 0) return -1;
  replaced = window.substr(tag);
  return from + static_cast<int64_t>(tag);
}

// Runs write, which writes from start on; when it fails, puts back the file
// as it was (its first start bytes, then replaced, which the write was to
// take the place of), so that a cut value never stays in the log to spoil
// the next one, and raises what the write raised.
template <typename Write>
void WriteWhole(TStream& stream, int64_t start, const String& replaced, Write&& write) {
  try {
    write();
  } catch (...) {
    // The write's error is the one raised: a file that cannot be put back
    // (no size to cut, as on a device) is no news to the caller beyond it.
    try {
      stream.SetSize(start);
      if (!replaced.empty()) {
        stream.Seek(start, soBeginning);
        stream.WriteBuffer(replaced.data(), static_cast<int64_t>(replaced.size()));
      }
    } catch (const EStreamError&) {
    }
    throw;
  }
}

}  // namespace

ZTL_BEGIN_CLASS(TZTLSendTo, TPersistent)
  .Property("EMail", &Self::EMail, &Self::SetEMail)
  .Property("EMailSubject", &Self::EMailSubject, &Self::SetEMailSubject)
  .Property("EMailBody", &Self::EMailBody, &Self::SetEMailBody)
  .Property("EMailOpenBeforeSend", &Self::EMailOpenBeforeSend, &Self::SetEMailOpenBeforeSend).Default(true)
  .Property("WWW", &Self::WWW, &Self::SetWWW)
  .Property("AttachScreenShot", &Self::AttachScreenShot, &Self::SetAttachScreenShot).Default(true)
  .Property("ScreenshotFormat", &Self::ScreenshotFormat, &Self::SetScreenshotFormat).Default(sfBitmap)
  .Property("AttachLog", &Self::AttachLog, &Self::SetAttachLog).Default(false)
  .Property("ResolveNames", &Self::ResolveNames, &Self::SetResolveNames).Default(true)
  .Property("Options", &Self::Options, &Self::SetOptions).Default(TZTLDialogOptions{doScreenshot, doEmail, doWeb})
  .Property("AdditionalFiles", &Self::AdditionalFiles, &Self::SetAdditionalFiles)
ZTL_END_CLASS

TZTLSendTo::TZTLSendTo()
    : FEMailBody(DefaultEMailBody),
      FAdditionalFiles(new TStringList),
      FOptions{doScreenshot, doEmail, doWeb} {}

TZTLSendTo::~TZTLSendTo() { delete FAdditionalFiles; }

void TZTLSendTo::SetAdditionalFiles(TStrings* Value) { FAdditionalFiles->Assign(Value); }

ZTL_BEGIN_CLASS(TZTLogBase, TComponent)
  .Property("Active", &Self::Active, &Self::SetActive)
  .Property("LogFile", &Self::LogFile, &Self::SetLogFile)
  .Property("SendTo", &Self::SendTo, &Self::SetSendTo)
  .Property("Formatting", &Self::Formatting, &Self::SetFormatting).Default(ztlfText)
ZTL_END_CLASS

TZTLogBase::TZTLogBase(TComponent* AOwner) : TComponent(AOwner) {
  FLogFile = DefaultLogFileName;
  // In C++ this call reaches the base's own setter, as the descendant is not
  // built yet; every override treats deactivating a fresh component as doing
  // nothing, so the outcome is the same.
  TZTLogBase::SetActive(false);
  FSendTo = new TZTLSendTo;
  FFormatting = ztlfText;
}

TZTLogBase::~TZTLogBase() { delete FSendTo; }

void TZTLogBase::SetSendTo(TZTLSendTo* value) {
  if (value == FSendTo) return;
  delete FSendTo;
  FSendTo = value;
}

void TZTLogBase::SetActive(bool Value) { FActive = Value; }

void TZTLogBase::SetFormatting(TZTLogFormatting Value) {
  FFormatting = Value;
  FLogFile = ChangeFileExt(FLogFile, Value == ztlfXML ? ".xml" : ".log");
}

void TZTLogBase::WriteAsString(const String& AName, const String& AValue) {
  if (AValue.empty()) return;
  LockGuard lock;
  // Open an existing file or create it, without truncating: the file is new
  // when it is empty once it is ours, which also holds when another process
  // created it a moment ago. One open does both, as each write pays for every
  // system call it makes.
  if (FFormatting == ztlfText) {
    // The value goes to the end of the file; nothing else is read or moved.
    TFileStream stream(FLogFile, fmOpenWrite | fmOpenOrCreate | fmAppend | fmShareDenyWrite);
    const int64_t size = stream.Seek(0, soEnd);
    WriteWhole(stream, size, String(), [&] { stream.Write(AValue.data(), static_cast<int64_t>(AValue.size())); });
    return;
  }
  TFileStream stream(FLogFile, fmOpenReadWrite | fmOpenOrCreate | fmShareDenyWrite);
  const int64_t size = stream.Seek(0, soEnd);
  int64_t start = size;
  String replaced;
  // The new element takes the place of the closing tag and what follows it.
  // Any other ending is not a log of ours: every byte of it stays as it is.
  if (size > 0) {
    const int64_t tag = ClosingTagStart(stream, size, replaced);
    if (tag >= 0) start = tag;
  }
  stream.Seek(start, soBeginning);
  WriteWhole(stream, start, replaced, [&] {
    if (size == 0) {
      String header = XMLLogHeader;
      stream.Write(header.data(), static_cast<int64_t>(header.size()));
    }
    AppendXMLElement(stream, AName, AValue);
    // Blanks after the old tag may reach past the new one: they go too.
    if (replaced.size() > closingTag.size() && stream.Position() < size) stream.SetSize(stream.Position());
  });
}

void TZTLogBase::AppendXMLElement(TStream& stream, const String& name, const String& value) {
  String element = XMLElement(name, value);
  stream.Write(element.data(), static_cast<int64_t>(element.size()));
}

void TZTLogBase::WriteAsInteger(const String& AName, int64_t AValue) { WriteAsString(AName, IntToStr(AValue)); }

void TZTLogBase::WriteAsFloat(const String& AName, double AValue) { WriteAsString(AName, FloatToStr(AValue)); }

void TZTLogBase::WriteAsDateTime(const String& AName, TDateTime AValue) {
  WriteAsString(AName, DateTimeToStr(AValue));
}

void TZTLogBase::ClearLog() {
  if (FLogFile.empty() || !FileExists(FLogFile)) return;
  // A deletion on POSIX does not wait for open files: wait for the writers of
  // this process (the lock) and of others (the file's share lock) instead.
  LockGuard lock;
  try {
    TFileStream guard(FLogFile, fmOpenRead | fmShareExclusive);
    DeleteFile(FLogFile);
  } catch (const EStreamError&) {
    // The file could not be had; it stays, as a failed deletion leaves it.
  }
}

// ---------------------------------------------------------------- delivery

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

void SaveScreenshot(TStream& file, TZTLScreenshotFormat format) {
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
    SaveScreenshot(*file, FSendTo->ScreenshotFormat());
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
