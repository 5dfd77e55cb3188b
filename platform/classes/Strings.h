#pragma once
// Lists of strings.
// Any thread; each list from one thread at a time.
#include <vector>

#include <ztlogger/platform/classes/Persistent.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

class TStream;

// The abstract list; the text form joins lines with CR LF.
class ZTL_PLATFORM_API TStrings : public TPersistent {
  ZTL_DECLARE_CLASS(TStrings, TPersistent)

 public:
  virtual int Count() const = 0;
  virtual String Get(int index) const = 0;
  virtual void Put(int index, const String& value) = 0;
  virtual TObject* GetObject(int index) const = 0;
  virtual void PutObject(int index, TObject* value) = 0;
  virtual void Insert(int index, const String& value) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  String Strings(int index) const { return Get(index); }
  String operator[](int index) const { return Get(index); }
  virtual int Add(const String& value);
  int AddObject(const String& value, TObject* object);
  void AddStrings(const TStrings& other);
  virtual int IndexOf(const String& value) const;  // case-insensitive

  // Every line followed by CR LF.
  String Text() const;
  // Splits at CR LF, LF or CR; a final line break adds no empty line.
  void SetText(const String& value);
  // Lines separated by commas, quoted where needed.
  String CommaText() const;

  void BeginUpdate();
  void EndUpdate();

  // UTF-8 text; a byte-order mark is skipped.
  void LoadFromFile(const String& fileName);
  void LoadFromStream(TStream& stream);
  void SaveToFile(const String& fileName) const;
  void SaveToStream(TStream& stream) const;

  void Assign(TPersistent* Source) override;
  bool Equals(const TStrings& other) const;

 protected:
  virtual void SetUpdateState(bool updating) { (void)updating; }
  int UpdateCount() const { return updateCount_; }

 private:
  int updateCount_ = 0;
};

enum TDuplicates : uint8_t { dupIgnore, dupAccept, dupError };

class ZTL_PLATFORM_API TStringList : public TStrings {
  ZTL_DECLARE_CLASS(TStringList, TStrings)

 public:
  TStringList() = default;
  ~TStringList() override;
  TStringList(const TStringList&) = delete;
  TStringList& operator=(const TStringList&) = delete;

  int Count() const override { return static_cast<int>(items_.size()); }
  String Get(int index) const override;
  void Put(int index, const String& value) override;
  TObject* GetObject(int index) const override;
  void PutObject(int index, TObject* value) override;
  void Insert(int index, const String& value) override;
  void Delete(int index) override;
  void Clear() override;
  int Add(const String& value) override;
  int IndexOf(const String& value) const override;

  bool Sorted() const { return sorted_; }
  void SetSorted(bool value);
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates value) { duplicates_ = value; }
  void Sort();
  // Binary search in a sorted list (case-insensitive); index is where the
  // value is or would be inserted.
  bool Find(const String& value, int& index) const;

  // The list frees the objects it holds when this is set.
  bool OwnsObjects() const { return ownsObjects_; }
  void SetOwnsObjects(bool value) { ownsObjects_ = value; }

  TNotifyEvent OnChange() const { return onChange_; }
  void SetOnChange(const TNotifyEvent& value) { onChange_ = value; }

 protected:
  void SetUpdateState(bool updating) override;
  void Changed();

 private:
  struct Item {
    String Text;
    TObject* Object = nullptr;
  };
  void CheckIndex(int index) const;
  void FreeObject(TObject* object);

  std::vector<Item> items_;
  bool sorted_ = false;
  bool ownsObjects_ = false;
  TDuplicates duplicates_ = dupIgnore;
  TNotifyEvent onChange_;
};

}  // namespace ztl
