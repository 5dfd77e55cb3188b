#include <ztlogger/platform/forms/HeadlessWidgetSet.h>

#include <cstdio>
#include <cstdlib>

#include <ztlogger/platform/forms/Dialogs.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/os/Beep.h>
#include <ztlogger/platform/rtl/ScopeExit.h>

namespace ztl {

namespace {

// Without a display, what a box would have shown goes to the standard error
// stream, one block a box: the caption, the text, a blank line. One write,
// so that blocks of boxes from two threads do not mix.
void WriteBox(const String& caption, const String& text) {
  String block = caption + "\n" + text;
  if (block.back() != '\n') block += '\n';
  block += '\n';
  std::fwrite(block.data(), 1, block.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

THeadlessWidgetSet& HeadlessWidgetSet() {
  auto* headless = dynamic_cast<THeadlessWidgetSet*>(&WidgetSet());
  if (!headless) throw EInvalidOperation("The current widget set is not the headless one");
  return *headless;
}

std::unique_ptr<TWidgetBackend> THeadlessWidgetSet::CreateBackend(TControl&) {
  return std::make_unique<THeadlessBackend>();
}

TSize THeadlessWidgetSet::TextExtent(const TFont& font, const String& text) const {
  // A fixed-pitch approximation of the font: 5 pixels a character at 11.
  const int size = std::abs(font.Height());
  const int charWidth = std::max(1, (size * 5 + 5) / 11);
  const int lineHeight = font.Height() < 0 ? size + 2 : size;
  size_t characters = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++characters;  // count UTF-8 sequences once
  return TSize{static_cast<int>(characters) * charWidth, lineHeight};
}

void THeadlessWidgetSet::SetScreenSize(int width, int height) {
  screenWidth_ = width;
  screenHeight_ = height;
}

TCustomForm* THeadlessWidgetSet::ModalForm() const {
  for (auto it = modal_.rbegin(); it != modal_.rend(); ++it)
    if (it->Form) return it->Form;
  return nullptr;
}

void THeadlessWidgetSet::ModalStarted(TCustomForm& form) {
  TShownWindow shown;
  shown.Kind = skForm;
  shown.Caption = form.Caption();
  shown.FormClass = form.ClassName();
  shown.FormName = form.Name();
  if (TControl* message = form.FindChildControl("Message")) shown.Text = message->Text();
  if (auto* dialog = dynamic_cast<TMessageForm*>(&form)) {
    shown.Icon = MessageDlgIcon(dialog->DlgType());
    WriteBox(shown.Caption, shown.Text);
  }
  std::vector<TWinControl*> order;
  form.GetTabOrderList(order);
  for (TWinControl* c : order)
    if (auto* button = dynamic_cast<TButton*>(c); button && button->Visible()) shown.Buttons.push_back(button->Caption());
  shown_.push_back(shown);
  modal_.push_back(Modal{&form, shown_.size() - 1, 0, nullptr});
}

void THeadlessWidgetSet::ModalEnded(TCustomForm& form, int modalResult) {
  for (auto it = modal_.rbegin(); it != modal_.rend(); ++it)
    if (it->Form == &form) {
      shown_[it->Record].Result = modalResult;
      shown_[it->Record].Open = false;
      modal_.erase(std::next(it).base());
      return;
    }
}

bool THeadlessWidgetSet::ModalIdle() { return !Application || !Application->Pending(); }

int THeadlessWidgetSet::MessageBox(const String& text, const String& caption, UINT flags) {
  TShownWindow shown;
  shown.Kind = skMessageBox;
  shown.Caption = caption;
  shown.Text = text;
  shown.Icon = flags & MB_ICONMASK;
  shown.Buttons = MessageBoxButtons(flags);
  shown_.push_back(shown);
  WriteBox(caption, text);
  const size_t record = shown_.size() - 1;
  int result = 0;
  modal_.push_back(Modal{nullptr, record, flags, &result});
  auto finish = [&] {
    for (auto it = modal_.begin(); it != modal_.end(); ++it)
      if (it->Result == &result) {
        modal_.erase(it);
        break;
      }
    shown_[record].Result = result;
    shown_[record].Open = false;
  };
  {
    ScopeExit finishModal([&] { finish(); });
    while (result == 0) {
      if (!Application) {
        result = MessageBoxCancelResult(flags);
        break;
      }
      if (!Application->ProcessMessage() && Application->DoIdle() && result == 0 && ModalIdle())
        result = MessageBoxCancelResult(flags);
      if (result == 0 && Application->Terminated()) result = MessageBoxCancelResult(flags);
    }
  }
  return result;
}

void THeadlessWidgetSet::ShowHintWindow(const String& hint, const THintInfo&) {
  hints_.push_back(hint);
  hintVisible_ = true;
}

void THeadlessWidgetSet::Beep(UINT type) {
  beeps_.push_back(type);
  osbeep::RingDisplayBell();  // a machine without a display has nothing to ring
}

bool THeadlessWidgetSet::HelpRequested(WORD command, intptr_t data) {
  helpCalls_.push_back(THelpCall{command, data});
  return false;  // no help system
}

// ---------------------------------------------------------------- actions

void THeadlessWidgetSet::PostAction(std::function<void()> action) {
  if (!Application) throw EInvalidOperation("There is no application to post to");
  Application->QueueCall(std::move(action));
}

THeadlessWidgetSet::Modal* THeadlessWidgetSet::TopBox() {
  return !modal_.empty() && !modal_.back().Form ? &modal_.back() : nullptr;
}

TCustomForm& THeadlessWidgetSet::TargetForm() const {
  TCustomForm* form = !modal_.empty() ? modal_.back().Form : (Screen ? Screen->ActiveCustomForm() : nullptr);
  if (!form) throw EInvalidOperation("There is no window to act on");
  return *form;
}

TControl& THeadlessWidgetSet::UsableControl(const String& name) const {
  TCustomForm& form = TargetForm();
  auto* control = dynamic_cast<TControl*>(form.FindComponent(name));
  if (!control || GetParentForm(control) != &form) control = form.FindChildControl(name);
  if (!control) throw EInvalidOperation("There is no control " + name + " on " + form.ClassName());
  if (!control->Showing() || !control->Enabled())
    throw EInvalidOperation("Control " + name + " is hidden or disabled");
  return *control;
}

void THeadlessWidgetSet::PostClick(const String& name) {
  PostAction([this, name] {
    if (Modal* box = TopBox()) {
      const int id = MessageBoxButtonID(name);
      const auto& buttons = shown_[box->Record].Buttons;
      bool present = false;
      for (const String& b : buttons) present = present || MessageBoxButtonID(b) == id;
      if (!id || !present) throw EInvalidOperation("The message box has no button " + name);
      *box->Result = id;
      return;
    }
    TControl& control = UsableControl(name);
    if (auto* check = dynamic_cast<TCheckBox*>(&control))
      check->Toggle();
    else
      control.Click();
  });
}

void THeadlessWidgetSet::PostCheck(const String& name, bool checked) {
  PostAction([this, name, checked] {
    auto* check = dynamic_cast<TCheckBox*>(&UsableControl(name));
    if (!check) throw EInvalidOperation(name + " is not a check box");
    check->SetChecked(checked);
  });
}

void THeadlessWidgetSet::PostText(const String& name, const String& text) {
  PostAction([this, name, text] {
    TControl& control = UsableControl(name);
    if (!dynamic_cast<TCustomEdit*>(&control) && !dynamic_cast<TComboBox*>(&control))
      throw EInvalidOperation(name + " takes no typed text");
    control.SetText(text);
  });
}

void THeadlessWidgetSet::PostKey(WPARAM key) {
  PostAction([this, key] {
    if (Modal* box = TopBox()) {
      if (key == VK_RETURN) *box->Result = MessageBoxButtonID(shown_[box->Record].Buttons.front());
      if (key == VK_ESCAPE) *box->Result = MessageBoxCancelResult(box->Flags);
      return;
    }
    TCustomForm& form = TargetForm();
    TWinControl* focused = Screen ? Screen->ActiveControl() : nullptr;
    TWinControl* target = focused && GetParentForm(focused) == &form ? focused : &form;
    target->Perform(WM_KEYDOWN, key);
  });
}

void THeadlessWidgetSet::PostClose(int result) {
  PostAction([this, result] {
    if (Modal* box = TopBox()) {
      *box->Result = result;
      return;
    }
    TCustomForm& form = TargetForm();
    if (form.Modal())
      form.SetModalResult(result);
    else
      form.Close();
  });
}

void THeadlessWidgetSet::PostInspect(std::function<void(TCustomForm& form)> inspect) {
  PostAction([this, inspect = std::move(inspect)] { inspect(TargetForm()); });
}

void THeadlessWidgetSet::PostActivateApp(bool active) {
  Application->PostMessage(Application->Handle(), WM_ACTIVATEAPP, active ? 1 : 0, 0);
}

void THeadlessWidgetSet::PostSettingChange() {
  Application->PostMessage(Application->Handle(), WM_SETTINGCHANGE, 0, 0);
}

void THeadlessWidgetSet::PostSysCommand(WPARAM command) {
  Application->PostMessage(Application->Handle(), WM_SYSCOMMAND, command, 0);
}

void THeadlessWidgetSet::PostMouseMove(TControl& control) {
  // The message goes to the nearest window, at the control's centre.
  int x = control.Width() / 2, y = control.Height() / 2;
  TControl* target = &control;
  while (!dynamic_cast<TWinControl*>(target)) {
    x += target->Left();
    y += target->Top();
    target = target->Parent();
    if (!target) throw EInvalidOperation("Control " + control.Name() + " has no window to receive the mouse");
  }
  Application->PostMessage(static_cast<TWinControl*>(target)->Handle(), WM_MOUSEMOVE, 0, MakeLParam(x, y));
}

void THeadlessWidgetSet::PostHelp(TControl& control) {
  TControl* target = &control;
  while (target && !dynamic_cast<TWinControl*>(target)) target = target->Parent();
  if (!target) throw EInvalidOperation("Control " + control.Name() + " has no window to receive help");
  Application->PostMessage(static_cast<TWinControl*>(target)->Handle(), WM_HELP, 0, 0);
}

}  // namespace ztl
