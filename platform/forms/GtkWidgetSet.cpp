#include <ztlogger/platform/forms/GtkWidgetSet.h>

#include <ztlogger/platform/os/Libraries.h>
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/rtl/ErrorMessages.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl {

namespace {

// The module's file name, with the version it shares with this library, and
// its entry (gtk/Module.h).
constexpr char kModuleFile[] = ZTL_GTK_MODULE_FILE;
constexpr char kCreateEntry[] = "ZTL_GtkCreateWidgetSet";
using TCreateWidgetSet = TWidgetSet* (*)();

struct TGtkModule {
  TCreateWidgetSet Create = nullptr;
  String Error;
};

// The module sits in the folder of this library: the build tree's library
// folder, or the install's.
String ModulePath() {
  return ExtractFilePath(ModuleFileNameOf(reinterpret_cast<const void*>(&LoadGtkModule))) + kModuleFile;
}

TGtkModule LoadModule() {
  const String path = ModulePath();
  // Never released: the services below hold the display providers that the
  // module registered, and GTK cannot be unloaded.
  HMODULE module = LoadLibraryW(unicode::Utf8ToUtf16(path).c_str());
  if (!module) return {nullptr, "The GTK widget set's module " + path + " cannot be loaded: " + SysErrorMessage(GetLastError())};
  // Through void (*)(): the cast from the generic entry type to the real one.
  auto entry = reinterpret_cast<TCreateWidgetSet>(reinterpret_cast<void (*)()>(GetProcAddress(module, kCreateEntry)));
  if (!entry) return {nullptr, "The GTK widget set's module " + path + " exports no " + kCreateEntry};
  return {entry, {}};
}

const TGtkModule& Module() {
  static const TGtkModule module = LoadModule();
  return module;
}

}  // namespace

bool LoadGtkModule(String* error) {
  const TGtkModule& module = Module();
  if (error) *error = module.Error;
  return module.Create != nullptr;
}

bool GtkWidgetSetBuilt() { return LoadGtkModule(); }

std::unique_ptr<TWidgetSet> CreateGtkWidgetSet() {
  String error;
  if (!LoadGtkModule(&error)) throw EInvalidOperation(error);
  return std::unique_ptr<TWidgetSet>(Module().Create());
}

TGtkInspection* GtkInspection() { return dynamic_cast<TGtkInspection*>(&WidgetSet()); }

}  // namespace ztl
