#pragma once
// The folder change logger: a worker thread waits for changes of the chosen
// kinds in one folder (and the tree below it) and reports each one on the
// main thread through OnFileNotification. It writes nothing by itself.
#include <cstdint>
#include <memory>

#include <ztlogger/core/LogBase.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

enum TFileNotificationOption : uint8_t { foFile, foFolder, foAttributes, foSize, foTime, foWatchSubFolders };
ZTL_ENUM_NAMES(TFileNotificationOption, "foFile", "foFolder", "foAttributes", "foSize", "foTime",
               "foWatchSubFolders")
using TFileNotificationOptions = TSet<TFileNotificationOption, 6>;

// Action is one of the first five options: the kind of change that fired.
using TFileNotifyEvent = TMethodRef<void(TObject* Sender, TFileNotificationOption Action)>;

ZTL_DECLARE_EXCEPTION_IN(ZTL_API, EFileNotificationError, Exception)

// Watches one folder (and with foWatchSubFolders the tree below it) for the
// kinds of change Options selects, on a worker thread, and reports each one
// on the main thread through OnFileNotification:
//
//     auto* folder = new TZTFileLog(form);
//     folder->SetFolder("/var/spool/app");
//     folder->SetOptions({foFile, foWatchSubFolders});
//     folder->SetOnFileNotification(MakeMethod<&TMainForm::FolderChanged>(form));
//     folder->SetActive(true);               // changes from here on are reported
//
// Main thread only; the handler runs on the main thread.
class ZTL_API TZTFileLog : public TZTLogBase {
  ZTL_DECLARE_CLASS(TZTFileLog, TZTLogBase)

 public:
  explicit TZTFileLog(TComponent* AOwner);
  // Stops the worker (a change it was reporting is not handed on) and closes
  // its notifications.
  ~TZTFileLog() override;

  // Stores the flag, then starts watching (true) or stops (false). Starting
  // opens the notifications on the calling thread: a folder that cannot be
  // watched raises EFileNotificationError, Active then reads true and no
  // worker runs (setting Active again retries). A worker that exists is kept.
  // While a stored form loads and at design time nothing is started.
  void SetActive(bool Value) override;
  const String& Folder() const { return FFolder; }
  // A different path (compared exactly) reopens the notifications of a
  // running worker; if they cannot be opened the error propagates, the value
  // stays and the worker reports nothing until a later change succeeds.
  void SetFolder(const String& Value);
  TFileNotificationOptions Options() const { return FOptions; }
  void SetOptions(TFileNotificationOptions Value);
  TFileNotifyEvent OnFileNotification() const { return FOnFileNotification; }
  void SetOnFileNotification(const TFileNotifyEvent& value) { FOnFileNotification = value; }

 protected:
  // Starts the worker of a stored component whose Active was read as true,
  // now that Folder and Options are read too.
  void Loaded() override;
  // Called on the main thread for each change; calls OnFileNotification
  // while Active.
  virtual void Notify(TFileNotificationOption Action);

 private:
  class TNotificationThread;

  std::unique_ptr<TNotificationThread> FThread;
  String FFolder;
  TFileNotificationOptions FOptions;
  TFileNotifyEvent FOnFileNotification;
};

}  // namespace ztl
