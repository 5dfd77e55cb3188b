#include <ztlogger/platform/classes/Strings.h>

#include <algorithm>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/ScopeExit.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

ZTL_DEFINE_CLASS(TStrings, TPersistent)
ZTL_DEFINE_CLASS(TStringList, TStrings)

int TStrings::Add(const String& value) {
  int index = Count();
  Insert(index, value);
  return index;
}

int TStrings::AddObject(const String& value, TObject* object) {
  int index = Add(value);
  PutObject(index, object);
  return index;
}

void TStrings::AddStrings(const TStrings& other) {
  BeginUpdate();
  ScopeExit endUpdate([&] { EndUpdate(); });
  for (int i = 0; i < other.Count(); ++i) AddObject(other.Get(i), other.GetObject(i));
}

int TStrings::IndexOf(const String& value) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Get(i), value)) return i;
  return -1;
}

String TStrings::Text() const {
  String text;
  for (int i = 0; i < Count(); ++i) {
    text += Get(i);
    text += "\r\n";
  }
  return text;
}

void TStrings::SetText(const String& value) {
  BeginUpdate();
  ScopeExit endUpdate([&] { EndUpdate(); });
  Clear();
  size_t start = 0;
  while (start < value.size()) {
    size_t end = value.find_first_of("\r\n", start);
    if (end == String::npos) {
      Add(value.substr(start));
      break;
    }
    Add(value.substr(start, end - start));
    start = end + ((value[end] == '\r' && end + 1 < value.size() && value[end + 1] == '\n') ? 2 : 1);
  }
}

String TStrings::CommaText() const {
  String text;
  for (int i = 0; i < Count(); ++i) {
    if (i) text += ',';
    String item = Get(i);
    bool quote = item.empty() || item.find_first_of(" ,\"\t") != String::npos;
    if (!quote) {
      text += item;
      continue;
    }
    text += '"';
    for (char c : item) {
      if (c == '"') text += '"';
      text += c;
    }
    text += '"';
  }
  return text;
}

void TStrings::BeginUpdate() {
  if (updateCount_++ == 0) SetUpdateState(true);
}

void TStrings::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) SetUpdateState(false);
}

void TStrings::LoadFromFile(const String& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TStrings::LoadFromStream(TStream& stream) {
  int64_t size = stream.Size() - stream.Position();
  String bytes(static_cast<size_t>(std::max<int64_t>(size, 0)), '\0');
  stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  SetText(bytes);
}

void TStrings::SaveToFile(const String& fileName) const {
  TFileStream stream(fileName, fmCreate | fmShareDenyWrite);
  SaveToStream(stream);
}

void TStrings::SaveToStream(TStream& stream) const {
  String text = Text();
  stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TStrings::Assign(TPersistent* Source) {
  auto* other = dynamic_cast<TStrings*>(Source);
  if (!other) return TPersistent::Assign(Source);
  if (other == this) return;
  BeginUpdate();
  ScopeExit endUpdate([&] { EndUpdate(); });
  Clear();
  AddStrings(*other);
}

bool TStrings::Equals(const TStrings& other) const {
  if (Count() != other.Count()) return false;
  for (int i = 0; i < Count(); ++i)
    if (Get(i) != other.Get(i)) return false;
  return true;
}

TStringList::~TStringList() {
  onChange_ = nullptr;
  Clear();
}

void TStringList::CheckIndex(int index) const {
  if (index < 0 || index >= Count())
    throw EStringListError("List index out of bounds (" + IntToStr(index) + ")");
}

String TStringList::Get(int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)].Text;
}

void TStringList::Put(int index, const String& value) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  CheckIndex(index);
  items_[static_cast<size_t>(index)].Text = value;
  Changed();
}

TObject* TStringList::GetObject(int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)].Object;
}

void TStringList::PutObject(int index, TObject* value) {
  CheckIndex(index);
  items_[static_cast<size_t>(index)].Object = value;
  Changed();
}

void TStringList::Insert(int index, const String& value) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  if (index < 0 || index > Count()) throw EStringListError("List index out of bounds (" + IntToStr(index) + ")");
  items_.insert(items_.begin() + index, Item{value, nullptr});
  Changed();
}

int TStringList::Add(const String& value) {
  if (!sorted_) return TStrings::Add(value);
  int index = 0;
  if (Find(value, index)) {
    if (duplicates_ == dupIgnore) return index;
    if (duplicates_ == dupError) throw EStringListError("String list does not allow duplicates");
  }
  items_.insert(items_.begin() + index, Item{value, nullptr});
  Changed();
  return index;
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  TObject* object = items_[static_cast<size_t>(index)].Object;
  items_.erase(items_.begin() + index);
  FreeObject(object);
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  std::vector<Item> old;
  old.swap(items_);
  for (Item& item : old) FreeObject(item.Object);
  Changed();
}

void TStringList::FreeObject(TObject* object) {
  if (ownsObjects_) delete object;
}

int TStringList::IndexOf(const String& value) const {
  if (!sorted_) return TStrings::IndexOf(value);
  int index = 0;
  return Find(value, index) ? index : -1;
}

void TStringList::SetSorted(bool value) {
  if (value && !sorted_) Sort();
  sorted_ = value;
}

void TStringList::Sort() {
  std::stable_sort(items_.begin(), items_.end(),
                   [](const Item& a, const Item& b) { return CompareText(a.Text, b.Text) < 0; });
  Changed();
}

bool TStringList::Find(const String& value, int& index) const {
  int low = 0;
  int high = Count() - 1;
  bool found = false;
  while (low <= high) {
    int mid = (low + high) / 2;
    int c = CompareText(items_[static_cast<size_t>(mid)].Text, value);
    if (c < 0) {
      low = mid + 1;
    } else {
      high = mid - 1;
      if (c == 0) {
        found = true;
        if (duplicates_ != dupAccept) low = mid;
      }
    }
  }
  index = low;
  return found;
}

void TStringList::SetUpdateState(bool updating) {
  if (!updating) Changed();
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && onChange_) onChange_(this);
}

}  // namespace ztl
