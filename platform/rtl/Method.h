#pragma once
// Method references: the pair (object, code) behind events and saved handlers.
//
// Besides a member function of an object, an event can call any callable
// (a lambda) through a bound call: a small object shared by every copy of
// the event value, holding the callable until the owner it was bound to is
// freed (ztl::Bind in platform/classes/Bind.h). The event value keeps the
// bound call alive, so calling it never touches freed memory; once the owner
// is gone the callable is dropped and the event does nothing.
//
// Main thread only: a bound call is made, called and released (its owner
// freed) on the main thread; a worker fires such an event through
// TThread::Synchronize.
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

class TObject;

// Type-erased code address; each bound member function has its own.
using TCodePointer = void (*)();

// Code and Data name the handler; Binding keeps a bound call's object (Data)
// alive while the method is held. Copy a TMethod whole, never its Data alone.
struct ZTL_PLATFORM_API TMethod {
  TCodePointer Code = nullptr;
  TObject* Data = nullptr;
  std::shared_ptr<TObject> Binding;
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

// TObject named through a template parameter: it need be complete only where
// an event is bound (Object.h includes this header before defining it).
template <typename, typename Object = TObject>
struct ObjectBase {
  using Type = Object;
};

// What the owner side of a binding sees: the call it drops when the owner goes.
class ZTL_PLATFORM_API TBoundCallBase {
 public:
  virtual ~TBoundCallBase() = default;
  virtual void Release() = 0;
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

  // A bound call of callable; the owner side holds the returned release
  // handle and drops the callable through it (see ztl::Bind).
  template <typename F>
  static TMethodRef BindCall(F&& callable, std::weak_ptr<detail::TBoundCallBase>& release) {
    auto call = std::make_shared<BoundCall>(std::function<R(A...)>(std::forward<F>(callable)));
    release = call;
    TMethodRef ref;
    ref.code_ = &CallBound;
    ref.data_ = call.get();
    ref.binding_ = std::move(call);
    return ref;
  }

  static TMethodRef FromMethod(const TMethod& m) {
    TMethodRef ref;
    ref.code_ = reinterpret_cast<Thunk>(m.Code);
    ref.data_ = m.Data;
    ref.binding_ = m.Binding;
    return ref;
  }
  TMethod Method() const { return TMethod{reinterpret_cast<TCodePointer>(code_), data_, binding_}; }

  bool Assigned() const { return code_ != nullptr; }
  explicit operator bool() const { return Assigned(); }
  TObject* Data() const { return data_; }

  R operator()(A... args) const { return code_(data_, std::forward<A>(args)...); }

  // Equal when they name the same method of the same object, or the same
  // bound call.
  bool operator==(const TMethodRef& other) const { return code_ == other.code_ && data_ == other.data_; }

 private:
  // The shared object behind a bound call. Calls after Release do nothing
  // (and give R's default value). The callable is held by a shared pointer
  // that a running call copies, so a handler that frees its own owner
  // finishes with its captures intact.
  class BoundCall final : public detail::ObjectBase<R>::Type, public detail::TBoundCallBase {
   public:
    explicit BoundCall(std::function<R(A...)> callable)
        : callable_(std::make_shared<std::function<R(A...)>>(std::move(callable))) {}
    void Release() override { callable_.reset(); }
    R Invoke(A... args) {
      auto running = callable_;
      if (!running) {
        if constexpr (std::is_void_v<R>) return;
        else return R{};
      }
      return (*running)(std::forward<A>(args)...);
    }

   private:
    std::shared_ptr<std::function<R(A...)>> callable_;
  };

  static R CallBound(TObject* call, A... args);

  // One code address per bound member in the whole process: the trampoline
  // is visible from every module and defined outside the class, as inline
  // member functions are hidden in the libraries.
  template <auto Member, typename C>
  static R Trampoline(TObject* obj, A... args);

  Thunk code_ = nullptr;
  TObject* data_ = nullptr;
  std::shared_ptr<TObject> binding_;  // set for a bound call: keeps data_ alive
};

template <typename R, typename... A>
template <auto Member, typename C>
R TMethodRef<R(A...)>::Trampoline(TObject* obj, A... args) {
  return (static_cast<C*>(obj)->*Member)(std::forward<A>(args)...);
}

template <typename R, typename... A>
R TMethodRef<R(A...)>::CallBound(TObject* call, A... args) {
  return static_cast<BoundCall*>(call)->Invoke(std::forward<A>(args)...);
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
