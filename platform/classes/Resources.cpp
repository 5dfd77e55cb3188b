#include <ztlogger/platform/classes/Resources.h>

#include <map>
#include <mutex>
#include <vector>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

ZTL_DEFINE_CLASS(TResourceStream, TMemoryStream)

namespace {

struct ResourceTable {
  std::mutex lock;
  std::multimap<String, std::pair<const char*, const TResourceEntry*>> byName;  // name -> (module, entry)
};

ResourceTable& Table() {
  static ResourceTable* table = new ResourceTable;  // outlives every module's unregistration
  return *table;
}

}  // namespace

TResourceRegistration::TResourceRegistration(const char* Module, const TResourceEntry* Entries, size_t Count)
    : module_(Module) {
  auto& t = Table();
  std::lock_guard guard(t.lock);
  for (size_t i = 0; i < Count; ++i) t.byName.emplace(UpperCase(Entries[i].Name), std::make_pair(Module, &Entries[i]));
}

TResourceRegistration::~TResourceRegistration() {
  auto& t = Table();
  std::lock_guard guard(t.lock);
  for (auto it = t.byName.begin(); it != t.byName.end();)
    it = it->second.first == module_ ? t.byName.erase(it) : std::next(it);
}

std::vector<const TResourceEntry*> ResourceEntries() {
  auto& t = Table();
  std::lock_guard guard(t.lock);
  std::vector<const TResourceEntry*> entries;
  for (const auto& [name, entry] : t.byName) entries.push_back(entry.second);
  return entries;
}

const TResourceEntry* FindResourceEntry(const String& Name) {
  auto& t = Table();
  std::lock_guard guard(t.lock);
  auto it = t.byName.find(UpperCase(Name));
  return it == t.byName.end() ? nullptr : it->second.second;
}

const TResourceEntry* FindResourceEntry(const String& Module, const String& Name) {
  auto& t = Table();
  std::lock_guard guard(t.lock);
  auto [first, last] = t.byName.equal_range(UpperCase(Name));
  for (auto it = first; it != last; ++it)
    if (Module == it->second.first) return it->second.second;
  return nullptr;
}

TResourceStream::TResourceStream(const String& Name) { Load(FindResourceEntry(Name), Name); }

TResourceStream::TResourceStream(const String& Module, const String& Name) {
  Load(FindResourceEntry(Module, Name), Name);
}

void TResourceStream::Load(const TResourceEntry* entry, const String& Name) {
  if (!entry) throw EResNotFound("Resource " + Name + " not found");
  Write(entry->Data, static_cast<int64_t>(entry->Size));
  SetPosition(0);
}

}  // namespace ztl
