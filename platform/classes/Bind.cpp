#include <ztlogger/platform/classes/Bind.h>

#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl::detail {

TBindingLink::TBindingLink(TComponent* owner, std::weak_ptr<TBoundCallBase> call)
    : TComponent(nullptr), owner_(owner), call_(std::move(call)) {
  owner_->FreeNotification(this);
}

void CheckBindingOwner(const TComponent* owner) {
  if (!owner) throw EComponentError("A bound event handler needs an owner");
}

void TBindingLink::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (AComponent != owner_ || Operation != opRemove) return;
  if (auto call = call_.lock()) call->Release();
  delete this;
}

}  // namespace ztl::detail
