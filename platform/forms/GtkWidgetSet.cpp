#include <ztlogger/platform/forms/GtkWidgetSet.h>

#include <cstdlib>

#include <ztlogger/platform/os/Beep.h>
#include <ztlogger/platform/os/Libraries.h>
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/os/ScreenDC.h>
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

String LoadFailure(DWORD error) {
  switch (error) {
    case ERROR_MOD_NOT_FOUND: return "it, or a library it needs, is missing";
    case ERROR_BAD_EXE_FORMAT: return "it is no loadable module";
    default: return SysErrorMessage(error);
  }
}

TGtkModule LoadModule() {
  const String path = ModulePath();
  // Never released: the services below hold the display providers that the
  // module registered, and GTK cannot be unloaded.
  HMODULE module = LoadLibraryW(unicode::Utf8ToUtf16(path).c_str());
  if (!module) return {nullptr, "The GTK widget set's module " + path + " cannot be loaded: " + LoadFailure(GetLastError())};
  // Through void (*)(): the cast from the generic entry type to the real one.
  auto entry = reinterpret_cast<TCreateWidgetSet>(reinterpret_cast<void (*)()>(GetProcAddress(module, kCreateEntry)));
  if (!entry) return {nullptr, "The GTK widget set's module " + path + " exports no " + kCreateEntry};
  return {entry, {}};
}

const TGtkModule& Module() {
  static const TGtkModule module = LoadModule();
  return module;
}

bool DisplayNamed() {
  const char* display = std::getenv("DISPLAY");
  return display && *display;
}

// Until the module is loaded, the display's screen and bell are reached by
// loading it where a display is named (a program on a desktop that has shown
// no form yet, or runs headless): once loaded, the module's own providers
// stand in for these, and this call goes on to them.
std::unique_ptr<osdc::TPixelSurface> ScreenThroughTheModule() {
  if (!DisplayNamed() || !LoadGtkModule()) return nullptr;
  const osdc::TDisplayScreenSource loaded = osdc::DisplayScreenSource();
  return loaded && loaded != &ScreenThroughTheModule ? loaded() : nullptr;
}

bool BellThroughTheModule() {
  if (!DisplayNamed() || !LoadGtkModule()) return false;
  const osbeep::TDisplayBell loaded = osbeep::DisplayBell();
  return loaded && loaded != &BellThroughTheModule && loaded();
}

// Registered at start-up; a module that a program links is loaded after
// this library and registers its providers over these.
[[maybe_unused]] const bool displayProvidersRegistered = [] {
  osdc::SetDisplayScreenSource(&ScreenThroughTheModule);
  osbeep::SetDisplayBell(&BellThroughTheModule);
  return true;
}();

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
