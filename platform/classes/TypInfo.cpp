#include <ztlogger/platform/classes/TypInfo.h>

#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

int TEnumInfo::ValueOf(const String& name) const {
  for (size_t i = 0; i < Names.size(); ++i)
    if (SameText(Names[i], name)) return static_cast<int>(i);
  return -1;
}

bool TPropInfo::IsWritable() const {
  switch (Kind) {
    case tkFloat: return static_cast<bool>(SetFloat);
    case tkString: return static_cast<bool>(SetStr);
    case tkPersistent:
    case tkStrings:
    case tkCollection:
    case tkComponent: return static_cast<bool>(SetObject);
    case tkMethod: return static_cast<bool>(SetMethod);
    default: return static_cast<bool>(SetOrd);
  }
}

bool TPropInfo::IsStored(const TObject* instance) const {
  if (StoredTest) return StoredTest(instance);
  switch (Kind) {
    case tkFloat: return GetFloat(instance) != 0.0;
    case tkString: return GetStr(instance) != StrDefault.value_or(String());
    case tkMethod: return GetMethod(instance).Code != nullptr;
    case tkComponent: return GetObject(instance) != nullptr;
    case tkPersistent:
    case tkStrings:
    case tkCollection: return GetObject(instance) != nullptr;
    default: return !OrdDefault || GetOrd(instance) != *OrdDefault;
  }
}

const TPropInfo* GetPropInfo(TClass cls, const String& name) {
  if (!cls) return nullptr;
  for (const TPropInfo* p : cls->Properties())
    if (SameText(p->Name, name)) return p;
  return nullptr;
}

const TPropInfo* GetPropInfo(const TObject* instance, const String& name) {
  return instance ? GetPropInfo(instance->ClassType(), name) : nullptr;
}

namespace {

const TPropInfo& Require(const TObject* instance, const String& name) {
  const TPropInfo* p = GetPropInfo(instance, name);
  if (!p) throw EPropertyError("Property " + name + " does not exist");
  return *p;
}

[[noreturn]] void KindMismatch(const TPropInfo& p) { throw EPropertyError("Invalid property type: " + p.Name); }

[[noreturn]] void ReadOnly(const TPropInfo& p) { throw EPropReadOnly("Property " + p.Name + " is read-only"); }

}  // namespace

int64_t GetOrdProp(const TObject* instance, const String& name) {
  const TPropInfo& p = Require(instance, name);
  if (!p.GetOrd) KindMismatch(p);
  return p.GetOrd(instance);
}

void SetOrdProp(TObject* instance, const String& name, int64_t value) {
  const TPropInfo& p = Require(instance, name);
  if (!p.IsOrdinal()) KindMismatch(p);
  if (!p.SetOrd) ReadOnly(p);
  p.SetOrd(instance, value);
}

String GetStrProp(const TObject* instance, const String& name) {
  const TPropInfo& p = Require(instance, name);
  if (p.Kind != tkString) KindMismatch(p);
  return p.GetStr(instance);
}

void SetStrProp(TObject* instance, const String& name, const String& value) {
  const TPropInfo& p = Require(instance, name);
  if (p.Kind != tkString) KindMismatch(p);
  if (!p.SetStr) ReadOnly(p);
  p.SetStr(instance, value);
}

double GetFloatProp(const TObject* instance, const String& name) {
  const TPropInfo& p = Require(instance, name);
  if (p.Kind != tkFloat) KindMismatch(p);
  return p.GetFloat(instance);
}

void SetFloatProp(TObject* instance, const String& name, double value) {
  const TPropInfo& p = Require(instance, name);
  if (p.Kind != tkFloat) KindMismatch(p);
  if (!p.SetFloat) ReadOnly(p);
  p.SetFloat(instance, value);
}

TObject* GetObjectProp(const TObject* instance, const String& name) {
  const TPropInfo& p = Require(instance, name);
  if (!p.GetObject) KindMismatch(p);
  return p.GetObject(instance);
}

void SetObjectProp(TObject* instance, const String& name, TObject* value) {
  const TPropInfo& p = Require(instance, name);
  if (!p.GetObject) KindMismatch(p);
  if (!p.SetObject) ReadOnly(p);
  p.SetObject(instance, value);
}

TMethod GetMethodProp(const TObject* instance, const String& name) {
  const TPropInfo& p = Require(instance, name);
  if (p.Kind != tkMethod) KindMismatch(p);
  return p.GetMethod(instance);
}

void SetMethodProp(TObject* instance, const String& name, const TMethod& value) {
  const TPropInfo& p = Require(instance, name);
  if (p.Kind != tkMethod) KindMismatch(p);
  if (!p.SetMethod) ReadOnly(p);
  p.SetMethod(instance, value);
}

String GetEnumProp(const TObject* instance, const String& name) {
  const TPropInfo& p = Require(instance, name);
  if (p.Kind == tkBoolean) return p.GetOrd(instance) ? "True" : "False";
  if (p.Kind != tkEnumeration) KindMismatch(p);
  return GetEnumName(*p.EnumInfo, p.GetOrd(instance));
}

void SetEnumProp(TObject* instance, const String& name, const String& value) {
  const TPropInfo& p = Require(instance, name);
  int ordinal = -1;
  if (p.Kind == tkBoolean)
    ordinal = SameText(value, "True") ? 1 : SameText(value, "False") ? 0 : -1;
  else if (p.Kind == tkEnumeration)
    ordinal = p.EnumInfo->ValueOf(value);
  else
    KindMismatch(p);
  if (ordinal < 0) throw EPropertyError("Invalid property value " + value + " for " + p.Name);
  if (!p.SetOrd) ReadOnly(p);
  p.SetOrd(instance, ordinal);
}

String GetEnumName(const TEnumInfo& info, int64_t value) {
  if (value < 0 || value >= static_cast<int64_t>(info.Names.size())) return {};
  return info.Names[static_cast<size_t>(value)];
}

int GetEnumValue(const TEnumInfo& info, const String& name) { return info.ValueOf(name); }

String SetToString(const TEnumInfo& info, uint64_t bits, bool brackets) {
  String text;
  for (size_t i = 0; i < info.Names.size() && i < 64; ++i) {
    if (!(bits & (uint64_t{1} << i))) continue;
    if (!text.empty()) text += ',';
    text += info.Names[i];
  }
  return brackets ? "[" + text + "]" : text;
}

uint64_t StringToSet(const TEnumInfo& info, const String& text) {
  String body = Trim(text);
  if (!body.empty() && body.front() == '[') body.erase(0, 1);
  if (!body.empty() && body.back() == ']') body.pop_back();
  uint64_t bits = 0;
  size_t start = 0;
  while (start <= body.size()) {
    size_t comma = body.find(',', start);
    String name = Trim(body.substr(start, comma == String::npos ? String::npos : comma - start));
    if (!name.empty()) {
      int value = info.ValueOf(name);
      if (value < 0) throw EPropertyError("Invalid property element: " + name);
      bits |= uint64_t{1} << value;
    }
    if (comma == String::npos) break;
    start = comma + 1;
  }
  return bits;
}

}  // namespace ztl
