#include <ztlogger/platform/forms/Application.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/MessageQueue.h>
#include <ztlogger/platform/forms/Screen.h>
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

ZTL_BEGIN_CLASS(TScreen, TComponent)
ZTL_END_CLASS
ZTL_BEGIN_CLASS(TApplication, TComponent)
ZTL_END_CLASS

TApplication* Application = nullptr;
TScreen* Screen = nullptr;

namespace {

// The framework's process-wide objects live from the library's start to its
// end; the screen is made here too, before the application, and goes after it.
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
