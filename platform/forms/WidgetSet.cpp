#include <ztlogger/platform/forms/WidgetSet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include <ztlogger/platform/forms/GtkWidgetSet.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/os/Beep.h>
#include <ztlogger/platform/os/ScreenDC.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Threads.h>

namespace ztl {

namespace {

std::unique_ptr<TWidgetSet> ChooseWidgetSet() {
  const char* asked = std::getenv("ZTL_WIDGETSET");
  if (asked && !*asked) asked = nullptr;
  const bool wantGtk = asked && std::strcmp(asked, "gtk3") == 0;
  const bool wantHeadless = asked && std::strcmp(asked, "headless") == 0;
  if (asked && !wantGtk && !wantHeadless)
    std::fprintf(stderr, "ZTL_WIDGETSET=%s names no widget set (gtk3, headless): using headless\n", asked);
  const char* display = std::getenv("DISPLAY");
  // GTK belongs to the thread that initialises it, which must be the one
  // that runs the message loop.
  if (!IsMainThread()) {
    if (wantGtk) std::fprintf(stderr, "ZTL_WIDGETSET=gtk3: first asked for off the main thread: using headless\n");
    return std::make_unique<THeadlessWidgetSet>();
  }
  if (wantGtk || (!asked && display && *display && GtkWidgetSetBuilt())) {
    try {
      return CreateGtkWidgetSet();
    } catch (const Exception& e) {
      // A program must still run where no desktop can be had; it says why.
      if (wantGtk) std::fprintf(stderr, "ZTL_WIDGETSET=gtk3: %s: using headless\n", e.Message().c_str());
    }
  }
  return std::make_unique<THeadlessWidgetSet>();
}

std::unique_ptr<TWidgetSet>& Current() {
  // Never destroyed: controls freed late in the process still reach it.
  static auto* current = new std::unique_ptr<TWidgetSet>(ChooseWidgetSet());
  return *current;
}

void CurrentScreenSize(int& width, int& height) {
  width = WidgetSet().ScreenWidth();
  height = WidgetSet().ScreenHeight();
}

// The screen device context shows the widget set's screen when there is no
// display; it sits below this layer, so it is told at start-up.
[[maybe_unused]] const bool screenSizeRegistered = (osdc::SetHeadlessScreenSize(&CurrentScreenSize), true);

// MessageBeep, below this layer too, sounds through the widget set in use.
void CurrentBeep(UINT type) { WidgetSet().Beep(type); }
[[maybe_unused]] const bool beepRegistered = (osbeep::SetBeepSink(&CurrentBeep), true);

struct ButtonSpec {
  const char* Caption;
  int Id;
};

}  // namespace

TWidgetSet& WidgetSet() { return *Current(); }

void TWidgetSet::WaitEvents(int, int) {}

void SetWidgetSet(std::unique_ptr<TWidgetSet> widgetSet) {
  if (widgetSet) Current() = std::move(widgetSet);
}

namespace {

std::vector<ButtonSpec> Buttons(UINT flags) {
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{"OK", IDOK}, {"Cancel", IDCANCEL}};
    case MB_ABORTRETRYIGNORE: return {{"Abort", IDABORT}, {"Retry", IDRETRY}, {"Ignore", IDIGNORE}};
    case MB_YESNOCANCEL: return {{"Yes", IDYES}, {"No", IDNO}, {"Cancel", IDCANCEL}};
    case MB_YESNO: return {{"Yes", IDYES}, {"No", IDNO}};
    case MB_RETRYCANCEL: return {{"Retry", IDRETRY}, {"Cancel", IDCANCEL}};
    default: return {{"OK", IDOK}};
  }
}

}  // namespace

std::vector<String> MessageBoxButtons(UINT flags) {
  std::vector<String> captions;
  for (const ButtonSpec& b : Buttons(flags)) captions.push_back(b.Caption);
  return captions;
}

int MessageBoxButtonID(const String& caption) {
  const String bare = StringReplaceAll(caption, "&", "");
  for (UINT style : {MB_OK, MB_ABORTRETRYIGNORE, MB_YESNOCANCEL, MB_RETRYCANCEL})
    for (const ButtonSpec& b : Buttons(style))
      if (SameText(bare, b.Caption)) return b.Id;
  return 0;
}

int MessageBoxCancelResult(UINT flags) {
  const std::vector<ButtonSpec> buttons = Buttons(flags);
  for (const ButtonSpec& b : buttons)
    if (b.Id == IDCANCEL) return IDCANCEL;
  if (buttons.size() == 1) return buttons.front().Id;
  return buttons.back().Id;
}

}  // namespace ztl
