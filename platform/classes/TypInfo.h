#pragma once
// Run-time type information of published properties.
// Any thread; an object's properties from whichever thread may use the object.
#include <cstdint>
#include <functional>
#include <optional>
#include <typeinfo>
#include <vector>

#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Object.h>

namespace ztl {

enum TTypeKind : uint8_t {
  tkBoolean,
  tkInteger,
  tkFloat,
  tkString,
  tkEnumeration,
  tkSet,
  tkPersistent,  // an owned sub-object stored nested (Owner.Prop.Sub = ...)
  tkComponent,   // a reference to another component, stored by name
  tkMethod,      // an event, stored by method name
  tkStrings,     // a string list, stored as ( 'a' 'b' )
  tkCollection,  // a collection, stored as < item ... end >
};

// The names of an enumeration's elements, in ordinal order.
struct ZTL_PLATFORM_API TEnumInfo {
  String TypeName;
  std::vector<String> Names;
  // The ordinal of a name (case-insensitive), or -1.
  int ValueOf(const String& name) const;
};

// Declares the element names of an enumeration next to its definition:
//   enum TZTLogFormatting : uint8_t { ztlfText, ztlfXML };
//   ZTL_ENUM_NAMES(TZTLogFormatting, "ztlfText", "ztlfXML");
#define ZTL_ENUM_NAMES(Enum, ...)                                                      \
  ZTL_VISIBLE inline const ::ztl::TEnumInfo& EnumTypeInfo(Enum) {                                  \
    static const ::ztl::TEnumInfo info{#Enum, {__VA_ARGS__}};                          \
    return info;                                                                       \
  }

struct ZTL_PLATFORM_API TPropInfo {
  String Name;
  TTypeKind Kind = tkInteger;
  const TEnumInfo* EnumInfo = nullptr;          // enumerations and sets
  TClass (*PropClassOf)() = nullptr;            // object kinds; a function, as a class may refer to itself
  const std::type_info* MethodSignature = nullptr;  // events

  // Accessors by kind; a missing setter makes the property read-only.
  std::function<int64_t(const TObject*)> GetOrd;  // boolean, integer, enumeration, set bits
  std::function<void(TObject*, int64_t)> SetOrd;
  std::function<double(const TObject*)> GetFloat;
  std::function<void(TObject*, double)> SetFloat;
  std::function<String(const TObject*)> GetStr;
  std::function<void(TObject*, const String&)> SetStr;
  std::function<TObject*(const TObject*)> GetObject;
  std::function<void(TObject*, TObject*)> SetObject;
  std::function<TMethod(const TObject*)> GetMethod;
  std::function<void(TObject*, const TMethod&)> SetMethod;

  // The values an integer property's type holds; others do not fit it.
  int64_t MinValue = INT64_MIN;
  int64_t MaxValue = INT64_MAX;

  // Declared default: a value equal to it is not stored.
  std::optional<int64_t> OrdDefault;
  std::optional<String> StrDefault;
  // Stored test; when present it decides alone.
  std::function<bool(const TObject*)> StoredTest;

  TClass PropClass() const { return PropClassOf ? PropClassOf() : nullptr; }
  bool IsOrdinal() const { return Kind <= tkInteger || Kind == tkEnumeration || Kind == tkSet; }
  bool IsWritable() const;
  // Whether the writer stores the property of instance.
  bool IsStored(const TObject* instance) const;
};

// Lookup by name; nullptr when the class publishes no such property.
ZTL_PLATFORM_API const TPropInfo* GetPropInfo(const TObject* instance, const String& name);
ZTL_PLATFORM_API const TPropInfo* GetPropInfo(TClass cls, const String& name);

// Reading and writing by name; an unknown property or a mismatched kind raises
// EPropertyError.
ZTL_PLATFORM_API int64_t GetOrdProp(const TObject* instance, const String& name);
ZTL_PLATFORM_API void SetOrdProp(TObject* instance, const String& name, int64_t value);
ZTL_PLATFORM_API String GetStrProp(const TObject* instance, const String& name);
ZTL_PLATFORM_API void SetStrProp(TObject* instance, const String& name, const String& value);
ZTL_PLATFORM_API double GetFloatProp(const TObject* instance, const String& name);
ZTL_PLATFORM_API void SetFloatProp(TObject* instance, const String& name, double value);
ZTL_PLATFORM_API TObject* GetObjectProp(const TObject* instance, const String& name);
ZTL_PLATFORM_API void SetObjectProp(TObject* instance, const String& name, TObject* value);
ZTL_PLATFORM_API TMethod GetMethodProp(const TObject* instance, const String& name);
ZTL_PLATFORM_API void SetMethodProp(TObject* instance, const String& name, const TMethod& value);
ZTL_PLATFORM_API String GetEnumProp(const TObject* instance, const String& name);
ZTL_PLATFORM_API void SetEnumProp(TObject* instance, const String& name, const String& value);

// The name of an element, or an empty string when out of range.
ZTL_PLATFORM_API String GetEnumName(const TEnumInfo& info, int64_t value);
ZTL_PLATFORM_API int GetEnumValue(const TEnumInfo& info, const String& name);
// A set's value as "[a,b]" and back.
ZTL_PLATFORM_API String SetToString(const TEnumInfo& info, uint64_t bits, bool brackets = true);
ZTL_PLATFORM_API uint64_t StringToSet(const TEnumInfo& info, const String& text);

}  // namespace ztl
