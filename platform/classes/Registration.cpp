#include <ztlogger/platform/classes/Registration.h>

#include <algorithm>
#include <map>
#include <mutex>

#include <ztlogger/platform/classes/Component.h>
#include <ztlogger/platform/os/Libraries.h>
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/rtl/ErrorMessages.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/ScopeExit.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl {

namespace {

struct Package {
  String fileName;
  int loads = 0;
  void (*registerProc)() = nullptr;
  // Classes this package's registration put into the class registry; others
  // (registered by the module's own start-up, say) stay when it goes.
  std::vector<TClass> addedClasses;
};

struct Palette {
  std::mutex lock;
  std::vector<TPaletteEntry> entries;
  // Loading and unloading run one at a time, Register included, so that a
  // package's Register may itself load packages it needs.
  std::recursive_mutex packageLock;
  std::map<HMODULE, Package> packages;
};

Palette& ThePalette() {
  static Palette palette;
  return palette;
}

// The package whose Register runs on this thread.
thread_local HMODULE registering = nullptr;

void RemoveRegistrations(Palette& p, HMODULE module, const std::vector<TClass>& added) {
  {
    std::lock_guard guard(p.lock);
    std::erase_if(p.entries, [&](const TPaletteEntry& e) { return e.Package == module; });
  }
  for (TClass cls : added) UnRegisterClass(cls);
}

String LoadFailure(const String& FileName, DWORD error) {
  switch (error) {
    case ERROR_MOD_NOT_FOUND:
      return "Cannot load package " + FileName + ": the file, or a module it needs, was not found";
    case ERROR_BAD_EXE_FORMAT: return "Cannot load package " + FileName + ": the file is not a loadable module";
    default: return "Cannot load package " + FileName + ": " + SysErrorMessage(error);
  }
}

}  // namespace

void RegisterComponents(const String& Page, std::initializer_list<TClass> ComponentClasses) {
  for (TClass cls : ComponentClasses)
    if (!cls || !cls->InheritsFrom(TComponent::StaticClass()))
      throw EComponentError("Only components can be registered on a palette page");
  auto& p = ThePalette();
  std::vector<TClass> added;
  {
    std::lock_guard guard(p.lock);
    for (TClass cls : ComponentClasses) {
      if (GetClass(cls->ClassName()) != cls) {
        RegisterClass(cls);
        added.push_back(cls);
      }
      p.entries.push_back(TPaletteEntry{Page, cls, registering});
    }
  }
  if (registering) {
    std::lock_guard guard(p.packageLock);
    auto& classes = p.packages[registering].addedClasses;
    classes.insert(classes.end(), added.begin(), added.end());
  }
}

std::vector<TPaletteEntry> RegisteredComponents() {
  auto& p = ThePalette();
  std::lock_guard guard(p.lock);
  return p.entries;
}

TClass FindComponentClass(const String& ClassName) {
  auto& p = ThePalette();
  std::lock_guard guard(p.lock);
  for (const auto& e : p.entries)
    if (SameText(e.ComponentClass->ClassName(), ClassName)) return e.ComponentClass;
  return nullptr;
}

void ClearRegisteredComponents() {
  auto& p = ThePalette();
  std::lock_guard guard(p.lock);
  p.entries.clear();
}

HMODULE LoadPackage(const String& FileName) {
  auto& p = ThePalette();
  std::lock_guard guard(p.packageLock);
  HMODULE module = LoadLibraryW(unicode::Utf8ToUtf16(FileName).c_str());
  if (!module) throw EPackageError(LoadFailure(FileName, GetLastError()));
  auto known = p.packages.find(module);
  if (known != p.packages.end()) {
    ++known->second.loads;  // the module's own reference is kept for the matching UnloadPackage
    return module;
  }
  auto release = ScopeExit([&] { FreeLibrary(module); });
  auto entry = reinterpret_cast<void (*)()>(GetProcAddress(module, PackageRegisterName));
  if (!entry)
    throw EPackageError("Cannot load package " + FileName + ": it exports no " + PackageRegisterName + " procedure");
  Package& package = p.packages[module];
  package.fileName = FileName;
  package.registerProc = entry;
  const HMODULE outer = registering;
  registering = module;
  try {
    entry();
  } catch (...) {
    registering = outer;
    RemoveRegistrations(p, module, package.addedClasses);
    p.packages.erase(module);
    throw;
  }
  registering = outer;
  package.loads = 1;
  release.Release();
  return module;
}

void UnloadPackage(HMODULE Module) {
  auto& p = ThePalette();
  std::lock_guard guard(p.packageLock);
  auto it = p.packages.find(Module);
  if (it == p.packages.end() || it->second.loads == 0) throw EPackageError("Invalid package handle");
  if (--it->second.loads == 0) {
    RemoveRegistrations(p, Module, it->second.addedClasses);
    p.packages.erase(it);
  }
  if (!FreeLibrary(Module)) throw EPackageError("Cannot unload package: " + SysErrorMessage(GetLastError()));
}

std::vector<const TResourceEntry*> PackageResources(HMODULE Module) {
  auto& p = ThePalette();
  uintptr_t base = 0;
  {
    std::lock_guard guard(p.packageLock);
    auto it = p.packages.find(Module);
    if (it == p.packages.end()) throw EPackageError("Invalid package handle");
    base = ModuleCodeBase(reinterpret_cast<const void*>(it->second.registerProc));
  }
  std::vector<const TResourceEntry*> own;
  for (const TResourceEntry* e : ResourceEntries())
    if (ModuleCodeBase(e->Data) == base) own.push_back(e);
  return own;
}

TComponent* CreateDesignComponent(const String& ClassName, TComponent* Root) {
  TClass cls = FindComponentClass(ClassName);
  if (!cls) throw EClassNotFound("Class " + ClassName + " is not a registered component");
  Root->SetDesigning(true);
  return static_cast<TComponent*>(cls->Create(Root));
}

}  // namespace ztl
