#include <ztlogger/core/LogBase.h>

#include <algorithm>

#include <ztlogger/core/LogCnst.h>
#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/os/Windows.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/SysUtils.h>

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
      FAdditionalFiles(std::make_unique<TStringList>()),
      FOptions{doScreenshot, doEmail, doWeb} {}

TZTLSendTo::~TZTLSendTo() = default;

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
  FSendTo = std::make_unique<TZTLSendTo>();
  FFormatting = ztlfText;
}

TZTLogBase::~TZTLogBase() = default;

void TZTLogBase::SetSendTo(TZTLSendTo* value) {
  if (value == FSendTo.get()) return;
  FSendTo.reset(value);
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

}  // namespace ztl
