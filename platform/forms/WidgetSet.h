#pragma once
// Widget sets: what shows the portable controls.
//
// Controls keep their state (geometry, visibility, text, focus, hint) in
// portable code; each control gets a backend object from the current widget
// set, which it tells about every change. The widget set also runs what needs
// a user: message boxes, the waiting of modal windows, hint windows, help.
//
// Main thread only: controls and their backends live on the main thread.
#include <memory>
#include <vector>

#include <ztlogger/platform/forms/Messages.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl {

class TControl;
class TWinControl;
class TCustomForm;
class TFont;
struct THintInfo;

// Message box styles and results, as the published Windows definitions give them.
inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_OKCANCEL = 0x00000001;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
inline constexpr UINT MB_YESNOCANCEL = 0x00000003;
inline constexpr UINT MB_YESNO = 0x00000004;
inline constexpr UINT MB_RETRYCANCEL = 0x00000005;
inline constexpr UINT MB_TYPEMASK = 0x0000000F;
inline constexpr UINT MB_ICONHAND = 0x00000010;
inline constexpr UINT MB_ICONQUESTION = 0x00000020;
inline constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
inline constexpr UINT MB_ICONASTERISK = 0x00000040;
inline constexpr UINT MB_ICONMASK = 0x000000F0;
inline constexpr UINT MB_ICONERROR = MB_ICONHAND;
inline constexpr UINT MB_ICONSTOP = MB_ICONHAND;
inline constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
inline constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// What changed in a control, for its backend.
enum TControlChange : uint8_t { ccBounds, ccVisible, ccEnabled, ccText, ccFont, ccColor, ccParent, ccPicture, ccState };

// One control's counterpart in the widget set.
class ZTL_PLATFORM_API TWidgetBackend {
 public:
  virtual ~TWidgetBackend() = default;
  virtual void Changed(TControlChange what) = 0;
  virtual void SetFocus() = 0;
};

class ZTL_PLATFORM_API TWidgetSet {
 public:
  virtual ~TWidgetSet() = default;

  virtual String Name() const = 0;
  virtual std::unique_ptr<TWidgetBackend> CreateBackend(TControl& control) = 0;
  // The size of text written in font on one line.
  virtual TSize TextExtent(const TFont& font, const String& text) const = 0;
  virtual int ScreenWidth() const = 0;
  virtual int ScreenHeight() const = 0;

  // A form's modal loop begins and ends.
  virtual void ModalStarted(TCustomForm& form) = 0;
  virtual void ModalEnded(TCustomForm& form, int modalResult) = 0;
  // Called by a modal loop whose queue has run empty: waits for the user and
  // returns true when no user will come, so the window closes with its
  // cancel result.
  virtual bool ModalIdle() = 0;
  // A modal message box (MB_ flags); returns the ID of the pressed button.
  virtual int MessageBox(const String& text, const String& caption, UINT flags) = 0;
  virtual void ShowHintWindow(const String& hint, const THintInfo& info) = 0;
  virtual void HideHintWindow() = 0;
  // The help system; returns whether it showed help.
  virtual bool HelpRequested(WORD command, intptr_t data) = 0;
  virtual void Beep(UINT type) = 0;

  // A desktop widget set runs an event loop of its own, and the application
  // waits for messages inside it: WaitEvents handles the widget set's events
  // until one came, wakeDescriptor became readable (the application's queue
  // was woken: a message, a synchronised call) or timeoutMs ran out (-1: no
  // limit). Main thread only. Without a loop of its own the application
  // waits on its queue alone.
  virtual bool HasEventLoop() const { return false; }
  virtual void WaitEvents(int wakeDescriptor, int timeoutMs);
};

// The current widget set. The first call chooses it: ZTL_WIDGETSET names it
// ("gtk3" or "headless"); unset, GTK when a display is named, its module
// (GtkWidgetSet.h) loads and the display can be opened, else the headless
// one. A "gtk3" that cannot be had
// is reported on the standard error stream and the headless one is used. GTK
// is only chosen on the main thread: a program's first use of the widget set
// (a form, a message box, MessageBeep) belongs there.
ZTL_PLATFORM_API TWidgetSet& WidgetSet();
ZTL_PLATFORM_API void SetWidgetSet(std::unique_ptr<TWidgetSet> widgetSet);

// The button captions of a message box style, in order ("OK", "Cancel", ...).
ZTL_PLATFORM_API std::vector<String> MessageBoxButtons(UINT flags);
// The ID of a message box button caption, or 0.
ZTL_PLATFORM_API int MessageBoxButtonID(const String& caption);
// The result of a box closed without a choice: Cancel when it has one, else
// OK for an OK box, else the last button.
ZTL_PLATFORM_API int MessageBoxCancelResult(UINT flags);

}  // namespace ztl
