#pragma once
// Components: persistent objects with an owner, a name and a state.
// Any thread; a component and its owner tree from one thread at a time.
#include <cstdint>
#include <functional>
#include <vector>

#include <ztlogger/platform/classes/Persistent.h>
#include <ztlogger/platform/classes/Set.h>
#include <ztlogger/platform/classes/TypInfo.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

enum TComponentStateElement : uint8_t {
  csLoading,
  csReading,
  csWriting,
  csDestroying,
  csDesigning,
  csAncestor,
  csUpdating,
  csFixups,
  csFreeNotification,
  csInline,
  csDesignInstance,
};
ZTL_ENUM_NAMES(TComponentStateElement, "csLoading", "csReading", "csWriting", "csDestroying", "csDesigning",
               "csAncestor", "csUpdating", "csFixups", "csFreeNotification", "csInline", "csDesignInstance")
using TComponentState = TSet<TComponentStateElement, 11>;

enum TOperation : uint8_t { opInsert, opRemove };

class ZTL_PLATFORM_API TComponent : public TPersistent {
  ZTL_DECLARE_CLASS(TComponent, TPersistent)

 public:
  // The owner, when given, owns the component and frees it with itself.
  explicit TComponent(TComponent* AOwner);
  // Frees the owned components, tells every component that asked for a free
  // notification, and removes the component from its owner.
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const;
  int ComponentIndex() const;
  // The owned component of that name (case-insensitive), or nullptr.
  TComponent* FindComponent(const String& name) const;

  const String& Name() const { return name_; }
  // A name is empty or an identifier unique among the owner's components;
  // otherwise EComponentError is raised.
  virtual void SetName(const String& value);
  intptr_t Tag() const { return tag_; }
  void SetTag(intptr_t value) { tag_ = value; }

  TComponentState ComponentState() const { return state_; }
  // Marks the component and every component it owns as being designed (the
  // design environment calls this).
  void SetDesigning(bool value, bool setChildren = true);

  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  void DestroyComponents();

  // AComponent gets Notification(this, opRemove) before this component is freed.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  String GetNamePath() const override;

  // Called on every component a stored form made, after all values are read;
  // clears the loading state.
  virtual void Loaded();

  // Stored forms: the components stored inside this one when Root is written.
  // By default the root stores every component it owns that has no parent;
  // controls store the controls they parent.
  virtual void GetChildren(const std::function<void(TComponent*)>& Proc, TComponent* Root);
  // Controls have a parent besides their owner; a stored form sets it.
  virtual bool HasParent() const { return false; }
  virtual TComponent* GetParentComponent() const { return nullptr; }
  virtual void SetParentComponent(TComponent* Value) { (void)Value; }

 protected:
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  TPersistent* GetOwner() const override { return owner_; }

 private:
  friend class TReader;  // sets the loading state of what it reads
  void Insert(TComponent* AComponent);
  void Remove(TComponent* AComponent);
  void NotifyAll(TComponent* AComponent, TOperation Operation);
  void RemoveNotification(TComponent* AComponent);
  void ValidateRename(const String& newName) const;

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  String name_;
  intptr_t tag_ = 0;
  TComponentState state_;
};

using TComponentClass = TClass;

// Whether text is a valid component name: a letter or underscore, then
// letters, digits and underscores.
ZTL_PLATFORM_API bool IsValidIdent(const String& text);

}  // namespace ztl
