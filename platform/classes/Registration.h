#pragma once
// Component registration for the design environment: components on palette
// pages, and modules loaded as packages that register their components.
// Registering a component also registers its class for stored forms.
//
// A package is a shared library that exports, with C linkage, the entry
// `ZTL_Register` (no arguments, no result) that calls the package's own
// `Register`; ZTL_PACKAGE_REGISTER(Register) in one of its .cpp files defines
// it. LoadPackage calls it once per module however often the module is
// loaded, and everything RegisterComponents records during that call belongs
// to the package until UnloadPackage releases its last load.
//
// Any thread: the palette takes its own lock; packages load one at a time.
#include <initializer_list>
#include <vector>

#include <ztlogger/platform/classes/Resources.h>
#include <ztlogger/platform/os/WinNames.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Object.h>

namespace ztl {

class TComponent;

struct ZTL_PLATFORM_API TPaletteEntry {
  String Page;
  TClass ComponentClass;
  // The package whose Register made the entry; nullptr for entries made
  // outside a package's registration.
  HMODULE Package = nullptr;
};

// Puts the classes on the page, in order. Raises EComponentError, and
// records nothing, when one of them is no component class.
ZTL_PLATFORM_API void RegisterComponents(const String& Page, std::initializer_list<TClass> ComponentClasses);
// What the design environment shows, in registration order.
ZTL_PLATFORM_API std::vector<TPaletteEntry> RegisteredComponents();
// The registered component class of that name (case-insensitive), or nullptr.
ZTL_PLATFORM_API TClass FindComponentClass(const String& ClassName);
// Forgets every palette entry (the design environment unloading its modules).
ZTL_PLATFORM_API void ClearRegisteredComponents();

// The name of the entry a package exports.
inline constexpr const char* PackageRegisterName = "ZTL_Register";

// Loads the module at FileName as a package. The first load calls its
// Register; a module already loaded as a package (or linked into the
// program) is counted, not registered again. Raises EPackageError naming the
// file and the reason for a missing file, a file that is no module, or a
// module without the entry; the module is not kept then, and whatever its
// Register recorded before raising is removed again.
ZTL_PLATFORM_API HMODULE LoadPackage(const String& FileName);
// Releases one load; the last removes the package's palette entries and the
// classes its registration added, and unloads the module. Raises
// EPackageError for a handle LoadPackage did not give.
ZTL_PLATFORM_API void UnloadPackage(HMODULE Module);
// The module resources that the package's own module holds.
ZTL_PLATFORM_API std::vector<const TResourceEntry*> PackageResources(HMODULE Module);

// Creates a component of a registered class as the design environment does:
// owned by Root, which is put into design state, so that the component is
// in design state from its constructor on. Raises EClassNotFound for a name
// no registered component has.
ZTL_PLATFORM_API TComponent* CreateDesignComponent(const String& ClassName, TComponent* Root);

}  // namespace ztl

// Defines the entry a package exports, calling Register (a function of the
// package taking no arguments).
#define ZTL_PACKAGE_REGISTER(Register) \
  extern "C" ZTL_DLL_EXPORT void ZTL_Register() { Register(); }
