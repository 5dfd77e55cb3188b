#include <ztlogger/core/LogBase.h>

#include <cstring>

#include <ztlogger/core/CollectorDsn.h>
#include <ztlogger/core/LogAppend.h>
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
  .Property("Collector", &Self::Collector, &Self::SetCollector)
  .Property("CollectorAutoSend", &Self::CollectorAutoSend, &Self::SetCollectorAutoSend).Default(true)
  .Property("CollectorScreenshot", &Self::CollectorScreenshot, &Self::SetCollectorScreenshot).Default(false)
ZTL_END_CLASS

TZTLSendTo::TZTLSendTo()
    : FEMailBody(DefaultEMailBody),
      FAdditionalFiles(std::make_unique<TStringList>()),
      FOptions{doScreenshot, doEmail, doWeb} {}

TZTLSendTo::~TZTLSendTo() = default;

void TZTLSendTo::SetAdditionalFiles(TStrings* Value) { FAdditionalFiles->Assign(Value); }

void TZTLSendTo::SetCollector(const String& Value) {
  if (!Value.empty()) static_cast<void>(TCollectorDsn::Parse(Value));
  FCollector = Value;
}

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
  // The file is looked at only at the first write under a name, and after a
  // wait for another process's write, which may have replaced it.
  const bool text = FFormatting == ztlfText;
  const bool known = FKnownLogFile == FLogFile;
  TFileStream stream(FLogFile, (text ? fmOpenWrite | fmOpenOrCreate | fmAppend | fmShareDenyWrite
                                     : fmOpenReadWrite | fmOpenOrCreate | fmShareDenyWrite) |
                                   (known ? fmKnownFile : 0));
  const TLogAppendResult result =
      AppendLogValue(stream.Handle(), text ? TLogForm::Text : TLogForm::XML, AName, AValue);
  if (!result) throw EWriteError("Log write error: " + String(result.Call) + ": " + std::strerror(result.Error));
  if (!known) FKnownLogFile = FLogFile;
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
  FKnownLogFile.clear();
  try {
    TFileStream guard(FLogFile, fmOpenRead | fmShareExclusive);
    DeleteFile(FLogFile);
  } catch (const EStreamError&) {
    // The file could not be had; it stays, as a failed deletion leaves it.
  }
}

}  // namespace ztl
