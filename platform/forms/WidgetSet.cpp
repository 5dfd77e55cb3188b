#include "platform/forms/WidgetSet.h"

#include <map>
#include <mutex>

#include "platform/forms/HeadlessWidgetSet.h"
#include "platform/os/ScreenDC.h"
#include "platform/rtl/SysUtils.h"

namespace ztl {

namespace {

std::unique_ptr<TWidgetSet>& Current() {
  // Never destroyed: controls freed late in the process still reach it.
  static auto* current = new std::unique_ptr<TWidgetSet>(std::make_unique<THeadlessWidgetSet>());
  return *current;
}

struct HandleTable {
  std::mutex lock;
  uintptr_t next = 0x1000;
  std::map<HWND, TWinControl*> windows;
};

HandleTable& Handles() {
  static auto* table = new HandleTable;
  return *table;
}

void CurrentScreenSize(int& width, int& height) {
  width = WidgetSet().ScreenWidth();
  height = WidgetSet().ScreenHeight();
}

// The screen device context shows the widget set's screen when there is no
// display; it sits below this layer, so it is told at start-up.
[[maybe_unused]] const bool screenSizeRegistered = (osdc::SetHeadlessScreenSize(&CurrentScreenSize), true);

struct ButtonSpec {
  const char* Caption;
  int Id;
};

}  // namespace

TWidgetSet& WidgetSet() { return *Current(); }

void SetWidgetSet(std::unique_ptr<TWidgetSet> widgetSet) {
  if (widgetSet) Current() = std::move(widgetSet);
}

HWND AllocateWindowHandle(TWinControl* control) {
  HandleTable& t = Handles();
  std::lock_guard guard(t.lock);
  t.next += 4;
  HWND handle = reinterpret_cast<HWND>(t.next);
  t.windows[handle] = control;
  return handle;
}

void ReleaseWindowHandle(HWND handle) {
  HandleTable& t = Handles();
  std::lock_guard guard(t.lock);
  t.windows.erase(handle);
}

TWinControl* FindControl(HWND handle) {
  if (!handle) return nullptr;
  HandleTable& t = Handles();
  std::lock_guard guard(t.lock);
  auto it = t.windows.find(handle);
  return it == t.windows.end() ? nullptr : it->second;
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
