#pragma once
// Component registration for the design environment: components on palette
// pages. Registering a component also registers its class for stored forms.
#include <initializer_list>
#include <vector>

#include "platform/rtl/Export.h"
#include "platform/rtl/Object.h"

namespace ztl {

struct ZTL_PLATFORM_API TPaletteEntry {
  String Page;
  TClass ComponentClass;
};

ZTL_PLATFORM_API void RegisterComponents(const String& Page, std::initializer_list<TClass> ComponentClasses);
// What the design environment shows, in registration order.
ZTL_PLATFORM_API std::vector<TPaletteEntry> RegisteredComponents();
// Forgets every palette entry (the design environment unloading its modules).
ZTL_PLATFORM_API void ClearRegisteredComponents();

}  // namespace ztl
