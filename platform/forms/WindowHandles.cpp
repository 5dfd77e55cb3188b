#include <ztlogger/platform/forms/WindowHandles.h>

#include <map>
#include <mutex>

namespace ztl {

namespace {

struct HandleTable {
  std::mutex lock;
  uintptr_t next = 0x1000;
  std::map<HWND, TWinControl*> windows;
};

HandleTable& Handles() {
  // Never destroyed: controls freed late in the process still reach it.
  static auto* table = new HandleTable;
  return *table;
}

}  // namespace

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

}  // namespace ztl
