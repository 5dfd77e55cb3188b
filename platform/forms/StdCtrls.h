#pragma once
// Standard controls: edit boxes, memos, buttons, check boxes, combo boxes,
// labels and group boxes.
// Main thread only.
#include <memory>

#include <ztlogger/platform/classes/Strings.h>
#include <ztlogger/platform/forms/Controls.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

enum TScrollStyle : uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };
ZTL_ENUM_NAMES(TScrollStyle, "ssNone", "ssHorizontal", "ssVertical", "ssBoth")
enum TComboBoxStyle : uint8_t { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };
ZTL_ENUM_NAMES(TComboBoxStyle, "csDropDown", "csSimple", "csDropDownList", "csOwnerDrawFixed", "csOwnerDrawVariable")
enum TCheckBoxState : uint8_t { cbUnchecked, cbChecked, cbGrayed };
ZTL_ENUM_NAMES(TCheckBoxState, "cbUnchecked", "cbChecked", "cbGrayed")
enum TTextLayout : uint8_t { tlTop, tlCenter, tlBottom };
ZTL_ENUM_NAMES(TTextLayout, "tlTop", "tlCenter", "tlBottom")

// The edit controls: a single-line edit box and, below it, the memo.
class ZTL_PLATFORM_API TCustomEdit : public TWinControl {
  ZTL_DECLARE_CLASS(TCustomEdit, TWinControl)

 public:
  explicit TCustomEdit(TComponent* AOwner);

  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; }
  int MaxLength() const { return maxLength_; }
  void SetMaxLength(int value) { maxLength_ = value; }
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle value) { borderStyle_ = value; }
  TNotifyEvent OnChange() const { return onChange_; }
  void SetOnChange(const TNotifyEvent& value) { onChange_ = value; }

 protected:
  void Changed(TControlChange what) override;

 private:
  bool readOnly_ = false;
  int maxLength_ = 0;
  TBorderStyle borderStyle_ = bsSingle;
  TNotifyEvent onChange_;
};

class ZTL_PLATFORM_API TEdit : public TCustomEdit {
  ZTL_DECLARE_CLASS(TEdit, TCustomEdit)

 public:
  explicit TEdit(TComponent* AOwner) : TCustomEdit(AOwner) {}
};

// A multi-line edit box; its text is its lines joined by CR LF.
class ZTL_PLATFORM_API TMemo : public TCustomEdit {
  ZTL_DECLARE_CLASS(TMemo, TCustomEdit)

 public:
  explicit TMemo(TComponent* AOwner);
  ~TMemo() override;

  TStrings* Lines() const { return lines_.get(); }
  void SetLines(TStrings* value) { lines_->Assign(value); }
  String Text() const override;
  void SetText(const String& value) override;
  TScrollStyle ScrollBars() const { return scrollBars_; }
  void SetScrollBars(TScrollStyle value) { scrollBars_ = value; }
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value) { wordWrap_ = value; }

 private:
  void LinesChanged(TObject* Sender);

  std::unique_ptr<TStringList> lines_;
  TScrollStyle scrollBars_ = ssNone;
  bool wordWrap_ = true;
};

class ZTL_PLATFORM_API TButton : public TWinControl {
  ZTL_DECLARE_CLASS(TButton, TWinControl)

 public:
  explicit TButton(TComponent* AOwner);

  // Pressed by Enter / by Escape in its form.
  bool Default() const { return default_; }
  void SetDefault(bool value) { default_ = value; }
  bool Cancel() const { return cancel_; }
  void SetCancel(bool value) { cancel_ = value; }
  // Given to the parent form when the button is clicked.
  TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult value) { modalResult_ = value; }
  void Click() override;

 private:
  bool default_ = false;
  bool cancel_ = false;
  TModalResult modalResult_ = mrNone;
};

class ZTL_PLATFORM_API TCheckBox : public TWinControl {
  ZTL_DECLARE_CLASS(TCheckBox, TWinControl)

 public:
  explicit TCheckBox(TComponent* AOwner);

  bool Checked() const { return state_ == cbChecked; }
  // A change of state fires OnClick.
  void SetChecked(bool value) { SetState(value ? cbChecked : cbUnchecked); }
  TCheckBoxState State() const { return state_; }
  void SetState(TCheckBoxState value);
  // What a click of the user does.
  void Toggle() { SetChecked(!Checked()); }
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value) { alignment_ = value; }

 private:
  TCheckBoxState state_ = cbUnchecked;
  TAlignment alignment_ = taRightJustify;
};

class ZTL_PLATFORM_API TComboBox : public TWinControl {
  ZTL_DECLARE_CLASS(TComboBox, TWinControl)

 public:
  explicit TComboBox(TComponent* AOwner);
  ~TComboBox() override;

  TStrings* Items() const { return items_.get(); }
  void SetItems(TStrings* value) { items_->Assign(value); }
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int value);
  TComboBoxStyle Style() const { return style_; }
  void SetStyle(TComboBoxStyle value);
  // A drop-down list shows its selected item; the other styles any text.
  String Text() const override;
  void SetText(const String& value) override;
  TNotifyEvent OnChange() const { return onChange_; }
  void SetOnChange(const TNotifyEvent& value) { onChange_ = value; }

 private:
  std::unique_ptr<TStringList> items_;
  int itemIndex_ = -1;
  TComboBoxStyle style_ = csDropDown;
  TNotifyEvent onChange_;
};

class ZTL_PLATFORM_API TLabel : public TGraphicControl {
  ZTL_DECLARE_CLASS(TLabel, TGraphicControl)

 public:
  explicit TLabel(TComponent* AOwner);

  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value) { transparent_ = value; }
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value) { alignment_ = value; }
  TTextLayout Layout() const { return layout_; }
  void SetLayout(TTextLayout value) { layout_ = value; }

 protected:
  void AdjustSize() override;

 private:
  bool transparent_ = false;
  bool wordWrap_ = false;
  TAlignment alignment_ = taLeftJustify;
  TTextLayout layout_ = tlTop;
};

class ZTL_PLATFORM_API TGroupBox : public TCustomControl {
  ZTL_DECLARE_CLASS(TGroupBox, TCustomControl)

 public:
  explicit TGroupBox(TComponent* AOwner);
};

}  // namespace ztl
