#include <ztlogger/platform/forms/StdCtrls.h>

#include <algorithm>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

ZTL_BEGIN_CLASS(TCustomEdit, TWinControl)
ZTL_END_CLASS
ZTL_BEGIN_CLASS(TEdit, TCustomEdit)
  .Property("BorderStyle", &Self::BorderStyle, &Self::SetBorderStyle).Default(bsSingle)
  .Property("MaxLength", &Self::MaxLength, &Self::SetMaxLength).Default(0)
  .Property("ReadOnly", &Self::ReadOnly, &Self::SetReadOnly).Default(false)
  .Property("TabStop", &Self::TabStop, &Self::SetTabStop).Default(true)
  .Property("Text", &Self::Text, &Self::SetText)
  .Property("OnChange", &Self::OnChange, &Self::SetOnChange)
ZTL_END_CLASS
ZTL_BEGIN_CLASS(TMemo, TCustomEdit)
  .Property("BorderStyle", &Self::BorderStyle, &Self::SetBorderStyle).Default(bsSingle)
  .Property("Lines", &Self::Lines, &Self::SetLines)
  .Property("MaxLength", &Self::MaxLength, &Self::SetMaxLength).Default(0)
  .Property("ReadOnly", &Self::ReadOnly, &Self::SetReadOnly).Default(false)
  .Property("ScrollBars", &Self::ScrollBars, &Self::SetScrollBars).Default(ssNone)
  .Property("TabStop", &Self::TabStop, &Self::SetTabStop).Default(true)
  .Property("WordWrap", &Self::WordWrap, &Self::SetWordWrap).Default(true)
  .Property("OnChange", &Self::OnChange, &Self::SetOnChange)
ZTL_END_CLASS
ZTL_BEGIN_CLASS(TButton, TWinControl)
  .Property("Cancel", &Self::Cancel, &Self::SetCancel).Default(false)
  .Property("Caption", &Self::Caption, &Self::SetCaption)
  .Property("Default", &Self::Default, &Self::SetDefault).Default(false)
  .Property("ModalResult", &Self::ModalResult, &Self::SetModalResult).Default(mrNone)
  .Property("TabStop", &Self::TabStop, &Self::SetTabStop).Default(true)
ZTL_END_CLASS
ZTL_BEGIN_CLASS(TCheckBox, TWinControl)
  .Property("Alignment", &Self::Alignment, &Self::SetAlignment).Default(taRightJustify)
  .Property("Caption", &Self::Caption, &Self::SetCaption)
  .Property("Checked", &Self::Checked, &Self::SetChecked).Default(false)
  .Property("State", &Self::State, &Self::SetState).Default(cbUnchecked)
  .Property("TabStop", &Self::TabStop, &Self::SetTabStop).Default(true)
ZTL_END_CLASS
ZTL_BEGIN_CLASS(TComboBox, TWinControl)
  .Property("Style", &Self::Style, &Self::SetStyle).Default(csDropDown)
  .Property("ItemIndex", &Self::ItemIndex, &Self::SetItemIndex).Default(-1)
  .Property("Items", &Self::Items, &Self::SetItems)
  .Property("TabStop", &Self::TabStop, &Self::SetTabStop).Default(true)
  .Property("Text", &Self::Text, &Self::SetText)
  .Property("OnChange", &Self::OnChange, &Self::SetOnChange)
ZTL_END_CLASS
ZTL_BEGIN_CLASS(TLabel, TGraphicControl)
  .Property("Alignment", &Self::Alignment, &Self::SetAlignment).Default(taLeftJustify)
  .Property("AutoSize", &Self::AutoSize, &Self::SetAutoSize).Default(true)
  .Property("Caption", &Self::Caption, &Self::SetCaption)
  .Property("Layout", &Self::Layout, &Self::SetLayout).Default(tlTop)
  .Property("Transparent", &Self::Transparent, &Self::SetTransparent).Default(false)
  .Property("WordWrap", &Self::WordWrap, &Self::SetWordWrap).Default(false)
ZTL_END_CLASS
ZTL_BEGIN_CLASS(TGroupBox, TCustomControl)
  .Property("Caption", &Self::Caption, &Self::SetCaption)
ZTL_END_CLASS

// ---------------------------------------------------------------- edits

TCustomEdit::TCustomEdit(TComponent* AOwner) : TWinControl(AOwner) {
  SetTabStop(true);
  SetColor(clWindow);
  SetBounds(0, 0, 121, 21);
}

void TCustomEdit::Changed(TControlChange what) {
  TWinControl::Changed(what);
  if (what == ccText && !Loading() && onChange_) onChange_(this);
}

TMemo::TMemo(TComponent* AOwner) : TCustomEdit(AOwner), lines_(std::make_unique<TStringList>()) {
  lines_->SetOnChange(MakeMethod<&TMemo::LinesChanged>(this));
  SetBounds(0, 0, 185, 89);
}

TMemo::~TMemo() { lines_->SetOnChange(nullptr); }

void TMemo::LinesChanged(TObject*) { Changed(ccText); }

String TMemo::Text() const {
  String text = lines_->Text();
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
  return text;
}

void TMemo::SetText(const String& value) {
  if (value == Text()) return;
  lines_->SetText(value);
}

// ---------------------------------------------------------------- buttons

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner) {
  SetTabStop(true);
  SetBounds(0, 0, 75, 25);
}

void TButton::Click() {
  if (TCustomForm* form = GetParentForm(this)) form->SetModalResult(modalResult_);
  TWinControl::Click();
}

TCheckBox::TCheckBox(TComponent* AOwner) : TWinControl(AOwner) {
  SetTabStop(true);
  SetBounds(0, 0, 97, 17);
}

void TCheckBox::SetState(TCheckBoxState value) {
  if (value == state_) return;
  state_ = value;
  Changed(ccState);
  if (!Loading()) Click();
}

TComboBox::TComboBox(TComponent* AOwner) : TWinControl(AOwner), items_(std::make_unique<TStringList>()) {
  SetTabStop(true);
  SetColor(clWindow);
  SetBounds(0, 0, 145, 21);
}

TComboBox::~TComboBox() = default;

void TComboBox::SetItemIndex(int value) {
  if (value < -1 || value >= items_->Count()) value = -1;
  if (value == itemIndex_ && Loading()) return;
  itemIndex_ = value;
  TControl::SetText(value >= 0 ? items_->Get(value) : String());
}

void TComboBox::SetStyle(TComboBoxStyle value) {
  style_ = value;
  if (style_ == csDropDownList) SetItemIndex(itemIndex_);
}

String TComboBox::Text() const {
  if (style_ == csDropDownList) return itemIndex_ >= 0 && itemIndex_ < items_->Count() ? items_->Get(itemIndex_) : String();
  return TWinControl::Text();
}

void TComboBox::SetText(const String& value) {
  int index = -1;
  for (int i = 0; i < items_->Count(); ++i)
    if (items_->Get(i) == value) {
      index = i;
      break;
    }
  const String before = Text();
  if (style_ == csDropDownList) {
    itemIndex_ = index;
    TControl::SetText(index >= 0 ? value : String());
  } else {
    itemIndex_ = index;
    TControl::SetText(value);
  }
  if (Text() != before && !Loading() && onChange_) onChange_(this);
}

// ---------------------------------------------------------------- labels, boxes

TLabel::TLabel(TComponent* AOwner) : TGraphicControl(AOwner) {
  SetBounds(0, 0, 65, 17);
  SetAutoSize(true);
}

void TLabel::SetWordWrap(bool value) {
  if (value == wordWrap_) return;
  wordWrap_ = value;
  AdjustSize();
}

void TLabel::AdjustSize() {
  if (!AutoSize() || Loading()) return;
  String text = StringReplaceAll(Caption(), "&&", "\x01");
  text = StringReplaceAll(text, "&", "");
  text = StringReplaceAll(text, "\x01", "&");
  const TSize extent = WidgetSet().TextExtent(*Font(), text);
  if (wordWrap_ && Width() > 0) {
    const int lines = std::max(1, (extent.cx + Width() - 1) / Width());
    SetBounds(Left(), Top(), Width(), extent.cy * lines);
  } else {
    SetBounds(Left(), Top(), extent.cx, extent.cy);
  }
}

TGroupBox::TGroupBox(TComponent* AOwner) : TCustomControl(AOwner) { SetBounds(0, 0, 185, 105); }

namespace {
const bool registered = [] {
  for (TClass cls : {TEdit::StaticClass(), TMemo::StaticClass(), TButton::StaticClass(), TCheckBox::StaticClass(),
                     TComboBox::StaticClass(), TLabel::StaticClass(), TGroupBox::StaticClass()})
    RegisterClass(cls);
  return true;
}();
}  // namespace

}  // namespace ztl
