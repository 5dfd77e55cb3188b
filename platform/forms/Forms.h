#pragma once
// Forms, the screen and the application: the message loop, the application's
// global events and exception handling.
// Main thread only, except PostMessage, QueueCall and HandleException.
#include <chrono>
#include <functional>
#include <vector>

#include <ztlogger/platform/forms/Controls.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

using NativeInt = intptr_t;

struct ZTL_PLATFORM_API THintInfo {
  TControl* HintControl = nullptr;
  TPoint HintPos;
  int HintMaxWidth = 0;
  TColor HintColor = clInfoBk;
  TRect CursorRect;
  TPoint CursorPos;
  int ReshowTimeout = 0;
  int HideTimeout = 0;
  String HintStr;
  void* HintData = nullptr;
};

using TExceptionEvent = TMethodRef<void(TObject* Sender, Exception* E)>;
using TIdleEvent = TMethodRef<void(TObject* Sender, bool& Done)>;
using THelpEvent = TMethodRef<bool(WORD Command, NativeInt Data, bool& CallHelp)>;
using TMessageEvent = TMethodRef<void(TMsg& Msg, bool& Handled)>;
using TShowHintEvent = TMethodRef<void(String& HintStr, bool& CanShow, THintInfo& HintInfo)>;
using TWindowHook = TMethodRef<bool(TMessage& Message)>;
using TCloseQueryEvent = TMethodRef<void(TObject* Sender, bool& CanClose)>;

// Help commands.
inline constexpr WORD HELP_CONTEXT = 0x0001;
inline constexpr WORD HELP_QUIT = 0x0002;
inline constexpr WORD HELP_CONTENTS = 0x0003;
inline constexpr WORD HELP_CONTEXTPOPUP = 0x0008;
inline constexpr WORD HELP_FINDER = 0x000B;
inline constexpr WORD HELP_KEY = 0x0101;
inline constexpr WORD HELP_COMMAND = 0x0102;

enum TPosition : uint8_t {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter
};
ZTL_ENUM_NAMES(TPosition, "poDesigned", "poDefault", "poDefaultPosOnly", "poDefaultSizeOnly", "poScreenCenter",
               "poDesktopCenter", "poMainFormCenter", "poOwnerFormCenter")

// What Close does with a form (the Action of OnClose).
enum TCloseAction : uint8_t { caNone, caHide, caFree, caMinimize };
using TCloseEvent = TMethodRef<void(TObject* Sender, TCloseAction& Action)>;

// Framework messages beyond the system's.
inline constexpr UINT CM_BASE = 0xB000;
inline constexpr UINT CM_RELEASE = CM_BASE + 33;

class ZTL_PLATFORM_API TCustomForm : public TWinControl {
  ZTL_DECLARE_CLASS(TCustomForm, TWinControl)

 public:
  explicit TCustomForm(TComponent* AOwner);
  // Frees the components the form owns first, while the form is whole.
  ~TCustomForm() override;

  TFormBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle value) { borderStyle_ = value; }
  TPosition Position() const { return position_; }
  void SetPosition(TPosition value);
  int PixelsPerInch() const { return pixelsPerInch_; }
  void SetPixelsPerInch(int value) { pixelsPerInch_ = value; }
  TIcon* Icon() const { return icon_.get(); }
  void SetIcon(TIcon* value) { icon_->Assign(value); }

  // The control that has (or gets, when the form is activated) the focus.
  TWinControl* ActiveControl() const { return activeControl_; }
  void SetActiveControl(TWinControl* value);
  // Whether this is the active form.
  bool Active() const;
  void SetFocus() override;
  bool CanFocus() const override { return Visible() && Enabled(); }
  // Gives control the focus, activating the form.
  void FocusControl(TWinControl* control);

  TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult value) { modalResult_ = value; }
  // Shows the form and runs a nested message loop until ModalResult is set;
  // returns it. Raises EInvalidOperation for a visible form.
  virtual int ShowModal();
  bool Modal() const { return modal_; }
  // The result a modal form closes with when the user cancels: the
  // ModalResult of its cancel button, else mrCancel.
  TModalResult CancelModalResult() const;
  // Closes the form (a modal one with mrCancel), asking OnCloseQuery first.
  void Close();
  bool CloseQuery();
  // Frees the form once the messages queued before have been handled.
  void Release();
  // Enter and Escape: the default and the cancel button.
  bool DialogKey(WPARAM key);

  TNotifyEvent OnShow() const { return onShow_; }
  void SetOnShow(const TNotifyEvent& value) { onShow_ = value; }
  TNotifyEvent OnHide() const { return onHide_; }
  void SetOnHide(const TNotifyEvent& value) { onHide_ = value; }
  TNotifyEvent OnActivate() const { return onActivate_; }
  void SetOnActivate(const TNotifyEvent& value) { onActivate_ = value; }
  TNotifyEvent OnDeactivate() const { return onDeactivate_; }
  void SetOnDeactivate(const TNotifyEvent& value) { onDeactivate_ = value; }
  TCloseEvent OnClose() const { return onClose_; }
  void SetOnClose(const TCloseEvent& value) { onClose_ = value; }
  TCloseQueryEvent OnCloseQuery() const { return onCloseQuery_; }
  void SetOnCloseQuery(const TCloseQueryEvent& value) { onCloseQuery_ = value; }

  TNotifyEvent OnCreate() const { return onCreate_; }
  void SetOnCreate(const TNotifyEvent& value) { onCreate_ = value; }

  void SetVisible(bool value) override;
  void WndProc(TMessage& message) override;
  // Stored forms: the controls, then the other components the form owns.
  void GetChildren(const std::function<void(TComponent*)>& Proc, TComponent* Root) override;

 protected:
  friend class TScreen;
  // A descendant calls this at the end of its constructor: it reads the
  // stored form named after the class (if there is one), then fires OnCreate.
  void CreateFromStoredForm();
  virtual void DoActivate();
  virtual void DoDeactivate();

 private:
  friend class TControl;
  friend class TWinControl;
  void ControlDestroying(TControl* control);
  bool IconStored() const;
  void CenterOnScreen();
  void CloseModal();

  TFormBorderStyle borderStyle_ = bsSizeable;
  TPosition position_ = poDesigned;
  int pixelsPerInch_ = 96;
  std::unique_ptr<TIcon> icon_;
  TWinControl* activeControl_ = nullptr;
  TModalResult modalResult_ = mrNone;
  bool modal_ = false;
  TNotifyEvent onCreate_, onShow_, onHide_, onActivate_, onDeactivate_;
  TCloseEvent onClose_;
  TCloseQueryEvent onCloseQuery_;
};

class ZTL_PLATFORM_API TForm : public TCustomForm {
  ZTL_DECLARE_CLASS(TForm, TCustomForm)

 public:
  explicit TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
};
using TFormClass = TClass;

class ZTL_PLATFORM_API TScreen : public TComponent {
  ZTL_DECLARE_CLASS(TScreen, TComponent)

 public:
  explicit TScreen(TComponent* AOwner);
  ~TScreen() override;

  int CustomFormCount() const { return static_cast<int>(forms_.size()); }
  TCustomForm* CustomForms(int index) const;
  int FormCount() const;
  TForm* Forms(int index) const;
  TCustomForm* ActiveCustomForm() const { return activeForm_; }
  TForm* ActiveForm() const;
  TWinControl* ActiveControl() const { return activeControl_; }

  // The primary screen in pixels.
  int Width() const;
  int Height() const;
  int PixelsPerInch() const { return 96; }

  TNotifyEvent OnActiveControlChange() const { return onActiveControlChange_; }
  void SetOnActiveControlChange(const TNotifyEvent& value) { onActiveControlChange_ = value; }
  TNotifyEvent OnActiveFormChange() const { return onActiveFormChange_; }
  void SetOnActiveFormChange(const TNotifyEvent& value) { onActiveFormChange_ = value; }

 private:
  friend class TCustomForm;
  friend class TControl;
  friend class TWinControl;
  void AddForm(TCustomForm* form);
  void RemoveForm(TCustomForm* form);
  // Makes form the active one (nullptr: none) and focuses its active control.
  void ActivateForm(TCustomForm* form);
  void SetFocusedControl(TWinControl* control);
  // A form was hidden or is going: the next visible one becomes active.
  void FormGone(TCustomForm* form);
  void ControlDestroying(TControl* control);

  std::vector<TCustomForm*> forms_;     // creation order
  std::vector<TCustomForm*> zOrder_;    // most recently activated last
  TCustomForm* activeForm_ = nullptr;
  TWinControl* activeControl_ = nullptr;
  TNotifyEvent onActiveControlChange_;
  TNotifyEvent onActiveFormChange_;
};

class ZTL_PLATFORM_API TApplication : public TComponent {
  ZTL_DECLARE_CLASS(TApplication, TComponent)

 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  // The application's own window: its messages pass the hooks first.
  HWND Handle() const { return handle_; }
  TCustomForm* MainForm() const { return mainForm_; }
  // Creates a form owned by the application; the first becomes the main form.
  template <typename T>
  void CreateForm(T*& reference) {
    reference = new T(this);
    if (!mainForm_) mainForm_ = reference;
  }
  String ExeName() const;
  String Title() const;
  void SetTitle(const String& value) { title_ = value; }
  bool ShowMainForm() const { return showMainForm_; }
  void SetShowMainForm(bool value) { showMainForm_ = value; }

  // The message loop. Terminate posts WM_QUIT; Terminated is set when the
  // loop takes it.
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Processes what is queued, without waiting.
  void ProcessMessages();
  // Processes one message, or idles (and waits) when there is none.
  void HandleMessage();
  // Processes one message, synchronised call or due timer; false when there
  // was nothing to do.
  bool ProcessMessage();
  // Fires OnIdle and returns its Done.
  bool DoIdle();
  // Sleeps until a message, a synchronised call or a timer is due.
  void WaitMessage();
  bool Pending() const;

  // Thread-safe: queue a message, or a call to run in the loop.
  void PostMessage(HWND handle, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  void QueueCall(std::function<void()> call);
  // Timers post WM_TIMER to handle every interval milliseconds; main thread.
  UINT_PTR SetTimer(HWND handle, UINT_PTR id, UINT interval);
  bool KillTimer(HWND handle, UINT_PTR id);

  bool Active() const { return active_; }
  bool Minimized() const { return minimized_; }
  void Minimize();
  void Restore();

  // The long part of the hint of the control under the mouse; setting a new
  // value fires OnHint.
  const String& Hint() const { return hint_; }
  void SetHint(const String& value);
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool value) { showHint_ = value; }
  // The mouse moved onto control (nullptr: onto nothing).
  void MouseMoved(TControl* control, const TPoint& screenPos);
  void CancelHint();

  // Help: OnHelp decides, then the help system when CallHelp stays true.
  bool HelpCommand(WORD Command, NativeInt Data);
  bool HelpContext(NativeInt Context) { return HelpCommand(HELP_CONTEXT, Context); }

  // Call inside a catch block: OnException when assigned, else ShowException.
  // EAbort is silent. An exception escaping OnException is shown with
  // ShowException and goes no further, so the loop that called this goes on.
  // Called on another thread, it hands the exception to the main thread's
  // loop, which handles it (with Application as the sender), and returns.
  void HandleException(TObject* Sender);
  // The standard display: a modal error message box with the message.
  void ShowException(Exception* E);
  int MessageBox(const String& Text, const String& Caption, UINT Flags);

  // Window hooks see each message of the application's window first; a hook
  // returning true marks it handled.
  void HookMainWindow(const TWindowHook& Hook);
  void UnhookMainWindow(const TWindowHook& Hook);
  void WndProc(TMessage& message);

  TNotifyEvent OnActivate() const { return onActivate_; }
  void SetOnActivate(const TNotifyEvent& value) { onActivate_ = value; }
  TNotifyEvent OnDeactivate() const { return onDeactivate_; }
  void SetOnDeactivate(const TNotifyEvent& value) { onDeactivate_ = value; }
  TExceptionEvent OnException() const { return onException_; }
  void SetOnException(const TExceptionEvent& value) { onException_ = value; }
  TIdleEvent OnIdle() const { return onIdle_; }
  void SetOnIdle(const TIdleEvent& value) { onIdle_ = value; }
  THelpEvent OnHelp() const { return onHelp_; }
  void SetOnHelp(const THelpEvent& value) { onHelp_ = value; }
  TNotifyEvent OnHint() const { return onHint_; }
  void SetOnHint(const TNotifyEvent& value) { onHint_ = value; }
  TMessageEvent OnMessage() const { return onMessage_; }
  void SetOnMessage(const TMessageEvent& value) { onMessage_ = value; }
  TNotifyEvent OnMinimize() const { return onMinimize_; }
  void SetOnMinimize(const TNotifyEvent& value) { onMinimize_ = value; }
  TNotifyEvent OnRestore() const { return onRestore_; }
  void SetOnRestore(const TNotifyEvent& value) { onRestore_ = value; }
  TShowHintEvent OnShowHint() const { return onShowHint_; }
  void SetOnShowHint(const TShowHintEvent& value) { onShowHint_ = value; }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  friend class TControl;
  friend class TCustomForm;
  struct Timer {
    HWND Handle;
    UINT_PTR Id;
    std::chrono::milliseconds Interval;
    std::chrono::steady_clock::time_point Due;
  };
  void DispatchMessage(TMsg& msg);
  bool PostDueTimers();
  void ControlDestroying(TControl* control);
  void ActivateHint(TControl* control, const TPoint& screenPos);

  HWND handle_ = nullptr;
  TCustomForm* mainForm_ = nullptr;
  String title_;
  bool showMainForm_ = true;
  bool terminated_ = false;
  bool active_ = false;
  bool minimized_ = false;
  String hint_;
  bool showHint_ = true;
  TControl* hintControl_ = nullptr;
  std::vector<TWindowHook> hooks_;
  std::vector<Timer> timers_;
  TNotifyEvent onActivate_, onDeactivate_, onHint_, onMinimize_, onRestore_;
  TExceptionEvent onException_;
  TIdleEvent onIdle_;
  THelpEvent onHelp_;
  TMessageEvent onMessage_;
  TShowHintEvent onShowHint_;
};

// The framework's process-wide objects. Screen may be absent (nullptr).
extern ZTL_PLATFORM_API TApplication* Application;
extern ZTL_PLATFORM_API TScreen* Screen;

}  // namespace ztl
