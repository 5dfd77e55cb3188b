#pragma once
// The application event logger: republishes the application's and the
// screen's global events, and changes of the system settings, as events of
// one component, each chained to the handler installed before it.
#include <ztlogger/core/LogBase.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

// Republishes the application's and the screen's events (activation, idle,
// hints, exceptions, active form and control changes, settings changes) as
// events of one component placed on a form, each chained to the handler that
// was installed before it:
//
//     auto* appLog = new TZTAppLog(form);
//     appLog->SetOnActiveFormChange(MakeMethod<&TMainForm::ActiveFormChanged>(form));
//     appLog->SetActive(true);               // installs the hooks
//
// Main thread only.
class ZTL_API TZTAppLog : public TZTLogBase {
  ZTL_DECLARE_CLASS(TZTAppLog, TZTLogBase)

 public:
  // Active and hooked as soon as it exists (outside the designer).
  explicit TZTAppLog(TComponent* AOwner);
  // Puts back the handlers found at activation.
  ~TZTAppLog() override;

  TNotifyEvent OnActivate() const { return FOnActivate; }
  void SetOnActivate(const TNotifyEvent& value) { FOnActivate = value; }
  TNotifyEvent OnDeactivate() const { return FOnDeactivate; }
  void SetOnDeactivate(const TNotifyEvent& value) { FOnDeactivate = value; }
  TExceptionEvent OnException() const { return FOnException; }
  void SetOnException(const TExceptionEvent& value) { FOnException = value; }
  TIdleEvent OnIdle() const { return FOnIdle; }
  void SetOnIdle(const TIdleEvent& value) { FOnIdle = value; }
  THelpEvent OnHelp() const { return FOnHelp; }
  void SetOnHelp(const THelpEvent& value) { FOnHelp = value; }
  TNotifyEvent OnHint() const { return FOnHint; }
  void SetOnHint(const TNotifyEvent& value) { FOnHint = value; }
  TMessageEvent OnMessage() const { return FOnMessage; }
  void SetOnMessage(const TMessageEvent& value) { FOnMessage = value; }
  TNotifyEvent OnMinimize() const { return FOnMinimize; }
  void SetOnMinimize(const TNotifyEvent& value) { FOnMinimize = value; }
  TNotifyEvent OnRestore() const { return FOnRestore; }
  void SetOnRestore(const TNotifyEvent& value) { FOnRestore = value; }
  TShowHintEvent OnShowHint() const { return FOnShowHint; }
  void SetOnShowHint(const TShowHintEvent& value) { FOnShowHint = value; }
  TNotifyEvent OnSettingsChanged() const { return FOnSettingsChanged; }
  void SetOnSettingsChanged(const TNotifyEvent& value) { FOnSettingsChanged = value; }
  TNotifyEvent OnActiveControlChange() const { return FOnActiveControlChange; }
  void SetOnActiveControlChange(const TNotifyEvent& value) { FOnActiveControlChange = value; }
  TNotifyEvent OnActiveFormChange() const { return FOnActiveFormChange; }
  void SetOnActiveFormChange(const TNotifyEvent& value) { FOnActiveFormChange = value; }

  // Installs (True) or removes (False) the handlers; a repeated value and
  // design time change nothing but the flag.
  void SetActive(bool Value) override;

 protected:
  // The main-window hook: reports WM_SETTINGCHANGE; never handles a message.
  virtual bool MessageHook(TMessage& Message);

 private:
  void Install();
  void Uninstall();

  void DoActivate(TObject* Sender);
  void DoDeactivate(TObject* Sender);
  void DoException(TObject* Sender, Exception* E);
  void DoIdle(TObject* Sender, bool& Done);
  bool DoHelp(WORD Command, NativeInt Data, bool& CallHelp);
  void DoHint(TObject* Sender);
  void DoMessage(TMsg& Msg, bool& Handled);
  void DoMinimize(TObject* Sender);
  void DoRestore(TObject* Sender);
  void DoShowHint(String& HintStr, bool& CanShow, THintInfo& HintInfo);
  void DoActiveControlChange(TObject* Sender);
  void DoActiveFormChange(TObject* Sender);

  TNotifyEvent FoldOnActivate;
  TNotifyEvent FoldOnDeactivate;
  TExceptionEvent FoldOnException;
  TIdleEvent FoldOnIdle;
  THelpEvent FoldOnHelp;
  TNotifyEvent FoldOnHint;
  TMessageEvent FoldOnMessage;
  TNotifyEvent FoldOnMinimize;
  TNotifyEvent FoldOnRestore;
  TShowHintEvent FoldOnShowHint;
  TNotifyEvent FoldOnActiveControlChange;
  TNotifyEvent FoldOnActiveFormChange;

  TNotifyEvent FOnActivate;
  TNotifyEvent FOnDeactivate;
  TExceptionEvent FOnException;
  TIdleEvent FOnIdle;
  THelpEvent FOnHelp;
  TNotifyEvent FOnHint;
  TMessageEvent FOnMessage;
  TNotifyEvent FOnMinimize;
  TNotifyEvent FOnRestore;
  TShowHintEvent FOnShowHint;
  TNotifyEvent FOnSettingsChanged;
  TNotifyEvent FOnActiveControlChange;
  TNotifyEvent FOnActiveFormChange;
};

}  // namespace ztl
