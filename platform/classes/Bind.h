#pragma once
// Events from plain C++: ztl::Bind(owner, callable) gives a value that any
// event property takes, calling the callable until owner is freed.
//
//   log->SetOnException(ztl::Bind(form, [&](TObject* Sender, Exception* E, ...) { ... }));
//
// How it holds: the event value shares a small bound call (platform/rtl/
// Method.h) holding the callable. A link component, unowned and asking owner
// for a free notification, releases the callable when owner is freed; from
// then on the event does nothing, and no call reaches the callable or its
// captures. The link frees itself with the owner, the bound call goes with
// the last event value holding it, so freeing either side first is clean.
// The callable (and what it captures) is freed when owner is freed or when no
// event holds it any more, whichever comes first.
//
// A bound call is not a published method: a stored form does not store it,
// and it compares equal only to copies of itself.
// Threads: bind, fire and free the owner on the main thread (workers fire
// through TThread::Synchronize).
#include <utility>

#include <ztlogger/platform/classes/Component.h>

namespace ztl {

namespace detail {
// Drops a bound call when the owner it watches is freed, then frees itself.
class ZTL_PLATFORM_API TBindingLink final : public TComponent {
 public:
  TBindingLink(TComponent* owner, std::weak_ptr<TBoundCallBase> call);

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  TComponent* owner_;
  std::weak_ptr<TBoundCallBase> call_;
};

// Raises EComponentError for a missing owner.
ZTL_PLATFORM_API void CheckBindingOwner(const TComponent* owner);
}  // namespace detail

// The result of Bind: turns into the event type it is assigned to.
template <typename F>
class TBoundHandler {
 public:
  TBoundHandler(TComponent* owner, F callable) : owner_(owner), callable_(std::move(callable)) {
    detail::CheckBindingOwner(owner);
  }

  template <typename R, typename... A>
  operator TMethodRef<R(A...)>() const {
    std::weak_ptr<detail::TBoundCallBase> release;
    auto ref = TMethodRef<R(A...)>::BindCall(callable_, release);
    new detail::TBindingLink(owner_, std::move(release));  // frees itself with owner
    return ref;
  }

 private:
  TComponent* owner_;
  F callable_;
};

// An event handler calling callable while owner (not null) lives.
template <typename F>
TBoundHandler<std::decay_t<F>> Bind(TComponent* owner, F&& callable) {
  return TBoundHandler<std::decay_t<F>>(owner, std::forward<F>(callable));
}

}  // namespace ztl
