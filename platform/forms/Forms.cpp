#include <ztlogger/platform/forms/Forms.h>

#include <algorithm>
#include <climits>
#include <exception>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/forms/WindowHandles.h>
#include <ztlogger/platform/rtl/ErrorMessages.h>
#include <ztlogger/platform/rtl/ScopeExit.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

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

namespace {

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
}  // namespace

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

}  // namespace ztl
