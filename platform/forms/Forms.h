#pragma once
// Forms: top-level windows, modal or not, with their close and dialog-key
// handling. Includes the application (Application.h) and the screen
// (Screen.h), which forms work with.
// Main thread only.
#include <ztlogger/platform/forms/Application.h>
#include <ztlogger/platform/forms/Controls.h>
#include <ztlogger/platform/forms/Screen.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

using TCloseQueryEvent = TMethodRef<void(TObject* Sender, bool& CanClose)>;

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

}  // namespace ztl
