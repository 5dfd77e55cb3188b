#include <ztlogger/platform/forms/Screen.h>

#include <algorithm>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/forms/Forms.h>

namespace ztl {

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

}  // namespace ztl
