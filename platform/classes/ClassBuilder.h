#pragma once
// Defining metaclasses: the published properties and methods of a class.
//
//   ZTL_BEGIN_CLASS(TZTLogBase, TComponent)
//     .Property("Active", &TZTLogBase::Active, &TZTLogBase::SetActive)
//     .Property("LogFile", &TZTLogBase::LogFile, &TZTLogBase::SetLogFile)
//     .Property("Formatting", &TZTLogBase::Formatting, &TZTLogBase::SetFormatting).Default(ztlfText)
//   ZTL_END_CLASS
//
// The kind of a property follows from its C++ type: bool, integers, double,
// String, enumerations with ZTL_ENUM_NAMES, TSet over such an enumeration,
// pointers to persistent objects (string lists, collections and components
// have kinds of their own) and method references.
//
// Any thread: a metaclass is built once, at the first StaticClass call.
#include <algorithm>
#include <limits>
#include <type_traits>
#include <typeinfo>

#include <ztlogger/platform/classes/Collection.h>
#include <ztlogger/platform/classes/Component.h>
#include <ztlogger/platform/classes/Set.h>
#include <ztlogger/platform/classes/Strings.h>
#include <ztlogger/platform/classes/TypInfo.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

namespace detail {

template <typename T>
struct IsSet : std::false_type {};
template <typename E, int N>
struct IsSet<TSet<E, N>> : std::true_type {};

template <typename T>
struct IsMethodRef : std::false_type {};
template <typename S>
struct IsMethodRef<TMethodRef<S>> : std::true_type {};

template <typename T>
using Bare = std::remove_cvref_t<T>;

template <typename C>
TObject* ConstructInstance(TObject* arg) {
  if constexpr (std::is_abstract_v<C>) {
    return nullptr;
  } else if constexpr (std::is_constructible_v<C, TComponent*> && std::is_base_of_v<TComponent, C>) {
    return new C(static_cast<TComponent*>(arg));
  } else if constexpr (std::is_constructible_v<C, TCollection*> && std::is_base_of_v<TCollectionItem, C>) {
    return new C(static_cast<TCollection*>(arg));
  } else if constexpr (std::is_default_constructible_v<C>) {
    return new C();
  } else {
    return nullptr;
  }
}

template <typename C>
constexpr TMetaClass::Constructor ConstructorOf() {
  if constexpr (std::is_abstract_v<C> || !(std::is_constructible_v<C, TComponent*> ||
                                           std::is_constructible_v<C, TCollection*> ||
                                           std::is_default_constructible_v<C>)) {
    return nullptr;
  } else {
    return &ConstructInstance<C>;
  }
}

}  // namespace detail

template <typename C>
class TClassBuilder {
 public:
  TClassBuilder(const char* name, TClass parent) : name_(name), parent_(parent) {}

  // A published property read by getter and written by setter (nullptr for a
  // read-only property, such as an owned sub-object).
  template <typename G, typename S = std::nullptr_t>
  TClassBuilder& Property(const char* name, G getter, S setter = nullptr) {
    using T = detail::Bare<decltype((std::declval<const C*>()->*getter)())>;
    auto info = std::make_unique<TPropInfo>();
    info->Name = name;
    Describe<T>(*info, getter, setter);
    properties_.push_back(std::move(info));
    return *this;
  }

  // The declared default of the last property.
  template <typename V>
  TClassBuilder& Default(V value) {
    TPropInfo& p = *properties_.back();
    if constexpr (detail::IsSet<V>::value) {
      p.OrdDefault = static_cast<int64_t>(value.Bits());
    } else if constexpr (std::is_convertible_v<V, String> && !std::is_arithmetic_v<V>) {
      p.StrDefault = String(value);
    } else {
      p.OrdDefault = static_cast<int64_t>(value);
    }
    return *this;
  }

  // The stored test of the last property: a const member function of C.
  TClassBuilder& Stored(bool (C::*test)() const) {
    properties_.back()->StoredTest = [test](const TObject* o) { return (static_cast<const C*>(o)->*test)(); };
    return *this;
  }
  TClassBuilder& NeverStored() {
    properties_.back()->StoredTest = [](const TObject*) { return false; };
    return *this;
  }

  // A published method, bound by name when a stored form is read.
  template <auto Member>
  TClassBuilder& Method(const char* name) {
    auto ref = MakeMethod<Member>(static_cast<C*>(nullptr));
    using Signature = typename detail::MemberTraits<decltype(Member)>::Signature;
    methods_.push_back(TMethodEntry{name, ref.Method().Code, &typeid(Signature)});
    return *this;
  }

  // A published field: set to the owned component of that name when a stored
  // form is read.
  template <typename F>
  TClassBuilder& Field(const char* name, F* C::*member) {
    static_assert(std::is_base_of_v<TComponent, F>, "published fields hold components");
    fields_.push_back(TFieldEntry{name, [member](TObject* instance, TObject* value) {
                                    static_cast<C*>(instance)->*member = dynamic_cast<F*>(value);
                                  }});
    return *this;
  }

  TMetaClass* Build() {
    std::vector<std::shared_ptr<const TPropInfo>> own;
    std::vector<const TPropInfo*> all;
    if (parent_) all = parent_->Properties();
    for (auto& p : properties_) {
      // A redeclared property replaces the inherited one in its place.
      auto same = std::find_if(all.begin(), all.end(), [&](const TPropInfo* q) { return SameText(q->Name, p->Name); });
      if (same != all.end())
        *same = p.get();
      else
        all.push_back(p.get());
      // Made into a shared_ptr here, where TPropInfo is complete: the metaclass
      // frees it without knowing the type.
      own.push_back(std::shared_ptr<const TPropInfo>(std::move(p)));
    }
    return new TMetaClass(name_, parent_, detail::ConstructorOf<C>(), std::move(own), std::move(all),
                          std::move(methods_), std::move(fields_));
  }

 private:
  template <typename T, typename G, typename S>
  void Describe(TPropInfo& p, G getter, S setter) {
    constexpr bool writable = !std::is_same_v<S, std::nullptr_t>;
    auto get = [getter](const TObject* o) -> decltype(auto) { return (static_cast<const C*>(o)->*getter)(); };
    if constexpr (std::is_same_v<T, bool>) {
      p.Kind = tkBoolean;
      p.GetOrd = [get](const TObject* o) -> int64_t { return get(o) ? 1 : 0; };
      if constexpr (writable) p.SetOrd = [setter](TObject* o, int64_t v) { (static_cast<C*>(o)->*setter)(v != 0); };
    } else if constexpr (std::is_enum_v<T>) {
      p.Kind = tkEnumeration;
      p.EnumInfo = &EnumTypeInfo(T{});
      p.GetOrd = [get](const TObject* o) -> int64_t { return static_cast<int64_t>(get(o)); };
      if constexpr (writable)
        p.SetOrd = [setter](TObject* o, int64_t v) { (static_cast<C*>(o)->*setter)(static_cast<T>(v)); };
    } else if constexpr (std::is_integral_v<T>) {
      p.Kind = tkInteger;
      p.MinValue = static_cast<int64_t>(std::numeric_limits<T>::min());
      p.MaxValue = static_cast<int64_t>(std::min<uint64_t>(std::numeric_limits<T>::max(), INT64_MAX));
      p.GetOrd = [get](const TObject* o) -> int64_t { return static_cast<int64_t>(get(o)); };
      if constexpr (writable)
        p.SetOrd = [setter](TObject* o, int64_t v) { (static_cast<C*>(o)->*setter)(static_cast<T>(v)); };
    } else if constexpr (std::is_floating_point_v<T>) {
      p.Kind = tkFloat;
      p.GetFloat = [get](const TObject* o) -> double { return get(o); };
      if constexpr (writable) p.SetFloat = [setter](TObject* o, double v) { (static_cast<C*>(o)->*setter)(v); };
    } else if constexpr (std::is_same_v<T, String>) {
      p.Kind = tkString;
      p.GetStr = [get](const TObject* o) -> String { return get(o); };
      if constexpr (writable)
        p.SetStr = [setter](TObject* o, const String& v) { (static_cast<C*>(o)->*setter)(v); };
    } else if constexpr (detail::IsSet<T>::value) {
      p.Kind = tkSet;
      p.EnumInfo = &EnumTypeInfo(typename T::Element{});
      p.GetOrd = [get](const TObject* o) -> int64_t { return static_cast<int64_t>(get(o).Bits()); };
      if constexpr (writable)
        p.SetOrd = [setter](TObject* o, int64_t v) {
          (static_cast<C*>(o)->*setter)(T::FromBits(static_cast<uint64_t>(v)));
        };
    } else if constexpr (detail::IsMethodRef<T>::value) {
      p.Kind = tkMethod;
      p.MethodSignature = &typeid(typename MethodSignatureOf<T>::Type);
      p.GetMethod = [get](const TObject* o) -> TMethod { return get(o).Method(); };
      if constexpr (writable)
        p.SetMethod = [setter](TObject* o, const TMethod& v) { (static_cast<C*>(o)->*setter)(T::FromMethod(v)); };
    } else if constexpr (std::is_pointer_v<T> && std::is_base_of_v<TPersistent, std::remove_pointer_t<T>>) {
      using O = std::remove_pointer_t<T>;
      p.Kind = std::is_base_of_v<TComponent, O>     ? tkComponent
               : std::is_base_of_v<TStrings, O>     ? tkStrings
               : std::is_base_of_v<TCollection, O>  ? tkCollection
                                                    : tkPersistent;
      p.PropClassOf = &O::StaticClass;
      p.GetObject = [get](const TObject* o) -> TObject* { return get(o); };
      if constexpr (writable)
        p.SetObject = [setter](TObject* o, TObject* v) { (static_cast<C*>(o)->*setter)(dynamic_cast<T>(v)); };
    } else {
      static_assert(sizeof(T) == 0, "unsupported property type");
    }
  }

  template <typename M>
  struct MethodSignatureOf;
  template <typename S>
  struct MethodSignatureOf<TMethodRef<S>> {
    using Type = S;
  };

  const char* name_;
  TClass parent_;
  std::vector<std::unique_ptr<TPropInfo>> properties_;
  std::vector<TMethodEntry> methods_;
  std::vector<TFieldEntry> fields_;
};

}  // namespace ztl

// Defines StaticClass() of ThisClass; the builder calls follow, then ZTL_END_CLASS.
#define ZTL_BEGIN_CLASS(ThisClass, ParentClass)                                         \
  ::ztl::TClass ThisClass::StaticClass() {                                             \
    using Self = ThisClass;                                                            \
    static const ::ztl::TMetaClass* const meta = ::ztl::TClassBuilder<Self>(#ThisClass, ParentClass::StaticClass())
#define ZTL_END_CLASS \
  .Build();           \
  return meta;        \
  }
// A class that publishes nothing of its own.
#define ZTL_DEFINE_CLASS(ThisClass, ParentClass) ZTL_BEGIN_CLASS(ThisClass, ParentClass) ZTL_END_CLASS
