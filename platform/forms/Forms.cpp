#include <ztlogger/platform/forms/Forms.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/MessageQueue.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/forms/WindowHandles.h>
#include <ztlogger/platform/os/HandleTable.h>
#include <ztlogger/platform/os/Sync.h>
#include <ztlogger/platform/rtl/ErrorMessages.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/ScopeExit.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Threads.h>

#ifdef __linux__
#include <unistd.h>
#endif

namespace ztl {

using forms::MessageQueue;
using forms::Pop;
using forms::Push;
using forms::Queue;
using forms::QueueEntry;
using forms::WakeQueue;

ZTL_BEGIN_CLASS(TCustomForm, TWinControl)
  .Property("Width", &Self::Width, &Self::SetWidth).NeverStored()
  .Property("Height", &Self::Height, &Self::SetHeight).NeverStored()
  .Property("ActiveControl", &Self::ActiveControl, &Self::SetActiveControl)
  .Property("BorderStyle", &Self::BorderStyle, &Self::SetBorderStyle).Default(bsSizeable)
  .Property("Caption", &Self::Caption, &Self::SetCaption)
  .Property("ClientHeight", &Self::ClientHeight, &Self::SetClientHeight)
  .Property("ClientWidth", &Self::ClientWidth, &Self::SetClientWidth)
  .Property("Icon", &Self::Icon, &Self::SetIcon).Stored(&Self::IconStored)
  .Property("PixelsPerInch", &Self::PixelsPerInch, &Self::SetPixelsPerInch)
  .Property("Position", &Self::Position, &Self::SetPosition).Default(poDesigned)
  .Property("Visible", &Self::Visible, &Self::SetVisible).Default(false)
  .Property("OnActivate", &Self::OnActivate, &Self::SetOnActivate)
  .Property("OnCreate", &Self::OnCreate, &Self::SetOnCreate)
  .Property("OnClose", &Self::OnClose, &Self::SetOnClose)
  .Property("OnCloseQuery", &Self::OnCloseQuery, &Self::SetOnCloseQuery)
  .Property("OnDeactivate", &Self::OnDeactivate, &Self::SetOnDeactivate)
  .Property("OnHide", &Self::OnHide, &Self::SetOnHide)
  .Property("OnShow", &Self::OnShow, &Self::SetOnShow)
ZTL_END_CLASS
ZTL_DEFINE_CLASS(TForm, TCustomForm)
ZTL_BEGIN_CLASS(TScreen, TComponent)
ZTL_END_CLASS
ZTL_BEGIN_CLASS(TApplication, TComponent)
ZTL_END_CLASS

TApplication* Application = nullptr;
TScreen* Screen = nullptr;

namespace {

DWORD TickCount() {
  using namespace std::chrono;
  return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void CreateApplicationObjects() {
  SetWakeMainThread(&WakeQueue);
  Screen = new TScreen(nullptr);
  Application = new TApplication(nullptr);
}

void DestroyApplicationObjects() {
  // Tearing down tells nobody: the handlers' objects may be gone already.
  if (Screen) {
    Screen->SetOnActiveControlChange(nullptr);
    Screen->SetOnActiveFormChange(nullptr);
  }
  if (Application) {
    Application->SetOnActivate(nullptr);
    Application->SetOnDeactivate(nullptr);
    Application->SetOnException(nullptr);
    Application->SetOnIdle(nullptr);
    Application->SetOnHelp(nullptr);
    Application->SetOnHint(nullptr);
    Application->SetOnMessage(nullptr);
    Application->SetOnMinimize(nullptr);
    Application->SetOnRestore(nullptr);
    Application->SetOnShowHint(nullptr);
  }
  delete Application;
  Application = nullptr;
  delete Screen;
  Screen = nullptr;
}

struct ApplicationObjects {
  ApplicationObjects() { CreateApplicationObjects(); }
  ~ApplicationObjects() { DestroyApplicationObjects(); }
} applicationObjects;

const bool registered = [] {
  RegisterClass(TForm::StaticClass());
  return true;
}();

TButton* FindButton(const TWinControl* parent, bool (TButton::*flag)() const) {
  for (int i = 0; i < parent->ControlCount(); ++i) {
    TControl* c = parent->Controls(i);
    if (auto* button = dynamic_cast<TButton*>(c); button && (button->*flag)()) return button;
    if (auto* win = dynamic_cast<TWinControl*>(c))
      if (TButton* found = FindButton(win, flag)) return found;
  }
  return nullptr;
}

// The hint of a control, or of the nearest parent that has one.
String HintOf(const TControl* control) {
  for (const TControl* c = control; c; c = c->Parent())
    if (!c->Hint().empty()) return c->Hint();
  return {};
}

}  // namespace

void ResetApplicationState() {
  DestroyApplicationObjects();
  {
    MessageQueue& q = Queue();
    std::lock_guard guard(q.lock);
    q.entries.clear();
  }
  while (SynchronizePending()) CheckSynchronize();
  SetWidgetSet(std::make_unique<THeadlessWidgetSet>());
  CreateApplicationObjects();
}

// ---------------------------------------------------------------- forms

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner), icon_(std::make_unique<TIcon>()) {
  TControl::SetVisible(false);
  SetParentFont(false);
  SetBounds(0, 0, 320, 240);
  if (Screen) Screen->AddForm(this);
}

TCustomForm::~TCustomForm() {
  DestroyComponents();
  while (ControlCount() > 0) delete Controls(ControlCount() - 1);
  if (Screen) Screen->RemoveForm(this);
  if (Application && Application->mainForm_ == this) Application->mainForm_ = nullptr;
}

void TCustomForm::CreateFromStoredForm() {
  InitInheritedComponent(this);
  if (onCreate_) onCreate_(this);
}

void TCustomForm::GetChildren(const std::function<void(TComponent*)>& Proc, TComponent* Root) {
  TWinControl::GetChildren(Proc, Root);
  TComponent::GetChildren(Proc, Root);
}

bool TCustomForm::IconStored() const { return !icon_->Empty(); }

void TCustomForm::SetPosition(TPosition value) {
  position_ = value;
  if (Visible() && value == poScreenCenter) CenterOnScreen();
}

void TCustomForm::CenterOnScreen() {
  TWidgetSet& ws = WidgetSet();
  SetBounds((ws.ScreenWidth() - Width()) / 2, (ws.ScreenHeight() - Height()) / 2, Width(), Height());
}

bool TCustomForm::Active() const { return Screen && Screen->ActiveCustomForm() == this; }

void TCustomForm::SetActiveControl(TWinControl* value) {
  if (value == activeControl_) return;
  if (value && (GetParentForm(value) != this || (!Loading() && !value->CanFocus())))
    throw EInvalidOperation("Cannot focus a disabled or invisible window");
  activeControl_ = value;
  if (Active() && !Loading()) Screen->SetFocusedControl(value);
}

void TCustomForm::SetFocus() {
  if (Active()) return;
  if (!Visible() || !Enabled()) throw EInvalidOperation("Cannot focus a disabled or invisible window");
  if (Screen) Screen->ActivateForm(this);
}

void TCustomForm::FocusControl(TWinControl* control) {
  const bool wasActive = Active();
  SetActiveControl(control);
  if (!wasActive) SetFocus();
}

void TCustomForm::ControlDestroying(TControl* control) {
  if (!activeControl_) return;
  auto* win = dynamic_cast<TWinControl*>(control);
  if (activeControl_ == control || (win && win->ContainsControl(activeControl_))) activeControl_ = nullptr;
}

void TCustomForm::DoActivate() {
  if (onActivate_) onActivate_(this);
}

void TCustomForm::DoDeactivate() {
  if (onDeactivate_) onDeactivate_(this);
}

void TCustomForm::SetVisible(bool value) {
  if (value == Visible()) return;
  TWinControl::SetVisible(value);
  if (Loading()) return;
  if (value) {
    if (position_ == poScreenCenter) CenterOnScreen();
    if (onShow_) onShow_(this);
    if (Screen) Screen->ActivateForm(this);
  } else {
    if (onHide_) onHide_(this);
    if (Screen) Screen->FormGone(this);
  }
}

TModalResult TCustomForm::CancelModalResult() const {
  TButton* cancel = FindButton(this, &TButton::Cancel);
  return cancel && cancel->ModalResult() != mrNone ? cancel->ModalResult() : mrCancel;
}

int TCustomForm::ShowModal() {
  if (Visible() || modal_) throw EInvalidOperation("Cannot make a visible window modal");
  TCustomForm* previous = Screen ? Screen->ActiveCustomForm() : nullptr;
  modal_ = true;
  modalResult_ = mrNone;
  TWidgetSet& ws = WidgetSet();
  ws.ModalStarted(*this);
  auto finish = [&] {
    modal_ = false;
    Hide();
    if (previous && Screen && previous != this &&
        std::find(Screen->forms_.begin(), Screen->forms_.end(), previous) != Screen->forms_.end() &&
        previous->Visible())
      Screen->ActivateForm(previous);
    ws.ModalEnded(*this, modalResult_);
  };
  {
    ScopeExit finishModal([&] { finish(); });
    Show();
    while (modalResult_ == mrNone) {
      if (!Application->ProcessMessage() && Application->DoIdle() && modalResult_ == mrNone && ws.ModalIdle())
        modalResult_ = CancelModalResult();
      if (Application->Terminated()) modalResult_ = mrCancel;
      if (modalResult_ != mrNone) CloseModal();
    }
  }
  return modalResult_;
}

void TCustomForm::CloseModal() {
  TCloseAction action = caNone;
  if (CloseQuery()) {
    action = caHide;
    if (onClose_) onClose_(this, action);
  }
  if (action == caNone && !Application->Terminated()) modalResult_ = mrNone;
}

bool TCustomForm::CloseQuery() {
  bool canClose = true;
  if (onCloseQuery_) onCloseQuery_(this, canClose);
  return canClose;
}

void TCustomForm::Close() {
  if (modal_) {
    modalResult_ = mrCancel;
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  if (onClose_) onClose_(this, action);
  if (action == caNone) return;
  if (Application && Application->MainForm() == this)
    Application->Terminate();
  else if (action == caHide)
    Hide();
  else if (action == caMinimize && Application)
    Application->Minimize();
  else if (action == caFree)
    Release();
}

void TCustomForm::Release() {
  if (Application) Application->PostMessage(Handle(), CM_RELEASE);
}

bool TCustomForm::DialogKey(WPARAM key) {
  if (key != VK_RETURN && key != VK_ESCAPE) return false;
  TButton* button = FindButton(this, key == VK_RETURN ? &TButton::Default : &TButton::Cancel);
  if (button && button->Showing() && button->Enabled()) {
    button->Click();
    return true;
  }
  if (key == VK_ESCAPE && modal_) {
    modalResult_ = mrCancel;
    return true;
  }
  return false;
}

void TCustomForm::WndProc(TMessage& message) {
  switch (message.Msg) {
    case WM_CLOSE: Close(); return;
    case WM_ACTIVATE:
      if (message.WParam && Visible() && Screen) Screen->ActivateForm(this);
      return;
    case WM_SYSCOMMAND:
      if (Application && Application->MainForm() == this) {
        if ((message.WParam & 0xFFF0) == SC_MINIMIZE) return Application->Minimize();
        if ((message.WParam & 0xFFF0) == SC_RESTORE) return Application->Restore();
      }
      if ((message.WParam & 0xFFF0) == SC_CLOSE) return Close();
      return;
    case CM_RELEASE:
      // The modal loop still runs on this form: end it, free the form after.
      if (modal_) {
        if (modalResult_ == mrNone) modalResult_ = mrCancel;
        Release();
        return;
      }
      delete this;
      return;
    default: TWinControl::WndProc(message);
  }
}

// ---------------------------------------------------------------- screen

TScreen::TScreen(TComponent* AOwner) : TComponent(AOwner) {}

TScreen::~TScreen() {
  if (Screen == this) Screen = nullptr;
}

TCustomForm* TScreen::CustomForms(int index) const {
  if (index < 0 || index >= CustomFormCount()) throw EListError("Form index out of bounds (" + IntToStr(index) + ")");
  return forms_[static_cast<size_t>(index)];
}

int TScreen::FormCount() const {
  return static_cast<int>(std::count_if(forms_.begin(), forms_.end(), [](TCustomForm* f) { return f->Is<TForm>(); }));
}

TForm* TScreen::Forms(int index) const {
  for (TCustomForm* f : forms_)
    if (f->Is<TForm>() && index-- == 0) return static_cast<TForm*>(f);
  throw EListError("Form index out of bounds");
}

TForm* TScreen::ActiveForm() const { return dynamic_cast<TForm*>(activeForm_); }

int TScreen::Width() const { return WidgetSet().ScreenWidth(); }
int TScreen::Height() const { return WidgetSet().ScreenHeight(); }

void TScreen::AddForm(TCustomForm* form) { forms_.push_back(form); }

void TScreen::RemoveForm(TCustomForm* form) {
  forms_.erase(std::remove(forms_.begin(), forms_.end(), form), forms_.end());
  zOrder_.erase(std::remove(zOrder_.begin(), zOrder_.end(), form), zOrder_.end());
  if (activeForm_ != form) return;
  // The form is being freed and its controls are gone: it hears no deactivation.
  activeForm_ = nullptr;
  TCustomForm* next = nullptr;
  for (auto it = zOrder_.rbegin(); it != zOrder_.rend() && !next; ++it)
    if ((*it)->Visible()) next = *it;
  ActivateForm(next);
  if (!next && onActiveFormChange_) onActiveFormChange_(this);
}

void TScreen::ActivateForm(TCustomForm* form) {
  if (form != activeForm_) {
    TCustomForm* old = activeForm_;
    activeForm_ = form;
    if (form) {
      zOrder_.erase(std::remove(zOrder_.begin(), zOrder_.end(), form), zOrder_.end());
      zOrder_.push_back(form);
    }
    if (old) old->DoDeactivate();
    if (form) form->DoActivate();
    if (onActiveFormChange_) onActiveFormChange_(this);
  }
  TWinControl* focus = nullptr;
  if (form) {
    focus = form->activeControl_;
    if (!focus || !focus->CanFocus()) {
      focus = nullptr;
      std::vector<TWinControl*> order;
      form->GetTabOrderList(order);
      for (TWinControl* c : order)
        if (c->TabStop() && c->CanFocus()) {
          focus = c;
          break;
        }
      form->activeControl_ = focus;
    }
  }
  SetFocusedControl(focus);
}

void TScreen::SetFocusedControl(TWinControl* control) {
  if (control == activeControl_) return;
  TWinControl* old = activeControl_;
  activeControl_ = control;
  if (old) old->DoExit();
  if (control) {
    if (control->Backend()) control->Backend()->SetFocus();
    control->DoEnter();
  }
  if (onActiveControlChange_) onActiveControlChange_(this);
}

void TScreen::FormGone(TCustomForm* form) {
  if (activeForm_ != form) return;
  TCustomForm* next = nullptr;
  for (auto it = zOrder_.rbegin(); it != zOrder_.rend(); ++it)
    if (*it != form && (*it)->Visible()) {
      next = *it;
      break;
    }
  ActivateForm(next);
}

void TScreen::ControlDestroying(TControl* control) {
  if (!activeControl_) return;
  auto* win = dynamic_cast<TWinControl*>(control);
  if (activeControl_ != control && !(win && win->ContainsControl(activeControl_))) return;
  // The control may be half destroyed: it hears nothing more.
  activeControl_ = nullptr;
  if (onActiveControlChange_) onActiveControlChange_(this);
}

// ---------------------------------------------------------------- application

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) { handle_ = AllocateWindowHandle(nullptr); }

TApplication::~TApplication() {
  DestroyComponents();
  ReleaseWindowHandle(handle_);
  if (Application == this) Application = nullptr;
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == mainForm_) mainForm_ = nullptr;
}

String TApplication::ExeName() const {
#ifdef __linux__
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length > 0) return String(buffer, static_cast<size_t>(length));
#endif
  return {};
}

String TApplication::Title() const {
  if (!title_.empty()) return title_;
  return ChangeFileExt(ExtractFileName(ExeName()), "");
}

void TApplication::Run() {
  if (mainForm_ && showMainForm_) mainForm_->Show();
  while (!terminated_) HandleMessage();
}

void TApplication::Terminate() { PostMessage(nullptr, WM_QUIT); }

void TApplication::ProcessMessages() {
  while (ProcessMessage()) {
  }
}

void TApplication::HandleMessage() {
  if (!ProcessMessage() && DoIdle()) WaitMessage();
}

bool TApplication::ProcessMessage() {
  if (CheckSynchronize()) return true;
  PostDueTimers();
  QueueEntry entry;
  if (!Pop(entry)) return false;
  if (entry.call) {
    try {
      entry.call();
    } catch (...) {
      HandleException(this);
    }
    return true;
  }
  TMsg& msg = entry.msg;
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return true;
  }
  try {
    bool handled = false;
    if (onMessage_) onMessage_(msg, handled);
    if (!handled) DispatchMessage(msg);
  } catch (...) {
    TObject* sender = this;
    if (TWinControl* target = FindControl(msg.hwnd)) sender = target;
    HandleException(sender);
  }
  return true;
}

void TApplication::DispatchMessage(TMsg& msg) {
  TMessage message{msg.message, msg.wParam, msg.lParam, 0};
  if (msg.hwnd == handle_) return WndProc(message);
  if (TWinControl* target = FindControl(msg.hwnd)) target->WndProc(message);
}

bool TApplication::DoIdle() {
  bool done = true;
  try {
    if (onIdle_) onIdle_(this, done);
  } catch (...) {
    HandleException(this);
  }
  return done;
}

bool TApplication::Pending() const {
  if (SynchronizePending()) return true;
  const auto now = std::chrono::steady_clock::now();
  for (const Timer& t : timers_)
    if (t.Due <= now) return true;
  MessageQueue& q = Queue();
  std::lock_guard guard(q.lock);
  return !q.entries.empty();
}

void TApplication::WaitMessage() {
  MessageQueue& q = Queue();
  auto ready = [&] { return !q.entries.empty() || SynchronizePending(); };
  if (TWidgetSet& ws = WidgetSet(); ws.HasEventLoop()) {
    int timeoutMs = -1;
    if (!timers_.empty()) {
      const auto due = std::min_element(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
                         return a.Due < b.Due;
                       })->Due;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
      timeoutMs = static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT32_MAX));
    }
    q.loopWaiting.store(true);
    ScopeExit notWaiting([&] { q.loopWaiting.store(false); });
    os::ResetEventObject(*q.wake);
    {
      std::lock_guard guard(q.lock);
      if (ready()) return;
    }
    ws.WaitEvents(q.wake->WaitDescriptor(), timeoutMs);
    return;
  }
  std::unique_lock lock(q.lock);
  if (timers_.empty()) {
    q.cv.wait(lock, ready);
    return;
  }
  auto due = std::min_element(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
               return a.Due < b.Due;
             })->Due;
  q.cv.wait_until(lock, due, ready);
}

void TApplication::PostMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  QueueEntry entry;
  entry.msg = TMsg{handle, message, wParam, lParam, TickCount(), {}};
  Push(std::move(entry));
}

void TApplication::QueueCall(std::function<void()> call) {
  QueueEntry entry;
  entry.call = std::move(call);
  Push(std::move(entry));
}

UINT_PTR TApplication::SetTimer(HWND handle, UINT_PTR id, UINT interval) {
  KillTimer(handle, id);
  const auto period = std::chrono::milliseconds(std::max<UINT>(interval, 1));
  timers_.push_back(Timer{handle, id, period, std::chrono::steady_clock::now() + period});
  return id;
}

bool TApplication::KillTimer(HWND handle, UINT_PTR id) {
  auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.Handle == handle && t.Id == id; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  return true;
}

bool TApplication::PostDueTimers() {
  const auto now = std::chrono::steady_clock::now();
  bool any = false;
  for (Timer& t : timers_) {
    if (t.Due > now) continue;
    PostMessage(t.Handle, WM_TIMER, t.Id, 0);
    t.Due = std::max(t.Due + t.Interval, now + std::chrono::milliseconds(1));
    any = true;
  }
  return any;
}

void TApplication::Minimize() {
  if (minimized_) return;
  minimized_ = true;
  if (onMinimize_) onMinimize_(this);
}

void TApplication::Restore() {
  if (!minimized_) return;
  minimized_ = false;
  if (onRestore_) onRestore_(this);
}

void TApplication::SetHint(const String& value) {
  if (value == hint_) return;
  hint_ = value;
  if (onHint_) onHint_(this);
}

void TApplication::MouseMoved(TControl* control, const TPoint& pos) {
  if (control == hintControl_) return;
  CancelHint();
  hintControl_ = control;
  const String hint = HintOf(control);
  SetHint(GetLongHint(hint));
  if (control && showHint_ && control->ShowHint() && !GetShortHint(hint).empty()) ActivateHint(control, pos);
}

void TApplication::ActivateHint(TControl* control, const TPoint& pos) {
  THintInfo info;
  info.HintControl = control;
  info.CursorPos = pos;
  info.HintPos = TPoint{pos.X, pos.Y + 16};
  info.HintMaxWidth = WidgetSet().ScreenWidth();
  info.CursorRect = control->ClientRect();
  info.HideTimeout = 2500;
  info.HintStr = GetShortHint(HintOf(control));
  bool canShow = true;
  if (onShowHint_) onShowHint_(info.HintStr, canShow, info);
  if (canShow && !info.HintStr.empty()) WidgetSet().ShowHintWindow(info.HintStr, info);
}

void TApplication::CancelHint() {
  if (hintControl_) WidgetSet().HideHintWindow();
  hintControl_ = nullptr;
}

void TApplication::ControlDestroying(TControl* control) {
  if (hintControl_ == control) CancelHint();
}

bool TApplication::HelpCommand(WORD Command, NativeInt Data) {
  bool callHelp = true;
  bool result = false;
  if (onHelp_) result = onHelp_(Command, Data, callHelp);
  if (callHelp) result = WidgetSet().HelpRequested(Command, Data);
  return result;
}

void TApplication::HandleException(TObject* Sender) {
  Exception* e = ExceptObject();
  if (!e || e->Is<EAbort>()) return;
  if (!IsMainThread()) {
    // Handlers and displays run on the main thread only: the exception is
    // raised again there, from the loop, which handles it as its own.
    QueueCall([caught = std::current_exception()] { std::rethrow_exception(caught); });
    return;
  }
  try {
    if (onException_)
      onException_(Sender, e);
    else
      ShowException(e);
  } catch (...) {
    // The application's own handling failed (its log could not be written,
    // its handler raised or faulted): the loop must outlive that, so the
    // error that escaped is shown the standard way instead.
    Exception* escaped = ExceptObject();
    if (escaped && !escaped->Is<EAbort>()) ShowException(escaped);
  }
}

void TApplication::ShowException(Exception* E) {
  String message = E ? E->Message() : String();
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
  MessageBox(message, Title(), MB_OK | MB_ICONSTOP);
}

int TApplication::MessageBox(const String& Text, const String& Caption, UINT Flags) {
  return WidgetSet().MessageBox(Text, Caption.empty() ? Title() : Caption, Flags);
}

void TApplication::HookMainWindow(const TWindowHook& Hook) { hooks_.push_back(Hook); }

void TApplication::UnhookMainWindow(const TWindowHook& Hook) {
  auto it = std::find(hooks_.begin(), hooks_.end(), Hook);
  if (it != hooks_.end()) hooks_.erase(it);
}

void TApplication::WndProc(TMessage& message) {
  // A hook removed by an earlier one in this round is not called.
  const std::vector<TWindowHook> round = hooks_;
  for (const TWindowHook& hook : round)
    if (std::find(hooks_.begin(), hooks_.end(), hook) != hooks_.end() && hook(message)) return;
  switch (message.Msg) {
    case WM_ACTIVATEAPP:
      active_ = message.WParam != 0;
      if (active_ && onActivate_) onActivate_(this);
      if (!active_ && onDeactivate_) onDeactivate_(this);
      break;
    case WM_SYSCOMMAND:
      if ((message.WParam & 0xFFF0) == SC_MINIMIZE) Minimize();
      if ((message.WParam & 0xFFF0) == SC_RESTORE) Restore();
      break;
    case WM_CLOSE:
      if (mainForm_)
        mainForm_->Close();
      else
        Terminate();
      break;
    case WM_HELP: HelpContext(static_cast<NativeInt>(message.LParam)); break;
    default: break;
  }
}

}  // namespace ztl
