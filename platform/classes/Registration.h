#pragma once
// Component registration for the design environment: components on palette
// pages. Registering a component also registers its class for stored forms.
#include <initializer_list>
#include <vector>

#include "platform/rtl/Object.h"

namespace ztl {

struct TPaletteEntry {
  String Page;
  TClass ComponentClass;
};

void RegisterComponents(const String& Page, std::initializer_list<TClass> ComponentClasses);
// What the design environment shows, in registration order.
std::vector<TPaletteEntry> RegisteredComponents();
// Forgets every palette entry (the design environment unloading its modules).
void ClearRegisteredComponents();

}  // namespace ztl
