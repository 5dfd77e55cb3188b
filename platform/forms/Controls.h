#pragma once
// Controls: portable state (parent, bounds, alignment, visibility, text,
// font, colour, hint, focus, tab order) shown through the widget set.
// Controls belong to the user interface: main thread only.
#include <memory>
#include <vector>

#include <ztlogger/platform/classes/Component.h>
#include <ztlogger/platform/forms/Graphics.h>
#include <ztlogger/platform/forms/Messages.h>
#include <ztlogger/platform/forms/WidgetSet.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

class TWinControl;
class TCustomForm;

enum TAlign : uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };
ZTL_ENUM_NAMES(TAlign, "alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient", "alCustom")

enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };
ZTL_ENUM_NAMES(TAlignment, "taLeftJustify", "taRightJustify", "taCenter")

// The border of a form; controls use its first two values.
enum TFormBorderStyle : uint8_t { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
ZTL_ENUM_NAMES(TFormBorderStyle, "bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin")
using TBorderStyle = TFormBorderStyle;

using TModalResult = int;
inline constexpr TModalResult mrNone = 0;
inline constexpr TModalResult mrOk = IDOK;
inline constexpr TModalResult mrCancel = IDCANCEL;
inline constexpr TModalResult mrAbort = IDABORT;
inline constexpr TModalResult mrRetry = IDRETRY;
inline constexpr TModalResult mrIgnore = IDIGNORE;
inline constexpr TModalResult mrYes = IDYES;
inline constexpr TModalResult mrNo = IDNO;
inline constexpr TModalResult mrAll = 8;
inline constexpr TModalResult mrNoToAll = 9;
inline constexpr TModalResult mrYesToAll = 10;

using TCursor = int16_t;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crNone = -1;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crCross = -3;
inline constexpr TCursor crIBeam = -4;
inline constexpr TCursor crHourGlass = -11;
inline constexpr TCursor crHandPoint = -21;
ZTL_PLATFORM_API bool CursorToIdent(TCursor cursor, String& ident);
ZTL_PLATFORM_API bool IdentToCursor(const String& ident, TCursor& cursor);

// The parts of a hint text "short|long".
ZTL_PLATFORM_API String GetShortHint(const String& hint);
ZTL_PLATFORM_API String GetLongHint(const String& hint);

class ZTL_PLATFORM_API TControl : public TComponent {
  ZTL_DECLARE_CLASS(TControl, TComponent)

 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  TWinControl* Parent() const { return parent_; }
  virtual void SetParent(TWinControl* value);
  // Stored forms: a nested control's parent is the enclosing one.
  bool HasParent() const override { return true; }
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* value) override;

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int value) { SetBounds(value, top_, width_, height_); }
  void SetTop(int value) { SetBounds(left_, value, width_, height_); }
  void SetWidth(int value) { SetBounds(left_, top_, value, height_); }
  void SetHeight(int value) { SetBounds(left_, top_, width_, value); }
  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  TRect BoundsRect() const { return Bounds(left_, top_, width_, height_); }
  virtual int ClientWidth() const { return width_; }
  virtual int ClientHeight() const { return height_; }
  virtual void SetClientWidth(int value) { SetWidth(value); }
  virtual void SetClientHeight(int value) { SetHeight(value); }
  TRect ClientRect() const { return Rect(0, 0, ClientWidth(), ClientHeight()); }

  TAlign Align() const { return align_; }
  void SetAlign(TAlign value);

  bool Visible() const { return visible_; }
  virtual void SetVisible(bool value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible, and every parent up to a form visible too.
  bool Showing() const;
  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool value);

  // Caption and Text are the same text.
  virtual String Text() const { return text_; }
  virtual void SetText(const String& value);
  String Caption() const { return Text(); }
  void SetCaption(const String& value) { SetText(value); }

  TFont* Font() const { return font_.get(); }
  void SetFont(TFont* value) { font_->Assign(value); }
  bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool value);
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  bool ParentColor() const { return parentColor_; }
  void SetParentColor(bool value);

  const String& Hint() const { return hint_; }
  void SetHint(const String& value) { hint_ = value; }
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool value);
  bool ParentShowHint() const { return parentShowHint_; }
  void SetParentShowHint(bool value);

  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor value) { cursor_ = value; }
  int HelpContext() const { return helpContext_; }
  void SetHelpContext(int value) { helpContext_ = value; }
  bool AutoSize() const { return autoSize_; }
  virtual void SetAutoSize(bool value);

  TNotifyEvent OnClick() const { return onClick_; }
  void SetOnClick(const TNotifyEvent& value) { onClick_ = value; }
  virtual void Click();

  TWidgetBackend* Backend() const { return backend_.get(); }
  // Sends a message straight to the control's window procedure.
  LRESULT Perform(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
  virtual void WndProc(TMessage& message);

  void Loaded() override;

 protected:
  // Tells the backend; descendants react to their own changes here.
  virtual void Changed(TControlChange what);
  // Resizes to the content when AutoSize is set.
  virtual void AdjustSize() {}
  virtual void ParentChanged() {}
  bool Loading() const { return ComponentState().Contains(csLoading); }
  // Called when a property that follows the parent changed there.
  virtual void ParentFontChanged();
  virtual void ParentColorChanged();
  virtual void ParentShowHintChanged();
  void InitColor(TColor value) { color_ = value; }

 private:
  friend class TWinControl;
  void FontChanged(TObject* Sender);
  bool ColorStored() const;
  bool FontStored() const;
  bool ShowHintStored() const;

  TWinControl* parent_ = nullptr;
  int left_ = 0;
  int top_ = 0;
  int width_ = 0;
  int height_ = 0;
  TAlign align_ = alNone;
  bool visible_ = true;
  bool enabled_ = true;
  String text_;
  std::unique_ptr<TFont> font_;
  bool parentFont_ = true;
  bool updatingFont_ = false;
  TColor color_ = clBtnFace;
  bool parentColor_ = false;
  String hint_;
  bool showHint_ = false;
  bool parentShowHint_ = true;
  TCursor cursor_ = crDefault;
  int helpContext_ = 0;
  bool autoSize_ = false;
  TNotifyEvent onClick_;
  std::unique_ptr<TWidgetBackend> backend_;
};
using TControlClass = TClass;

// A control without a window of its own, drawn on its parent.
class ZTL_PLATFORM_API TGraphicControl : public TControl {
  ZTL_DECLARE_CLASS(TGraphicControl, TControl)

 public:
  explicit TGraphicControl(TComponent* AOwner) : TControl(AOwner) {}
};

// A control with a window: it can hold other controls and take the focus.
class ZTL_PLATFORM_API TWinControl : public TControl {
  ZTL_DECLARE_CLASS(TWinControl, TControl)

 public:
  explicit TWinControl(TComponent* AOwner);
  // Frees the child controls first, whoever owns them.
  ~TWinControl() override;

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const;
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);
  bool ContainsControl(const TControl* control) const;
  // The visible child at a point of the client area (the last one on top).
  TControl* ControlAtPos(const TPoint& pos) const;
  // The control named so among the children and their children.
  TControl* FindChildControl(const String& name) const;

  // The position among the parent's windowed children in tab order.
  int TabOrder() const;
  void SetTabOrder(int value);
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool value) { tabStop_ = value; }
  // The windowed children in tab order, and their children after each.
  void GetTabOrderList(std::vector<TWinControl*>& list) const;

  HWND Handle();
  bool HandleAllocated() const { return handle_ != nullptr; }

  // Visible and enabled up to the parent form.
  virtual bool CanFocus() const;
  // Raises EInvalidOperation when the control cannot take the focus.
  virtual void SetFocus();
  bool Focused() const;

  TNotifyEvent OnEnter() const { return onEnter_; }
  void SetOnEnter(const TNotifyEvent& value) { onEnter_ = value; }
  TNotifyEvent OnExit() const { return onExit_; }
  void SetOnExit(const TNotifyEvent& value) { onExit_ = value; }

  void WndProc(TMessage& message) override;
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
  // Stored forms: the child controls that Root owns.
  void GetChildren(const std::function<void(TComponent*)>& Proc, TComponent* Root) override;
  // Places the aligned children inside the client area.
  void Realign();

 protected:
  friend class TScreen;
  virtual void DoEnter();
  virtual void DoExit();
  void Changed(TControlChange what) override;
  void ParentFontChanged() override;
  void ParentColorChanged() override;
  void ParentShowHintChanged() override;

 private:
  friend class TControl;
  void NotifyChildren(void (TControl::*change)());

  std::vector<TControl*> controls_;
  std::vector<TWinControl*> tabList_;
  int pendingTabOrder_ = -1;
  bool tabStop_ = false;
  bool aligning_ = false;
  HWND handle_ = nullptr;
  TNotifyEvent onEnter_;
  TNotifyEvent onExit_;
};

// A windowed control that draws itself.
class ZTL_PLATFORM_API TCustomControl : public TWinControl {
  ZTL_DECLARE_CLASS(TCustomControl, TWinControl)

 public:
  explicit TCustomControl(TComponent* AOwner) : TWinControl(AOwner) {}
};

// The form a control sits on, or nullptr.
ZTL_PLATFORM_API TCustomForm* GetParentForm(const TControl* control);

}  // namespace ztl
