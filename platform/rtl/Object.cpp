#include <ztlogger/platform/rtl/Object.h>

#include <map>
#include <mutex>

#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

TClass TObject::StaticClass() {
  static const TMetaClass* const meta = new TMetaClass("TObject", nullptr, nullptr);
  return meta;
}

String TObject::ClassName() const { return ClassType()->ClassName(); }

bool TObject::InheritsFrom(TClass cls) const { return ClassType()->InheritsFrom(cls); }

TMetaClass::TMetaClass(String name, TClass parent, Constructor constructor)
    : name_(std::move(name)), parent_(parent), constructor_(constructor) {
  if (parent_) allProperties_ = parent_->Properties();
}

TMetaClass::TMetaClass(String name, TClass parent, Constructor constructor,
                       std::vector<std::shared_ptr<const TPropInfo>> ownProperties,
                       std::vector<const TPropInfo*> allProperties, std::vector<TMethodEntry> methods,
                       std::vector<TFieldEntry> fields)
    : name_(std::move(name)),
      parent_(parent),
      constructor_(constructor),
      ownProperties_(std::move(ownProperties)),
      allProperties_(std::move(allProperties)),
      methods_(std::move(methods)),
      fields_(std::move(fields)) {}

TMetaClass::~TMetaClass() = default;

bool TMetaClass::InheritsFrom(TClass other) const {
  for (TClass c = this; c; c = c->parent_)
    if (c == other) return true;
  return false;
}

TObject* TMetaClass::Create(TObject* arg) const {
  if (!constructor_) throw EAbstractError("Cannot create an instance of " + name_);
  return constructor_(arg);
}

const TMethodEntry* TMetaClass::FindMethod(const String& name) const {
  for (TClass c = this; c; c = c->parent_)
    for (const TMethodEntry& m : c->methods_)
      if (SameText(m.Name, name)) return &m;
  return nullptr;
}

const TMethodEntry* TMetaClass::FindMethodByCode(TCodePointer code) const {
  for (TClass c = this; c; c = c->parent_)
    for (const TMethodEntry& m : c->methods_)
      if (m.Code == code) return &m;
  return nullptr;
}

const TFieldEntry* TMetaClass::FindField(const String& name) const {
  for (TClass c = this; c; c = c->parent_)
    for (const TFieldEntry& f : c->fields_)
      if (SameText(f.Name, name)) return &f;
  return nullptr;
}

namespace {

struct ClassRegistry {
  std::mutex lock;
  std::map<String, TClass> byName;  // upper-case names
};

ClassRegistry& Registry() {
  static ClassRegistry registry;
  return registry;
}

}  // namespace

void RegisterClass(TClass cls) {
  auto& r = Registry();
  std::lock_guard guard(r.lock);
  r.byName[UpperCase(cls->ClassName())] = cls;
}

void UnRegisterClass(TClass cls) {
  auto& r = Registry();
  std::lock_guard guard(r.lock);
  auto it = r.byName.find(UpperCase(cls->ClassName()));
  if (it != r.byName.end() && it->second == cls) r.byName.erase(it);
}

TClass GetClass(const String& name) {
  auto& r = Registry();
  std::lock_guard guard(r.lock);
  auto it = r.byName.find(UpperCase(name));
  return it == r.byName.end() ? nullptr : it->second;
}

TClass FindClass(const String& name) {
  TClass cls = GetClass(name);
  if (!cls) throw EClassNotFound("Class " + name + " not found");
  return cls;
}

}  // namespace ztl
