#pragma once
// The headless widget set: no display. Tests drive modal windows by posting
// user actions, which run in order, each on the modal window on top (or the
// active form when none is modal); what was shown is recorded. A modal
// window whose queue runs empty closes at once with its cancel result.
// Message boxes and message dialogs (shown exceptions among them) are also
// written to the standard error stream, so that a program without a display
// loses none of them: the caption on a line, the text, then a blank line.
//
// Main thread only.
#include <array>
#include <functional>
#include <vector>

#include <ztlogger/platform/forms/WidgetSet.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

class TCustomForm;

enum TShownKind : uint8_t { skForm, skMessageBox };

// A modal window as it was shown.
struct ZTL_PLATFORM_API TShownWindow {
  TShownKind Kind = skForm;
  String Caption;
  // A message box's text; for a form, the text of its control named "Message".
  String Text;
  UINT Icon = 0;  // MB_ICON... of a message box or message dialog
  std::vector<String> Buttons;  // captions of the visible buttons
  String FormClass;
  String FormName;
  int Result = 0;
  bool Open = true;
};

class ZTL_PLATFORM_API THeadlessBackend : public TWidgetBackend {
 public:
  void Changed(TControlChange what) override { ++changes_[what]; }
  void SetFocus() override { ++focusCount_; }
  int Changes(TControlChange what) const { return changes_[what]; }
  int FocusCount() const { return focusCount_; }

 private:
  std::array<int, ccState + 1> changes_{};
  int focusCount_ = 0;
};

class ZTL_PLATFORM_API THeadlessWidgetSet : public TWidgetSet {
 public:
  struct THelpCall {
    WORD Command;
    intptr_t Data;
  };

  // User actions. Click: a button, check box (toggles it), or any control by
  // name, or a message box button by caption. An action that a user could
  // not do (no such control, hidden, disabled) raises EInvalidOperation in
  // the loop, which goes to the application's exception handling.
  void PostClick(const String& name);
  void PostCheck(const String& name, bool checked);
  void PostText(const String& name, const String& text);
  // Enter or Escape.
  void PostKey(WPARAM key);
  // Ends the modal window with result, or closes the active form.
  void PostClose(int result);
  // Runs inspect with the form on top.
  void PostInspect(std::function<void(TCustomForm& form)> inspect);

  // What the system sends the application.
  void PostActivateApp(bool active);
  void PostSettingChange();
  void PostSysCommand(WPARAM command);
  void PostMouseMove(TControl& control);
  void PostHelp(TControl& control);

  const std::vector<TShownWindow>& Shown() const { return shown_; }
  const std::vector<String>& Hints() const { return hints_; }
  bool HintVisible() const { return hintVisible_; }
  const std::vector<THelpCall>& HelpCalls() const { return helpCalls_; }
  const std::vector<UINT>& Beeps() const { return beeps_; }
  void SetScreenSize(int width, int height);
  // The modal form on top, or nullptr.
  TCustomForm* ModalForm() const;

  String Name() const override { return "headless"; }
  std::unique_ptr<TWidgetBackend> CreateBackend(TControl& control) override;
  TSize TextExtent(const TFont& font, const String& text) const override;
  int ScreenWidth() const override { return screenWidth_; }
  int ScreenHeight() const override { return screenHeight_; }
  void ModalStarted(TCustomForm& form) override;
  void ModalEnded(TCustomForm& form, int modalResult) override;
  bool ModalIdle() override;
  int MessageBox(const String& text, const String& caption, UINT flags) override;
  void ShowHintWindow(const String& hint, const THintInfo& info) override;
  void HideHintWindow() override { hintVisible_ = false; }
  bool HelpRequested(WORD command, intptr_t data) override;
  // Recorded, and the X display's bell rings where there is one.
  void Beep(UINT type) override;

 private:
  struct Modal {
    TCustomForm* Form;  // nullptr for a message box
    size_t Record;
    UINT Flags;
    int* Result;
  };
  void PostAction(std::function<void()> action);
  Modal* TopBox();
  TCustomForm& TargetForm() const;
  TControl& UsableControl(const String& name) const;

  std::vector<Modal> modal_;
  std::vector<TShownWindow> shown_;
  std::vector<String> hints_;
  bool hintVisible_ = false;
  std::vector<THelpCall> helpCalls_;
  std::vector<UINT> beeps_;
  int screenWidth_ = 1024;
  int screenHeight_ = 768;
};

// The current widget set as the headless one; raises EInvalidOperation when
// another is installed.
ZTL_PLATFORM_API THeadlessWidgetSet& HeadlessWidgetSet();

}  // namespace ztl
