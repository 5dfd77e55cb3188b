#include "platform/classes/Registration.h"

#include <mutex>

#include "platform/classes/Component.h"
#include "platform/rtl/Exceptions.h"

namespace ztl {

namespace {

struct Palette {
  std::mutex lock;
  std::vector<TPaletteEntry> entries;
};

Palette& ThePalette() {
  static Palette palette;
  return palette;
}

}  // namespace

void RegisterComponents(const String& Page, std::initializer_list<TClass> ComponentClasses) {
  for (TClass cls : ComponentClasses)
    if (!cls || !cls->InheritsFrom(TComponent::StaticClass()))
      throw EComponentError("Only components can be registered on a palette page");
  auto& p = ThePalette();
  std::lock_guard guard(p.lock);
  for (TClass cls : ComponentClasses) {
    RegisterClass(cls);
    p.entries.push_back(TPaletteEntry{Page, cls});
  }
}

std::vector<TPaletteEntry> RegisteredComponents() {
  auto& p = ThePalette();
  std::lock_guard guard(p.lock);
  return p.entries;
}

void ClearRegisteredComponents() {
  auto& p = ThePalette();
  std::lock_guard guard(p.lock);
  p.entries.clear();
}

}  // namespace ztl
