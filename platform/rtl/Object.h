#pragma once
// The root of the class hierarchy and its metaclasses.
//
// Every framework class declares itself with ZTL_DECLARE_CLASS in its body and
// defines its metaclass in its .cpp: with ZTL_DEFINE_PLAIN_CLASS below when it
// publishes nothing and is made, if at all, by its default constructor (the
// exceptions, threads and locks of this layer), or with ZTL_BEGIN_CLASS ...
// ZTL_END_CLASS of classes/ClassBuilder.h, which lists published properties,
// methods and fields. A metaclass only holds the published properties: what
// they are (TPropInfo) and how they are looked up by name belong to
// classes/TypInfo.h.
//
// Any thread: metaclasses are read-only; the class registry takes its lock.
#include <functional>
#include <memory>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Method.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl {

class TMetaClass;
class TObject;
struct TPropInfo;
using TClass = const TMetaClass*;

// Declares the metaclass accessors of a class; put it first in the class body.
#define ZTL_DECLARE_CLASS(ThisClass, ParentClass)                     \
 public:                                                              \
  using inherited = ParentClass;                                      \
  static ::ztl::TClass StaticClass();                                 \
  ::ztl::TClass ClassType() const override { return StaticClass(); }

class ZTL_PLATFORM_API TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;
  virtual ~TObject() = default;

  static TClass StaticClass();
  virtual TClass ClassType() const { return StaticClass(); }

  String ClassName() const;
  bool InheritsFrom(TClass cls) const;
  template <typename T>
  bool Is() const {
    return InheritsFrom(T::StaticClass());
  }
};

// A published method: its name, its code and its signature.
struct ZTL_PLATFORM_API TMethodEntry {
  String Name;
  TCodePointer Code;
  const std::type_info* Signature;
};

// A published field: a component reference of the class bound by name when a
// stored form is read.
struct ZTL_PLATFORM_API TFieldEntry {
  String Name;
  std::function<void(TObject* instance, TObject* value)> Set;
};

class ZTL_PLATFORM_API TMetaClass {
 public:
  // The virtual constructor. The argument is the owner of a component or the
  // collection of a collection item; other classes ignore it.
  using Constructor = TObject* (*)(TObject* arg);

  // A class that publishes nothing of its own; it has its parent's properties.
  TMetaClass(String name, TClass parent, Constructor constructor);
  // A class with published members. ownProperties are those it declares;
  // allProperties the whole list, inherited ones first, that the builder
  // merged from the parent's list and ownProperties (every entry is kept alive
  // by this class or one of its ancestors).
  TMetaClass(String name, TClass parent, Constructor constructor,
             std::vector<std::shared_ptr<const TPropInfo>> ownProperties,
             std::vector<const TPropInfo*> allProperties, std::vector<TMethodEntry> methods,
             std::vector<TFieldEntry> fields);
  ~TMetaClass();
  TMetaClass(const TMetaClass&) = delete;
  TMetaClass& operator=(const TMetaClass&) = delete;

  const String& ClassName() const { return name_; }
  TClass ClassParent() const { return parent_; }
  bool InheritsFrom(TClass other) const;

  bool CanCreate() const { return constructor_ != nullptr; }
  // Creates an instance through the virtual constructor; raises EAbstractError
  // for a class that cannot be constructed this way.
  TObject* Create(TObject* arg = nullptr) const;

  // Published properties, inherited ones first, in declaration order; looked
  // up by name with GetPropInfo (classes/TypInfo.h).
  const std::vector<const TPropInfo*>& Properties() const { return allProperties_; }
  const TMethodEntry* FindMethod(const String& name) const;
  const TMethodEntry* FindMethodByCode(TCodePointer code) const;
  const TFieldEntry* FindField(const String& name) const;

 private:
  String name_;
  TClass parent_;
  Constructor constructor_;
  std::vector<std::shared_ptr<const TPropInfo>> ownProperties_;
  std::vector<const TPropInfo*> allProperties_;
  std::vector<TMethodEntry> methods_;
  std::vector<TFieldEntry> fields_;
};

// The class registry that stored forms use to find classes by name.
ZTL_PLATFORM_API void RegisterClass(TClass cls);
ZTL_PLATFORM_API void UnRegisterClass(TClass cls);
ZTL_PLATFORM_API TClass GetClass(const String& name);
// Like GetClass, but raises EClassNotFound for an unknown name.
ZTL_PLATFORM_API TClass FindClass(const String& name);

namespace detail {

template <typename C>
TObject* ConstructByDefault(TObject* /*arg*/) {
  return new C();
}

// The virtual constructor of a class that is made by its default constructor,
// or none for an abstract class or one without a default constructor.
template <typename C>
constexpr TMetaClass::Constructor DefaultConstructorOf() {
  if constexpr (std::is_abstract_v<C> || !std::is_default_constructible_v<C>)
    return nullptr;
  else
    return &ConstructByDefault<C>;
}

}  // namespace detail

}  // namespace ztl

// Defines StaticClass() of a class that publishes nothing of its own.
#define ZTL_DEFINE_PLAIN_CLASS(ThisClass, ParentClass)                                                     \
  ::ztl::TClass ThisClass::StaticClass() {                                                                 \
    static const ::ztl::TMetaClass* const meta =                                                           \
        new ::ztl::TMetaClass(#ThisClass, ParentClass::StaticClass(), ::ztl::detail::DefaultConstructorOf<ThisClass>()); \
    return meta;                                                                                           \
  }
