#include <ztlogger/applog/LogApp.h>

#include <ztlogger/platform/classes/ClassBuilder.h>

namespace ztl {

ZTL_BEGIN_CLASS(TZTAppLog, TZTLogBase)
  .Property("OnActivate", &Self::OnActivate, &Self::SetOnActivate)
  .Property("OnDeactivate", &Self::OnDeactivate, &Self::SetOnDeactivate)
  .Property("OnException", &Self::OnException, &Self::SetOnException)
  .Property("OnIdle", &Self::OnIdle, &Self::SetOnIdle)
  .Property("OnHelp", &Self::OnHelp, &Self::SetOnHelp)
  .Property("OnHint", &Self::OnHint, &Self::SetOnHint)
  .Property("OnMessage", &Self::OnMessage, &Self::SetOnMessage)
  .Property("OnMinimize", &Self::OnMinimize, &Self::SetOnMinimize)
  .Property("OnRestore", &Self::OnRestore, &Self::SetOnRestore)
  .Property("OnShowHint", &Self::OnShowHint, &Self::SetOnShowHint)
  .Property("OnSettingsChanged", &Self::OnSettingsChanged, &Self::SetOnSettingsChanged)
  .Property("OnActiveControlChange", &Self::OnActiveControlChange, &Self::SetOnActiveControlChange)
  .Property("OnActiveFormChange", &Self::OnActiveFormChange, &Self::SetOnActiveFormChange)
ZTL_END_CLASS

TZTAppLog::TZTAppLog(TComponent* AOwner) : TZTLogBase(AOwner) { SetActive(true); }

TZTAppLog::~TZTAppLog() { SetActive(false); }

void TZTAppLog::SetActive(bool Value) {
  if (Value == Active()) return;
  TZTLogBase::SetActive(Value);
  if (ComponentState().Contains(csDesigning)) return;
  if (Value)
    Install();
  else
    Uninstall();
}

void TZTAppLog::Install() {
  if (Application) {
    Application->HookMainWindow(MakeMethod<&TZTAppLog::MessageHook>(this));
    FoldOnActivate = Application->OnActivate();
    FoldOnDeactivate = Application->OnDeactivate();
    FoldOnException = Application->OnException();
    FoldOnIdle = Application->OnIdle();
    FoldOnHelp = Application->OnHelp();
    FoldOnHint = Application->OnHint();
    FoldOnMessage = Application->OnMessage();
    FoldOnMinimize = Application->OnMinimize();
    FoldOnRestore = Application->OnRestore();
    FoldOnShowHint = Application->OnShowHint();
    Application->SetOnActivate(MakeMethod<&TZTAppLog::DoActivate>(this));
    Application->SetOnDeactivate(MakeMethod<&TZTAppLog::DoDeactivate>(this));
    Application->SetOnException(MakeMethod<&TZTAppLog::DoException>(this));
    Application->SetOnIdle(MakeMethod<&TZTAppLog::DoIdle>(this));
    Application->SetOnHelp(MakeMethod<&TZTAppLog::DoHelp>(this));
    Application->SetOnHint(MakeMethod<&TZTAppLog::DoHint>(this));
    Application->SetOnMessage(MakeMethod<&TZTAppLog::DoMessage>(this));
    Application->SetOnMinimize(MakeMethod<&TZTAppLog::DoMinimize>(this));
    Application->SetOnRestore(MakeMethod<&TZTAppLog::DoRestore>(this));
    Application->SetOnShowHint(MakeMethod<&TZTAppLog::DoShowHint>(this));
  }
  if (Screen) {
    FoldOnActiveControlChange = Screen->OnActiveControlChange();
    FoldOnActiveFormChange = Screen->OnActiveFormChange();
    Screen->SetOnActiveControlChange(MakeMethod<&TZTAppLog::DoActiveControlChange>(this));
    Screen->SetOnActiveFormChange(MakeMethod<&TZTAppLog::DoActiveFormChange>(this));
  }
}

void TZTAppLog::Uninstall() {
  if (Application) {
    Application->UnhookMainWindow(MakeMethod<&TZTAppLog::MessageHook>(this));
    Application->SetOnActivate(FoldOnActivate);
    Application->SetOnDeactivate(FoldOnDeactivate);
    Application->SetOnException(FoldOnException);
    Application->SetOnIdle(FoldOnIdle);
    Application->SetOnHelp(FoldOnHelp);
    Application->SetOnHint(FoldOnHint);
    Application->SetOnMessage(FoldOnMessage);
    Application->SetOnMinimize(FoldOnMinimize);
    Application->SetOnRestore(FoldOnRestore);
    Application->SetOnShowHint(FoldOnShowHint);
  }
  if (Screen) {
    Screen->SetOnActiveControlChange(FoldOnActiveControlChange);
    Screen->SetOnActiveFormChange(FoldOnActiveFormChange);
  }
}

void TZTAppLog::DoActivate(TObject* Sender) {
  if (FoldOnActivate) FoldOnActivate(Sender);
  if (FOnActivate) FOnActivate(Sender);
}

void TZTAppLog::DoDeactivate(TObject* Sender) {
  if (FoldOnDeactivate) FoldOnDeactivate(Sender);
  if (FOnDeactivate) FOnDeactivate(Sender);
}

void TZTAppLog::DoException(TObject* Sender, Exception* E) {
  if (FoldOnException) FoldOnException(Sender, E);
  if (FOnException) FOnException(Sender, E);
  Application->ShowException(E);
}

void TZTAppLog::DoIdle(TObject* Sender, bool& Done) {
  if (FoldOnIdle) FoldOnIdle(Sender, Done);
  if (FOnIdle) FOnIdle(Sender, Done);
}

bool TZTAppLog::DoHelp(WORD Command, NativeInt Data, bool& CallHelp) {
  // The developer's handler runs first; the previous one's result wins.
  bool result = false;
  if (FOnHelp) result = FOnHelp(Command, Data, CallHelp);
  if (FoldOnHelp) result = FoldOnHelp(Command, Data, CallHelp);
  return result;
}

void TZTAppLog::DoHint(TObject* Sender) {
  if (FoldOnHint) FoldOnHint(Sender);
  if (FOnHint) FOnHint(Sender);
}

void TZTAppLog::DoMessage(TMsg& Msg, bool& Handled) {
  if (FoldOnMessage) FoldOnMessage(Msg, Handled);
  if (FOnMessage) FOnMessage(Msg, Handled);
}

void TZTAppLog::DoMinimize(TObject* Sender) {
  if (FoldOnMinimize) FoldOnMinimize(Sender);
  if (FOnMinimize) FOnMinimize(Sender);
}

void TZTAppLog::DoRestore(TObject* Sender) {
  if (FoldOnRestore) FoldOnRestore(Sender);
  if (FOnRestore) FOnRestore(Sender);
}

void TZTAppLog::DoShowHint(String& HintStr, bool& CanShow, THintInfo& HintInfo) {
  if (FoldOnShowHint) FoldOnShowHint(HintStr, CanShow, HintInfo);
  if (FOnShowHint) FOnShowHint(HintStr, CanShow, HintInfo);
}

void TZTAppLog::DoActiveControlChange(TObject* Sender) {
  if (FoldOnActiveControlChange) FoldOnActiveControlChange(Sender);
  if (FOnActiveControlChange) FOnActiveControlChange(Sender);
}

void TZTAppLog::DoActiveFormChange(TObject* Sender) {
  if (FoldOnActiveFormChange) FoldOnActiveFormChange(Sender);
  if (FOnActiveFormChange) FOnActiveFormChange(Sender);
}

bool TZTAppLog::MessageHook(TMessage& Message) {
  if (Message.Msg == WM_SETTINGCHANGE && FOnSettingsChanged) {
    try {
      FOnSettingsChanged(this);
    } catch (...) {
      Application->HandleException(this);
    }
  }
  return false;
}

}  // namespace ztl
