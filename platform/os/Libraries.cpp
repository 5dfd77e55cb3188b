#include <ztlogger/platform/os/Libraries.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>

#include <ztlogger/platform/rtl/Unicode.h>

namespace {

// Handles of modules loaded as data have their low bit set; dlopen's handles
// are aligned pointers and never do.
bool IsCodeHandle(HMODULE module) { return module && !(reinterpret_cast<uintptr_t>(module) & 1); }

// The loader's state: dlerror's text is process-wide, read under this lock
// with the call that set it; and the loads not yet released, by handle, so
// that releasing a value LoadLibraryW did not give fails as on Windows
// instead of reaching dlclose.
struct Loader {
  std::mutex lock;
  std::map<void*, int> loads;
};

Loader& TheLoader() {
  static Loader loader;
  return loader;
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
  if (lpLibFileName == nullptr || *lpLibFileName == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string path = ztl::unicode::Utf16ToUtf8(lpLibFileName);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  Loader& loader = TheLoader();
  std::lock_guard guard(loader.lock);
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    // The file is there: either it is no module, or a module it needs is missing.
    const char* reason = ::dlerror();
    const bool dependency = reason && std::strstr(reason, "cannot open shared object file");
    SetLastError(dependency ? ERROR_MOD_NOT_FOUND : ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  ++loader.loads[handle];
  return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (!IsCodeHandle(hModule)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (lpProcName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Loader& loader = TheLoader();
  std::lock_guard guard(loader.lock);
  if (!loader.loads.contains(hModule)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  ::dlerror();
  void* symbol = ::dlsym(hModule, lpProcName);
  if (!symbol) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

namespace ztl::os {

BOOL FreeCodeLibrary(HMODULE module) {
  if (!IsCodeHandle(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Loader& loader = TheLoader();
  std::lock_guard guard(loader.lock);
  auto it = loader.loads.find(module);
  if (it == loader.loads.end() || ::dlclose(module) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (--it->second == 0) loader.loads.erase(it);
  return TRUE;
}

}  // namespace ztl::os
