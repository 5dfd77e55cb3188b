#pragma once
// The screen: the forms in creation and activation order, the active form
// and control, and the primary screen's size (from the widget set). Forms
// (Forms.h) and controls tell it when they come, go and take the focus.
// Main thread only.
#include <vector>

#include <ztlogger/platform/forms/Controls.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

class TCustomForm;
class TForm;

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

// The framework's process-wide screen object; may be absent (nullptr).
extern ZTL_PLATFORM_API TScreen* Screen;

}  // namespace ztl
