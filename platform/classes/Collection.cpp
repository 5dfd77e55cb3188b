#include <ztlogger/platform/classes/Collection.h>

#include <algorithm>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/ScopeExit.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

ZTL_DEFINE_CLASS(TCollectionItem, TPersistent)
ZTL_DEFINE_CLASS(TCollection, TPersistent)
ZTL_DEFINE_CLASS(TOwnedCollection, TCollection)

TCollectionItem::TCollectionItem(TCollection* Collection) { SetCollection(Collection); }

TCollectionItem::~TCollectionItem() { SetCollection(nullptr); }

void TCollectionItem::SetCollection(TCollection* value) {
  if (value == collection_) return;
  if (collection_) collection_->RemoveItem(this);
  if (value) value->InsertItem(this);
}

int TCollectionItem::Index() const {
  if (!collection_) return -1;
  auto& items = collection_->items_;
  return static_cast<int>(std::find(items.begin(), items.end(), this) - items.begin());
}

void TCollectionItem::SetIndex(int value) {
  int current = Index();
  if (current < 0 || value == current) return;
  auto& items = collection_->items_;
  value = std::clamp(value, 0, static_cast<int>(items.size()) - 1);
  items.erase(items.begin() + current);
  items.insert(items.begin() + value, this);
  Changed(true);
}

String TCollectionItem::DisplayName() const { return ClassName(); }

String TCollectionItem::GetNamePath() const {
  if (!collection_) return ClassName();
  return collection_->GetNamePath() + "[" + IntToStr(Index()) + "]";
}

TPersistent* TCollectionItem::GetOwner() const { return collection_; }

void TCollectionItem::Changed(bool AllItems) {
  if (collection_ && collection_->updateCount_ == 0) collection_->Update(AllItems ? nullptr : this);
}

TCollection::TCollection(TCollectionItemClass ItemClass) : itemClass_(ItemClass) {}

TCollection::~TCollection() {
  updateCount_ = 1;  // no update notifications while tearing down
  Clear();
}

TCollectionItem* TCollection::Add() {
  auto* item = dynamic_cast<TCollectionItem*>(itemClass_->Create(this));
  if (!item) throw EInvalidOperation("Item class " + itemClass_->ClassName() + " is no collection item");
  return item;
}

TCollectionItem* TCollection::Insert(int index) {
  BeginUpdate();
  TCollectionItem* item = nullptr;
  {
    ScopeExit endUpdate([&] { EndUpdate(); });
    item = Add();
    item->SetIndex(index);
  }
  return item;
}

void TCollection::Delete(int index) { delete Items(index); }

void TCollection::Clear() {
  if (items_.empty()) return;
  BeginUpdate();
  while (!items_.empty()) delete items_.back();
  EndUpdate();
}

TCollectionItem* TCollection::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
  return items_[static_cast<size_t>(index)];
}

TCollectionItem* TCollection::FindItemID(int id) const {
  for (TCollectionItem* item : items_)
    if (item->id_ == id) return item;
  return nullptr;
}

void TCollection::BeginUpdate() { ++updateCount_; }

void TCollection::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) Changed();
}

void TCollection::Assign(TPersistent* Source) {
  auto* other = dynamic_cast<TCollection*>(Source);
  if (!other) return TPersistent::Assign(Source);
  BeginUpdate();
  ScopeExit endUpdate([&] { EndUpdate(); });
  Clear();
  for (TCollectionItem* item : other->items_) Add()->Assign(item);
}

String TCollection::GetNamePath() const {
  TPersistent* owner = GetOwner();
  if (!owner) return ClassName();
  // The owner publishes the collection under some property name.
  for (const TPropInfo* p : owner->ClassType()->Properties())
    if (p->Kind == tkCollection && p->GetObject(owner) == this) return owner->GetNamePath() + "." + p->Name;
  return owner->GetNamePath();
}

void TCollection::Update(TCollectionItem* Item) { (void)Item; }

void TCollection::Notify(TCollectionItem* Item, bool added) { (void)Item, (void)added; }

void TCollection::Changed() {
  if (updateCount_ == 0) Update(nullptr);
}

void TCollection::InsertItem(TCollectionItem* item) {
  items_.push_back(item);
  item->collection_ = this;
  item->id_ = nextId_++;
  Notify(item, true);
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* item) {
  Notify(item, false);
  items_.erase(std::remove(items_.begin(), items_.end(), item), items_.end());
  item->collection_ = nullptr;
  Changed();
}

}  // namespace ztl
