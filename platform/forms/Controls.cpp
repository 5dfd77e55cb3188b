#include <ztlogger/platform/forms/Controls.h>

#include <algorithm>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/WindowHandles.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

ZTL_BEGIN_CLASS(TControl, TComponent)
  .Property("Left", &Self::Left, &Self::SetLeft)
  .Property("Top", &Self::Top, &Self::SetTop)
  .Property("Width", &Self::Width, &Self::SetWidth)
  .Property("Height", &Self::Height, &Self::SetHeight)
  .Property("Align", &Self::Align, &Self::SetAlign).Default(alNone)
  .Property("AutoSize", &Self::AutoSize, &Self::SetAutoSize).Default(false)
  .Property("Color", &Self::Color, &Self::SetColor).Stored(&Self::ColorStored)
  .Property("Cursor", &Self::Cursor, &Self::SetCursor).Default(crDefault)
  .Property("Enabled", &Self::Enabled, &Self::SetEnabled).Default(true)
  .Property("Font", &Self::Font, &Self::SetFont).Stored(&Self::FontStored)
  .Property("HelpContext", &Self::HelpContext, &Self::SetHelpContext).Default(0)
  .Property("Hint", &Self::Hint, &Self::SetHint)
  .Property("ParentColor", &Self::ParentColor, &Self::SetParentColor).Default(false)
  .Property("ParentFont", &Self::ParentFont, &Self::SetParentFont).Default(true)
  .Property("ParentShowHint", &Self::ParentShowHint, &Self::SetParentShowHint).Default(true)
  .Property("ShowHint", &Self::ShowHint, &Self::SetShowHint).Stored(&Self::ShowHintStored)
  .Property("Visible", &Self::Visible, &Self::SetVisible).Default(true)
  .Property("OnClick", &Self::OnClick, &Self::SetOnClick)
ZTL_END_CLASS

ZTL_DEFINE_CLASS(TGraphicControl, TControl)

ZTL_BEGIN_CLASS(TWinControl, TControl)
  .Property("TabOrder", &Self::TabOrder, &Self::SetTabOrder).Default(-1)
  .Property("TabStop", &Self::TabStop, &Self::SetTabStop).Default(false)
  .Property("OnEnter", &Self::OnEnter, &Self::SetOnEnter)
  .Property("OnExit", &Self::OnExit, &Self::SetOnExit)
ZTL_END_CLASS

ZTL_DEFINE_CLASS(TCustomControl, TWinControl)

namespace {

struct CursorName {
  TCursor Value;
  const char* Name;
};
constexpr CursorName kCursorNames[] = {{crDefault, "crDefault"},     {crNone, "crNone"},   {crArrow, "crArrow"},
                                       {crCross, "crCross"},         {crIBeam, "crIBeam"}, {crHourGlass, "crHourGlass"},
                                       {crHandPoint, "crHandPoint"}};

}  // namespace

bool CursorToIdent(TCursor cursor, String& ident) {
  for (const CursorName& c : kCursorNames)
    if (c.Value == cursor) {
      ident = c.Name;
      return true;
    }
  return false;
}

bool IdentToCursor(const String& ident, TCursor& cursor) {
  for (const CursorName& c : kCursorNames)
    if (SameText(ident, c.Name)) {
      cursor = c.Value;
      return true;
    }
  return false;
}

String GetShortHint(const String& hint) {
  size_t bar = hint.find('|');
  return bar == String::npos ? hint : hint.substr(0, bar);
}

String GetLongHint(const String& hint) {
  size_t bar = hint.find('|');
  return bar == String::npos ? hint : hint.substr(bar + 1);
}

TCustomForm* GetParentForm(const TControl* control) {
  const TControl* c = control;
  while (c && c->Parent()) c = c->Parent();
  return c ? dynamic_cast<TCustomForm*>(const_cast<TControl*>(c)) : nullptr;
}

// ---------------------------------------------------------------- TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner), font_(std::make_unique<TFont>()) {
  font_->SetOnChange(MakeMethod<&TControl::FontChanged>(this));
  backend_ = WidgetSet().CreateBackend(*this);
}

TControl::~TControl() {
  if (Application) Application->ControlDestroying(this);
  if (Screen) Screen->ControlDestroying(this);
  if (TCustomForm* form = GetParentForm(this)) form->ControlDestroying(this);
  if (parent_) parent_->RemoveControl(this);
  backend_.reset();
}

bool TControl::ColorStored() const { return !parentColor_; }
bool TControl::FontStored() const { return !parentFont_; }
bool TControl::ShowHintStored() const { return !parentShowHint_; }

void TControl::Changed(TControlChange what) {
  if (backend_) backend_->Changed(what);
}

void TControl::SetParent(TWinControl* value) {
  if (value == parent_) return;
  if (value == this) throw EInvalidOperation("A control cannot have itself as its parent");
  if (parent_) parent_->RemoveControl(this);
  if (value) value->InsertControl(this);
}

TComponent* TControl::GetParentComponent() const { return parent_; }

void TControl::SetParentComponent(TComponent* value) {
  auto* parent = dynamic_cast<TWinControl*>(value);
  if (value && !parent) throw EInvalidOperation(ClassName() + " cannot be placed in a " + value->ClassName());
  SetParent(parent);
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  if (ALeft == left_ && ATop == top_ && AWidth == width_ && AHeight == height_) return;
  left_ = ALeft;
  top_ = ATop;
  width_ = std::max(0, AWidth);
  height_ = std::max(0, AHeight);
  Changed(ccBounds);
  if (parent_ && align_ != alNone) parent_->Realign();
}

void TControl::SetAlign(TAlign value) {
  if (value == align_) return;
  align_ = value;
  if (parent_) parent_->Realign();
}

bool TControl::Showing() const {
  for (const TControl* c = this; c; c = c->parent_)
    if (!c->visible_) return false;
  return true;
}

void TControl::SetVisible(bool value) {
  if (value == visible_) return;
  visible_ = value;
  Changed(ccVisible);
  if (parent_ && align_ != alNone) parent_->Realign();
}

void TControl::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  Changed(ccEnabled);
}

void TControl::SetText(const String& value) {
  if (value == text_) return;
  text_ = value;
  Changed(ccText);
  AdjustSize();
}

void TControl::FontChanged(TObject*) {
  if (!updatingFont_) parentFont_ = false;
  Changed(ccFont);
  AdjustSize();
}

void TControl::SetParentFont(bool value) {
  parentFont_ = value;
  if (value) ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (!parentFont_ || !parent_) return;
  updatingFont_ = true;
  font_->Assign(parent_->Font());
  updatingFont_ = false;
}

void TControl::SetColor(TColor value) {
  parentColor_ = false;
  if (value == color_) return;
  color_ = value;
  Changed(ccColor);
}

void TControl::SetParentColor(bool value) {
  parentColor_ = value;
  if (value) ParentColorChanged();
}

void TControl::ParentColorChanged() {
  if (!parentColor_ || !parent_ || parent_->color_ == color_) return;
  color_ = parent_->color_;
  Changed(ccColor);
}

void TControl::SetShowHint(bool value) {
  parentShowHint_ = false;
  showHint_ = value;
}

void TControl::SetParentShowHint(bool value) {
  parentShowHint_ = value;
  if (value) ParentShowHintChanged();
}

void TControl::ParentShowHintChanged() {
  if (parentShowHint_ && parent_) showHint_ = parent_->showHint_;
}

void TControl::SetAutoSize(bool value) {
  if (value == autoSize_) return;
  autoSize_ = value;
  AdjustSize();
}

void TControl::Click() {
  if (onClick_) onClick_(this);
}

LRESULT TControl::Perform(UINT msg, WPARAM wParam, LPARAM lParam) {
  TMessage message{msg, wParam, lParam, 0};
  WndProc(message);
  return message.Result;
}

void TControl::WndProc(TMessage& message) {
  switch (message.Msg) {
    case WM_LBUTTONUP:
      if (enabled_) Click();
      break;
    case WM_MOUSEMOVE:
      if (Application) Application->MouseMoved(this, TPoint{LParamLow(message.LParam), LParamHigh(message.LParam)});
      break;
    case WM_HELP:
      if (Application) Application->HelpContext(helpContext_);
      break;
    default: break;
  }
}

void TControl::Loaded() {
  TComponent::Loaded();
  AdjustSize();
}

// ---------------------------------------------------------------- TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  while (!controls_.empty()) delete controls_.back();
  if (handle_) ReleaseWindowHandle(handle_);
}

TControl* TWinControl::Controls(int index) const {
  if (index < 0 || index >= ControlCount()) throw EListError("Control index out of bounds (" + IntToStr(index) + ")");
  return controls_[static_cast<size_t>(index)];
}

bool TWinControl::ContainsControl(const TControl* control) const {
  for (const TControl* c = control; c; c = c->Parent())
    if (c == this) return true;
  return false;
}

void TWinControl::InsertControl(TControl* control) {
  if (!control || control->parent_ == this) return;
  if (auto* win = dynamic_cast<TWinControl*>(control); win && win->ContainsControl(this))
    throw EInvalidOperation("A control cannot be placed inside itself");
  if (control->parent_) control->parent_->RemoveControl(control);
  controls_.push_back(control);
  control->parent_ = this;
  if (auto* win = dynamic_cast<TWinControl*>(control)) {
    tabList_.push_back(win);
    if (win->pendingTabOrder_ >= 0) {
      int wanted = win->pendingTabOrder_;
      win->pendingTabOrder_ = -1;
      win->SetTabOrder(wanted);
    }
  }
  control->ParentFontChanged();
  control->ParentColorChanged();
  control->ParentShowHintChanged();
  control->Changed(ccParent);
  control->ParentChanged();
  if (control->align_ != alNone) Realign();
}

void TWinControl::RemoveControl(TControl* control) {
  auto it = std::find(controls_.begin(), controls_.end(), control);
  if (it == controls_.end()) return;
  if (Screen) Screen->ControlDestroying(control);  // a hidden subtree cannot keep the focus
  if (TCustomForm* form = GetParentForm(this)) form->ControlDestroying(control);
  controls_.erase(it);
  tabList_.erase(std::remove(tabList_.begin(), tabList_.end(), control), tabList_.end());
  control->parent_ = nullptr;
  control->Changed(ccParent);
  if (control->align_ != alNone) Realign();
}

TControl* TWinControl::ControlAtPos(const TPoint& pos) const {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it)
    if ((*it)->Visible() && (*it)->BoundsRect().Contains(pos)) return *it;
  return nullptr;
}

TControl* TWinControl::FindChildControl(const String& name) const {
  for (TControl* c : controls_) {
    if (SameText(c->Name(), name)) return c;
    if (auto* win = dynamic_cast<TWinControl*>(c))
      if (TControl* found = win->FindChildControl(name)) return found;
  }
  return nullptr;
}

int TWinControl::TabOrder() const {
  if (!Parent()) return pendingTabOrder_;
  const auto& list = Parent()->tabList_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TWinControl::SetTabOrder(int value) {
  if (!Parent()) {
    pendingTabOrder_ = value;
    return;
  }
  auto& list = Parent()->tabList_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  size_t position = value < 0 ? list.size() : std::min(static_cast<size_t>(value), list.size());
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(position), this);
}

void TWinControl::GetTabOrderList(std::vector<TWinControl*>& list) const {
  for (TWinControl* c : tabList_) {
    list.push_back(c);
    c->GetTabOrderList(list);
  }
}

HWND TWinControl::Handle() {
  if (!handle_) handle_ = AllocateWindowHandle(this);
  return handle_;
}

bool TWinControl::CanFocus() const {
  TCustomForm* form = GetParentForm(this);
  if (!form) return false;
  for (const TControl* c = this; c != form; c = c->Parent())
    if (!c->Visible() || !c->Enabled()) return false;
  return true;
}

void TWinControl::SetFocus() {
  TCustomForm* form = GetParentForm(this);
  if (!form || !CanFocus()) throw EInvalidOperation("Cannot focus a disabled or invisible window");
  form->FocusControl(this);
}

bool TWinControl::Focused() const { return Screen && Screen->ActiveControl() == this; }

void TWinControl::DoEnter() {
  if (onEnter_) onEnter_(this);
}

void TWinControl::DoExit() {
  if (onExit_) onExit_(this);
}

void TWinControl::WndProc(TMessage& message) {
  switch (message.Msg) {
    case WM_MOUSEMOVE: {
      // A windowless child under the mouse gets the message.
      TPoint pos{LParamLow(message.LParam), LParamHigh(message.LParam)};
      TControl* child = ControlAtPos(pos);
      if (child && !dynamic_cast<TWinControl*>(child)) {
        child->WndProc(message);
        return;
      }
      break;
    }
    case WM_KEYDOWN:
      if (message.WParam == VK_RETURN || message.WParam == VK_ESCAPE) {
        if (TCustomForm* form = GetParentForm(this); form && form->DialogKey(message.WParam)) return;
      } else if (message.WParam == VK_F1) {
        if (Application) Application->HelpContext(HelpContext());
        return;
      }
      break;
    case WM_SETFOCUS:
      if (CanFocus()) SetFocus();
      return;
    default: break;
  }
  TControl::WndProc(message);
}

void TWinControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  const bool resized = AWidth != Width() || AHeight != Height();
  TControl::SetBounds(ALeft, ATop, AWidth, AHeight);
  if (resized) Realign();
}

void TWinControl::GetChildren(const std::function<void(TComponent*)>& Proc, TComponent* Root) {
  for (TControl* c : controls_)
    if (c->Owner() == Root) Proc(c);
}

void TWinControl::Changed(TControlChange what) {
  TControl::Changed(what);
  if (what == ccFont) NotifyChildren(&TControl::ParentFontChanged);
  if (what == ccColor) NotifyChildren(&TControl::ParentColorChanged);
}

void TWinControl::NotifyChildren(void (TControl::*change)()) {
  for (TControl* c : std::vector<TControl*>(controls_)) (c->*change)();
}

void TWinControl::ParentFontChanged() { TControl::ParentFontChanged(); }
void TWinControl::ParentColorChanged() { TControl::ParentColorChanged(); }

void TWinControl::ParentShowHintChanged() {
  TControl::ParentShowHintChanged();
  NotifyChildren(&TControl::ParentShowHintChanged);
}

void TWinControl::Realign() {
  if (aligning_) return;
  aligning_ = true;
  TRect area = ClientRect();
  auto place = [&](TAlign which) {
    for (TControl* c : controls_) {
      if (c->align_ != which || !c->visible_) continue;
      int l = c->left_, t = c->top_, w = c->width_, h = c->height_;
      switch (which) {
        case alTop:
          l = area.Left, t = area.Top, w = area.Width();
          area.Top += h;
          break;
        case alBottom:
          l = area.Left, t = area.Bottom - h, w = area.Width();
          area.Bottom -= h;
          break;
        case alLeft:
          l = area.Left, t = area.Top, h = area.Height();
          area.Left += w;
          break;
        case alRight:
          l = area.Right - w, t = area.Top, h = area.Height();
          area.Right -= w;
          break;
        case alClient: l = area.Left, t = area.Top, w = area.Width(), h = area.Height(); break;
        default: break;
      }
      c->SetBounds(l, t, w, h);
    }
  };
  for (TAlign a : {alTop, alBottom, alLeft, alRight, alClient}) place(a);
  aligning_ = false;
}

}  // namespace ztl
