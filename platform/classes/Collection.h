#pragma once
// Collections of items of one item class.
// Any thread; a collection, with its items, from one thread at a time.
#include <vector>

#include <ztlogger/platform/classes/Persistent.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

class TCollection;

class ZTL_PLATFORM_API TCollectionItem : public TPersistent {
  ZTL_DECLARE_CLASS(TCollectionItem, TPersistent)

 public:
  // A new item constructed with a collection joins it.
  explicit TCollectionItem(TCollection* Collection);
  ~TCollectionItem() override;
  TCollectionItem(const TCollectionItem&) = delete;
  TCollectionItem& operator=(const TCollectionItem&) = delete;

  TCollection* Collection() const { return collection_; }
  // Moves the item into another collection (or none).
  void SetCollection(TCollection* value);
  int Index() const;
  void SetIndex(int value);
  int ID() const { return id_; }
  virtual String DisplayName() const;
  String GetNamePath() const override;

 protected:
  TPersistent* GetOwner() const override;
  // Tells the collection that the item changed.
  void Changed(bool AllItems);

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
  int id_ = 0;
};

using TCollectionItemClass = TClass;

class ZTL_PLATFORM_API TCollection : public TPersistent {
  ZTL_DECLARE_CLASS(TCollection, TPersistent)

 public:
  explicit TCollection(TCollectionItemClass ItemClass);
  ~TCollection() override;
  TCollection(const TCollection&) = delete;
  TCollection& operator=(const TCollection&) = delete;

  TCollectionItemClass ItemClass() const { return itemClass_; }
  // Creates an item of the item class, which joins the collection.
  TCollectionItem* Add();
  TCollectionItem* Insert(int index);
  void Delete(int index);
  void Clear();
  int Count() const { return static_cast<int>(items_.size()); }
  TCollectionItem* Items(int index) const;
  TCollectionItem* FindItemID(int id) const;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

  // Copies the items of another collection of a compatible item class.
  void Assign(TPersistent* Source) override;
  String GetNamePath() const override;

  TPersistent* Owner() const { return GetOwner(); }

 protected:
  // Called after a change of one item (Item) or of the whole collection
  // (nullptr), unless an update is under way.
  virtual void Update(TCollectionItem* Item);
  virtual void Notify(TCollectionItem* Item, bool added);
  void Changed();

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* item);
  void RemoveItem(TCollectionItem* item);

  TCollectionItemClass itemClass_;
  std::vector<TCollectionItem*> items_;
  int nextId_ = 0;
  int updateCount_ = 0;
};

// A collection with an owner (the persistent object that publishes it).
class ZTL_PLATFORM_API TOwnedCollection : public TCollection {
  ZTL_DECLARE_CLASS(TOwnedCollection, TCollection)

 public:
  TOwnedCollection(TPersistent* AOwner, TCollectionItemClass ItemClass) : TCollection(ItemClass), owner_(AOwner) {}

 protected:
  TPersistent* GetOwner() const override { return owner_; }

 private:
  TPersistent* owner_;
};

}  // namespace ztl
