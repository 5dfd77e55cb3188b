#pragma once
// Method references: the pair (object, code) behind events and saved handlers.
#include <type_traits>
#include <utility>

#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

class TObject;

// Type-erased code address; each bound member function has its own.
using TCodePointer = void (*)();

struct ZTL_PLATFORM_API TMethod {
  TCodePointer Code = nullptr;
  TObject* Data = nullptr;
  bool operator==(const TMethod&) const = default;
};

namespace detail {
template <typename MemberPointer>
struct MemberTraits;
template <typename C, typename R, typename... A>
struct MemberTraits<R (C::*)(A...)> {
  using Class = C;
  using Signature = R(A...);
};
}  // namespace detail

// Clang gives the members of a partial specialization the visibility of the
// primary template (GCC that of the specialization): the trampolines below
// are one per process only when the primary template is visible too.
#if defined(__clang__)
template <typename Signature>
class ZTL_VISIBLE TMethodRef;
#else
template <typename Signature>
class TMethodRef;
#endif

// An event type: assigned when its code is set; called only when assigned.
template <typename R, typename... A>
class ZTL_VISIBLE TMethodRef<R(A...)> {
 public:
  using Thunk = R (*)(TObject*, A...);

  TMethodRef() = default;
  TMethodRef(std::nullptr_t) {}

  // Binds member function Member of obj: MakeMethod<&TForm1::Click>(form).
  template <auto Member>
  static TMethodRef Bind(typename detail::MemberTraits<decltype(Member)>::Class* obj) {
    using C = typename detail::MemberTraits<decltype(Member)>::Class;
    static_assert(std::is_same_v<typename detail::MemberTraits<decltype(Member)>::Signature, R(A...)>,
                  "member signature does not match the event type");
    TMethodRef ref;
    ref.code_ = &Trampoline<Member, C>;
    ref.data_ = obj;
    return ref;
  }

  static TMethodRef FromMethod(const TMethod& m) {
    TMethodRef ref;
    ref.code_ = reinterpret_cast<Thunk>(m.Code);
    ref.data_ = m.Data;
    return ref;
  }
  TMethod Method() const { return TMethod{reinterpret_cast<TCodePointer>(code_), data_}; }

  bool Assigned() const { return code_ != nullptr; }
  explicit operator bool() const { return Assigned(); }
  TObject* Data() const { return data_; }

  R operator()(A... args) const { return code_(data_, std::forward<A>(args)...); }

  bool operator==(const TMethodRef& other) const { return code_ == other.code_ && data_ == other.data_; }

 private:
  // One code address per bound member in the whole process: the trampoline
  // is visible from every module and defined outside the class, as inline
  // member functions are hidden in the libraries.
  template <auto Member, typename C>
  static R Trampoline(TObject* obj, A... args);

  Thunk code_ = nullptr;
  TObject* data_ = nullptr;
};

template <typename R, typename... A>
template <auto Member, typename C>
R TMethodRef<R(A...)>::Trampoline(TObject* obj, A... args) {
  return (static_cast<C*>(obj)->*Member)(std::forward<A>(args)...);
}

// MakeMethod<&TClass::Handler>(object) gives the method reference of the handler.
template <auto Member>
auto MakeMethod(typename detail::MemberTraits<decltype(Member)>::Class* obj) {
  using Signature = typename detail::MemberTraits<decltype(Member)>::Signature;
  return TMethodRef<Signature>::template Bind<Member>(obj);
}

// The framework's common event types.
using TNotifyEvent = TMethodRef<void(TObject* Sender)>;

}  // namespace ztl
