#pragma once
// The root of the class hierarchy and its metaclasses.
//
// Every framework class declares itself with ZTL_DECLARE_CLASS in its body and
// defines its metaclass in its .cpp with ZTL_BEGIN_CLASS ... ZTL_END_CLASS
// (see ClassBuilder.h), listing its published properties and methods.
#include <functional>
#include <memory>
#include <vector>

#include "platform/classes/Method.h"
#include "platform/rtl/Types.h"

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

class TObject {
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
struct TMethodEntry {
  String Name;
  TCodePointer Code;
  const std::type_info* Signature;
};

// A published field: a component reference of the class bound by name when a
// stored form is read.
struct TFieldEntry {
  String Name;
  std::function<void(TObject* instance, TObject* value)> Set;
};

class TMetaClass {
 public:
  // The virtual constructor. The argument is the owner of a component or the
  // collection of a collection item; other classes ignore it.
  using Constructor = TObject* (*)(TObject* arg);

  TMetaClass(String name, TClass parent, Constructor constructor, std::vector<std::unique_ptr<TPropInfo>> properties,
             std::vector<TMethodEntry> methods, std::vector<TFieldEntry> fields);
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

  // Published properties, inherited ones first, in declaration order.
  const std::vector<const TPropInfo*>& Properties() const { return allProperties_; }
  const TPropInfo* FindProperty(const String& name) const;
  const TMethodEntry* FindMethod(const String& name) const;
  const TMethodEntry* FindMethodByCode(TCodePointer code) const;
  const TFieldEntry* FindField(const String& name) const;

 private:
  String name_;
  TClass parent_;
  Constructor constructor_;
  std::vector<std::unique_ptr<TPropInfo>> ownProperties_;
  std::vector<const TPropInfo*> allProperties_;
  std::vector<TMethodEntry> methods_;
  std::vector<TFieldEntry> fields_;
};

// The class registry that stored forms use to find classes by name.
void RegisterClass(TClass cls);
void UnRegisterClass(TClass cls);
TClass GetClass(const String& name);
// Like GetClass, but raises EClassNotFound for an unknown name.
TClass FindClass(const String& name);

}  // namespace ztl
