#pragma once
// The registry change logger: a worker thread waits for changes of the
// chosen kinds under one registry key and reports each one on the main
// thread through OnRegistryNotification. It writes nothing by itself.
#include <cstdint>
#include <memory>

#include <ztlogger/core/LogBase.h>
#include <ztlogger/platform/os/WinNames.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

enum TRegistryNotificationOption : uint8_t { roName, roAttributes, roLastSet, roSecurity, roWatchSubFolders };
ZTL_ENUM_NAMES(TRegistryNotificationOption, "roName", "roAttributes", "roLastSet", "roSecurity", "roWatchSubFolders")
using TRegistryNotificationOptions = TSet<TRegistryNotificationOption, 5>;

ZTL_DECLARE_EXCEPTION_IN(ZTL_API, ERegistryNotificationError, Exception)

// Watches one registry key (and the keys below it) for the kinds of change
// Options selects, on a worker thread, and reports each one on the main
// thread through OnRegistryNotification:
//
//     auto* settings = new TZTRegistryLog(form);
//     settings->SetRootKey(HKEY_CURRENT_USER);
//     settings->SetKey("Software\\My Application");
//     settings->SetOnRegistryNotification(MakeMethod<&TMainForm::SettingsChanged>(form));
//     settings->SetActive(true);
//
// Main thread only; the handler runs on the main thread.
class ZTL_API TZTRegistryLog : public TZTLogBase {
  ZTL_DECLARE_CLASS(TZTRegistryLog, TZTLogBase)

 public:
  // RootKey HKEY_LOCAL_MACHINE, Key "Software\Velmora", Options [roName,
  // roAttributes]; no worker yet.
  explicit TZTRegistryLog(TComponent* AOwner);
  // Stops the worker; a change it was reporting is not handed on.
  ~TZTRegistryLog() override;

  // Stores the flag, then starts a worker (true) or stops it (false). A
  // worker that exists is kept. Starting opens the key and registers for
  // its changes on the calling thread, so a change made once this returns
  // is reported. A key that cannot be opened does not fail the activation
  // (Active reads true, a stored form goes on loading): the worker hands
  // ERegistryNotificationError ("Unable to open registry key" and the path)
  // once to the main thread, where it goes to Application->HandleException
  // like an error of a handler, unless the component is deactivated first;
  // nothing is reported until it is deactivated and activated again.
  // While a stored form loads and at design time nothing is started.
  void SetActive(bool Value) override;
  // Read when the worker starts: changes take effect at the next activation.
  HKEY RootKey() const { return FRootKey; }
  void SetRootKey(HKEY Value) { FRootKey = Value; }
  const String& Key() const { return FKey; }
  void SetKey(const String& Value) { FKey = Value; }
  TRegistryNotificationOptions Options() const { return FOptions; }
  void SetOptions(TRegistryNotificationOptions Value) { FOptions = Value; }
  TNotifyEvent OnRegistryNotification() const { return FOnRegistryNotification; }
  void SetOnRegistryNotification(const TNotifyEvent& value) { FOnRegistryNotification = value; }

  // RootKey as stored with a form: the handle's 32-bit value.
  uint32_t RootKeyValue() const;
  void SetRootKeyValue(uint32_t Value);

 protected:
  // Starts the worker of a stored component whose Active was read as true,
  // now that RootKey, Key and Options are read too.
  void Loaded() override;
  // Called on the main thread for each change; calls OnRegistryNotification
  // while Active.
  virtual void Notify();

 private:
  class TNotificationThread;

  std::unique_ptr<TNotificationThread> FThread;
  HKEY FRootKey;
  String FKey;
  TRegistryNotificationOptions FOptions;
  TNotifyEvent FOnRegistryNotification;
};

}  // namespace ztl
