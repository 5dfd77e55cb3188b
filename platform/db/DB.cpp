#include <ztlogger/platform/db/DB.h>
#include <ztlogger/platform/db/RowStore.h>

#include <algorithm>
#include <cstring>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/rtl/DateUtils.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

ZTL_DEFINE_CLASS(EDatabaseError, Exception)

namespace {

// Without a temporary record: a scan swaps rows once per row.
void SwapRows(TRecordBuffer& a, TRecordBuffer& b) {
  a.Values.swap(b.Values);
  std::swap(a.Key, b.Key);
}

bool InEditModes(TDataSetState state) { return state == dsEdit || state == dsInsert || state == dsSetKey; }

[[noreturn]] void DatabaseError(const String& message) { throw EDatabaseError(message); }

// Stored forms find the data source by its class name.
const bool registered = [] {
  RegisterClass(TDataSource::StaticClass());
  return true;
}();

// Copies of the lists a notification may change while it is being sent.
template <typename T>
std::vector<T*> Snapshot(const std::vector<T*>& list) {
  return list;
}

// The same for the lists every event walks: a few entries are copied to the
// stack, so that sending an event allocates nothing.
template <typename T>
class SmallSnapshot {
 public:
  explicit SmallSnapshot(const std::vector<T*>& list) : size_(list.size()) {
    if (size_ <= InPlace)
      std::copy(list.begin(), list.end(), inPlace_);
    else
      spilled_ = list;
  }
  T* const* begin() const { return size_ <= InPlace ? inPlace_ : spilled_.data(); }
  T* const* end() const { return begin() + size_; }

 private:
  static constexpr size_t InPlace = 8;
  size_t size_;
  T* inPlace_[InPlace];
  std::vector<T*> spilled_;
};

}  // namespace

// ---- Datasets

ZTL_BEGIN_CLASS(TDataSet, TComponent)
  .Property("Active", &Self::Active, &Self::SetActive).Default(false)
  .Property("BeforeOpen", &Self::BeforeOpen, &Self::SetBeforeOpen)
  .Property("AfterOpen", &Self::AfterOpen, &Self::SetAfterOpen)
  .Property("BeforeClose", &Self::BeforeClose, &Self::SetBeforeClose)
  .Property("AfterClose", &Self::AfterClose, &Self::SetAfterClose)
  .Property("BeforeInsert", &Self::BeforeInsert, &Self::SetBeforeInsert)
  .Property("AfterInsert", &Self::AfterInsert, &Self::SetAfterInsert)
  .Property("BeforeEdit", &Self::BeforeEdit, &Self::SetBeforeEdit)
  .Property("AfterEdit", &Self::AfterEdit, &Self::SetAfterEdit)
  .Property("BeforePost", &Self::BeforePost, &Self::SetBeforePost)
  .Property("AfterPost", &Self::AfterPost, &Self::SetAfterPost)
  .Property("BeforeCancel", &Self::BeforeCancel, &Self::SetBeforeCancel)
  .Property("AfterCancel", &Self::AfterCancel, &Self::SetAfterCancel)
  .Property("BeforeDelete", &Self::BeforeDelete, &Self::SetBeforeDelete)
  .Property("AfterDelete", &Self::AfterDelete, &Self::SetAfterDelete)
  .Property("BeforeScroll", &Self::BeforeScroll, &Self::SetBeforeScroll)
  .Property("AfterScroll", &Self::AfterScroll, &Self::SetAfterScroll)
  .Property("OnNewRecord", &Self::OnNewRecord, &Self::SetOnNewRecord)
ZTL_END_CLASS

TDataSet::TDataSet(TComponent* AOwner) : TComponent(AOwner) {}

TDataSet::~TDataSet() {
  // A descendant closes in its own destructor, while its record source
  // exists; here only the sources are let go of.
  for (TDataSource* source : Snapshot(dataSources_)) source->SetDataSet(nullptr);
}

void TDataSet::SetActive(bool value) {
  if (ComponentState().Contains(csLoading)) {
    openWhenLoaded_ = value;
    return;
  }
  if (value)
    Open();
  else
    Close();
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  if (openWhenLoaded_) Open();
}

void TDataSet::SetUniDirectional(bool value) {
  if (Active()) DatabaseError("Cannot change UniDirectional of an open dataset");
  uniDirectional_ = value;
}

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset");
}

TField* TDataSet::AddField(const String& name, TFieldType type, bool required) {
  std::unique_ptr<TField> field;
  switch (type) {
    case ftString: field = std::make_unique<TStringField>(nullptr); break;
    case ftInteger: field = std::make_unique<TIntegerField>(nullptr); break;
    case ftBoolean: field = std::make_unique<TBooleanField>(nullptr); break;
    case ftFloat: field = std::make_unique<TFloatField>(nullptr); break;
    case ftDateTime: field = std::make_unique<TDateTimeField>(nullptr); break;
    case ftBlob: field = std::make_unique<TBlobField>(nullptr); break;
    case ftUnknown: field = std::make_unique<TField>(nullptr); break;
  }
  field->fieldName_ = name;
  field->required_ = required;
  field->dataSet_ = this;
  field->index_ = fields_.Count();
  fields_.fields_.push_back(std::move(field));
  return fields_.fields_.back().get();
}

TField* TDataSet::FieldByName(const String& name) const {
  TField* field = FindField(name);
  if (field == nullptr) DatabaseError("Field '" + name + "' not found");
  return field;
}

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  if (value == dsBrowse) modified_ = false;
  DataEvent(deUpdateState, 0);
}

void TDataSet::DataEvent(TDataEvent Event, intptr_t Info) {
  // Nothing to note and nobody to tell, as for every step of a scan that no
  // source follows: back without a stack frame.
  if (Event != deFieldChange && disableCount_ == 0 && dataSources_.empty()) return;
  Deliver(Event, Info);
}

void TDataSet::Deliver(TDataEvent Event, intptr_t Info) {
  if (Event == deFieldChange) {
    FieldChanged(reinterpret_cast<TField*>(Info));
  } else if (Event == deLayoutChange && disableCount_ > 0) {
    layoutChangedWhileDisabled_ = true;
  }
  if (disableCount_ > 0 || state_ == dsBlockRead || dataSources_.empty()) return;
  NotifySources(Event, Info);
}

// Deliver's two parts, kept apart so that it stays small.
void TDataSet::FieldChanged(TField* field) {
  modified_ = true;
  if (field->onChange_) field->onChange_(field);
}

void TDataSet::NotifySources(TDataEvent Event, intptr_t Info) {
  for (TDataSource* source : SmallSnapshot(dataSources_)) source->ProcessEvent(Event, Info);
}

void TDataSet::DisableControls() {
  if (disableCount_++ == 0) {
    disabledState_ = state_;
    layoutChangedWhileDisabled_ = false;
  }
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0 || --disableCount_ > 0) return;
  if (state_ != disabledState_) DataEvent(deUpdateState, 0);
  if (disabledState_ != dsInactive && state_ != dsInactive)
    DataEvent(layoutChangedWhileDisabled_ ? deLayoutChange : deDataSetChange, 0);
  layoutChangedWhileDisabled_ = false;
}

void TDataSet::Open() {
  if (Active()) return;
  Fire(beforeOpen_);
  try {
    state_ = dsOpening;  // silent: the sources hear of the open state only
    InternalOpen();
    if (!rows_) rows_ = std::make_unique<RowStore>();
    rows_->Clear();
    hasRecord_ = false;
    spareIsLast_ = false;
    allFetched_ = false;
    recNo_ = 0;
    current_ = 0;
    FetchNext();
  } catch (...) {
    DoClose(false);
    throw;
  }
  bof_ = true;
  eof_ = !hasRecord_;
  state_ = dsInactive;
  SetState(dsBrowse);
  Fire(afterOpen_);
}

void TDataSet::Close() {
  if (!Active()) return;
  Fire(beforeClose_);
  DoClose(true);
  Fire(afterClose_);
}

void TDataSet::DoClose(bool notify) {
  editBuffer_ = {};
  if (notify)
    SetState(dsInactive);
  else
    state_ = dsInactive;
  modified_ = false;
  rows_.reset();
  record_ = {};
  spare_ = {};
  hasRecord_ = false;
  bof_ = eof_ = true;
  fields_.fields_.clear();
  InternalClose();
}

size_t TDataSet::RowCount() const { return uniDirectional_ ? (hasRecord_ ? 1 : 0) : rows_->rows.size(); }

void TDataSet::LoadRow(size_t index) {
  current_ = index;
  hasRecord_ = index < rows_->rows.size();
  if (!hasRecord_) return;
  // A scan moves to the row it has just read: it is still unpacked.
  if (spareIsLast_ && index + 1 == rows_->rows.size()) {
    SwapRows(record_, spare_);
    spareIsLast_ = false;
    return;
  }
  RowStore::Unpack(rows_->rows[index], static_cast<size_t>(fields_.Count()), record_);
}

// Reads the next row of the source; a unidirectional dataset makes it the
// current one, otherwise it is kept after the others.
bool TDataSet::FetchNext() {
  if (allFetched_) return false;
  if (!FetchRecord(spare_)) {
    allFetched_ = true;
    return false;
  }
  ++recNo_;
  if (uniDirectional_) {
    SwapRows(record_, spare_);
    hasRecord_ = true;
    return true;
  }
  rows_->rows.push_back(rows_->Pack(spare_));
  spareIsLast_ = true;
  if (!hasRecord_) LoadRow(0);
  return true;
}

void TDataSet::FetchAll() {
  while (FetchNext()) {
  }
}

void TDataSet::PrepareWrite() {
  // The record source may not be read while rows are written.
  if (!uniDirectional_) FetchAll();
}

const TVariant* TDataSet::StoredValue(int index) const {
  if (state_ == dsInsert || !hasRecord_) return nullptr;
  return &record_.Values[static_cast<size_t>(index)];
}

void TDataSet::StoreValue(int index, const TVariant& value) { editBuffer_.Values[static_cast<size_t>(index)] = value; }

bool TDataSet::IsEmpty() const { return !hasRecord_; }

int TDataSet::RecNo() const {
  if (!hasRecord_) return 0;
  return static_cast<int>(uniDirectional_ ? recNo_ : static_cast<int64_t>(current_) + 1);
}

int TDataSet::RecordCount() {
  CheckActive();
  if (uniDirectional_) return static_cast<int>(recNo_);
  FetchAll();
  return static_cast<int>(rows_->rows.size());
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  if (state_ == dsEdit || state_ == dsInsert) {
    UpdateRecord();
    if (modified_)
      Post();
    else
      Cancel();
  }
}

void TDataSet::UpdateRecord() {
  if (!InEditModes(state_)) DatabaseError("Dataset not in edit or insert mode");
  DataEvent(deUpdateRecord, 0);
}

void TDataSet::First() {
  CheckBrowseMode();
  if (uniDirectional_ && recNo_ > 1) DatabaseError("Operation not allowed on a unidirectional dataset");
  Fire(beforeScroll_);
  if (!uniDirectional_) LoadRow(0);
  bof_ = true;
  eof_ = !hasRecord_;
  DataEvent(deDataSetChange, 0);
  Fire(afterScroll_);
}

void TDataSet::Last() {
  CheckBrowseMode();
  Fire(beforeScroll_);
  FetchAll();
  if (!uniDirectional_ && !rows_->rows.empty()) LoadRow(rows_->rows.size() - 1);
  eof_ = true;
  bof_ = !hasRecord_;
  DataEvent(deDataSetChange, 0);
  Fire(afterScroll_);
}

// A scan's step: with no scroll events to fire, only the moving itself and
// what the links hear of it are left.
void TDataSet::Next() {
  CheckBrowseMode();
  if (beforeScroll_ || afterScroll_) {
    MoveInBrowseMode(1);
    return;
  }
  if (MoveForward(1) != 0) DataEvent(deDataSetScroll, 1);
}

void TDataSet::Prior() { MoveBy(-1); }

int TDataSet::MoveForward(int distance) {
  int moved = 0;
  size_t target = current_;
  while (moved < distance) {
    if (uniDirectional_ ? FetchNext() : (target + 1 < rows_->rows.size() || FetchNext())) {
      ++target;
      ++moved;
    } else {
      eof_ = true;
      break;
    }
  }
  if (moved > 0) {
    if (!uniDirectional_) LoadRow(target);
    bof_ = false;
    if (moved == distance) eof_ = false;
  }
  return moved;
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  return MoveInBrowseMode(distance);
}

int TDataSet::MoveInBrowseMode(int distance) {
  if (distance == 0) return 0;
  if (distance < 0 && uniDirectional_) DatabaseError("Operation not allowed on a unidirectional dataset");
  Fire(beforeScroll_);
  int moved = 0;
  if (distance > 0) {
    moved = MoveForward(distance);
  } else {
    const size_t back = std::min(current_, static_cast<size_t>(-static_cast<int64_t>(distance)));
    moved = -static_cast<int>(back);
    if (moved != distance) bof_ = true;
    if (moved < 0) {
      LoadRow(current_ - back);
      eof_ = false;
      if (moved == distance) bof_ = false;
    }
  }
  if (moved != 0) {
    DataEvent(deDataSetScroll, moved);
    Fire(afterScroll_);
  }
  return moved;
}

void TDataSet::BeginEditing(TDataSetState editState, bool append) {
  CheckBrowseMode();
  if (editState == dsEdit) {
    Fire(beforeEdit_);
    editBuffer_ = record_;
    SetState(dsEdit);
    DataEvent(deRecordChange, 0);
    Fire(afterEdit_);
    return;
  }
  Fire(beforeInsert_);
  if (append) FetchAll();
  insertAt_ = append || !hasRecord_ ? RowCount() : current_;
  editBuffer_ = {};
  editBuffer_.Values.assign(static_cast<size_t>(fields_.Count()), TVariant::Null());
  SetState(dsInsert);
  Fire(onNewRecord_);
  DataEvent(deDataSetChange, 0);
  Fire(afterInsert_);
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  CheckActive();
  if (!hasRecord_) {
    CheckBrowseMode();
    Append();
    return;
  }
  BeginEditing(dsEdit, false);
}

void TDataSet::Insert() { BeginEditing(dsInsert, false); }
void TDataSet::Append() { BeginEditing(dsInsert, true); }

void TDataSet::Post() {
  UpdateRecord();
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  Fire(beforePost_);
  for (const auto& field : fields_.fields_)
    if (field->Required() && editBuffer_.Values[static_cast<size_t>(field->Index())].IsNull())
      DatabaseError("Field '" + field->DisplayLabel() + "' must have a value");
  PrepareWrite();
  TRecordBuffer written = editBuffer_;
  if (state_ == dsEdit) {
    InternalPost(&record_, written);
    if (!uniDirectional_) rows_->rows[current_] = rows_->Pack(written);
    spareIsLast_ = false;
  } else {
    InternalPost(nullptr, written);
    if (!uniDirectional_) {
      insertAt_ = std::min(insertAt_, rows_->rows.size());
      rows_->rows.insert(insertAt_, rows_->Pack(written));
      spareIsLast_ = false;
      current_ = insertAt_;
    }
    bof_ = eof_ = false;
  }
  record_ = std::move(written);
  hasRecord_ = true;
  editBuffer_ = {};
  SetState(dsBrowse);
  DataEvent(deDataSetChange, 0);
  Fire(afterPost_);
}

void TDataSet::Cancel() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  Fire(beforeCancel_);
  editBuffer_ = {};
  SetState(dsBrowse);
  DataEvent(deDataSetChange, 0);
  Fire(afterCancel_);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert) {
    Cancel();
    return;
  }
  if (!hasRecord_) DatabaseError("Cannot perform this operation on an empty dataset");
  DataEvent(deCheckBrowseMode, 0);
  Fire(beforeDelete_);
  PrepareWrite();
  InternalDelete(record_);
  editBuffer_ = {};
  if (uniDirectional_) {
    hasRecord_ = false;
    if (FetchNext()) --recNo_;  // the next row takes the deleted one's place
  } else {
    rows_->rows.erase(current_);
    spareIsLast_ = false;
    LoadRow(current_ < rows_->rows.size() || current_ == 0 ? current_ : current_ - 1);
  }
  if (!hasRecord_) bof_ = eof_ = true;
  SetState(dsBrowse);
  DataEvent(deDataSetChange, 0);
  Fire(afterDelete_);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  if (uniDirectional_) DatabaseError("Operation not allowed on a unidirectional dataset");
  const size_t position = current_;
  InternalRestart();
  rows_->Clear();
  hasRecord_ = false;
  spareIsLast_ = false;
  allFetched_ = false;
  recNo_ = 0;
  while (rows_->rows.size() <= position && FetchNext()) {
  }
  LoadRow(rows_->rows.empty() ? 0 : std::min(position, rows_->rows.size() - 1));
  bof_ = current_ == 0;
  eof_ = !hasRecord_;
  DataEvent(deDataSetChange, 0);
}

// ---- Data sources

ZTL_BEGIN_CLASS(TDataSource, TComponent)
  .Property("AutoEdit", &Self::AutoEdit, &Self::SetAutoEdit).Default(true)
  .Property("DataSet", &Self::DataSet, &Self::SetDataSet)
  .Property("Enabled", &Self::Enabled, &Self::SetEnabled).Default(true)
  .Property("OnStateChange", &Self::OnStateChange, &Self::SetOnStateChange)
  .Property("OnDataChange", &Self::OnDataChange, &Self::SetOnDataChange)
  .Property("OnUpdateData", &Self::OnUpdateData, &Self::SetOnUpdateData)
ZTL_END_CLASS

TDataSource::TDataSource(TComponent* AOwner) : TComponent(AOwner) {}

TDataSource::~TDataSource() {
  onStateChange_ = nullptr;
  onDataChange_ = nullptr;
  onUpdateData_ = nullptr;
  SetDataSet(nullptr);
  for (TDataLink* link : Snapshot(links_)) {
    link->dataSource_ = nullptr;
    link->UpdateActiveAndEditing();
  }
}

TDataSetState TDataSource::EffectiveState() const {
  return dataSet_ != nullptr && enabled_ ? dataSet_->State() : dsInactive;
}

void TDataSource::SetDataSet(TDataSet* value) {
  if (value == dataSet_) return;
  if (dataSet_ != nullptr) {
    std::erase(dataSet_->dataSources_, this);
    dataSet_->RemoveFreeNotification(this);
  }
  dataSet_ = value;
  if (value != nullptr) {
    value->dataSources_.push_back(this);
    value->FreeNotification(this);
  }
  ProcessEvent(deUpdateState, 0);
}

void TDataSource::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  ProcessEvent(deUpdateState, 0);
}

void TDataSource::Edit() {
  if (autoEdit_ && dataSet_ != nullptr && state_ == dsBrowse) dataSet_->Edit();
}

void TDataSource::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == dataSet_) SetDataSet(nullptr);
}

void TDataSource::Distribute(TDataEvent Event, intptr_t Info) {
  const SmallSnapshot links(links_);
  for (bool visual : {false, true})
    for (TDataLink* link : links)
      if (link->visualControl_ == visual && std::find(links_.begin(), links_.end(), link) != links_.end())
        link->DataEvent(Event, Info);
}

void TDataSource::ProcessEvent(TDataEvent Event, intptr_t Info) {
  if (Event == deUpdateState) {
    const TDataSetState now = EffectiveState();
    if (now == state_) return;
    const TDataSetState before = state_;
    state_ = now;
    Distribute(Event, Info);
    if (onStateChange_) onStateChange_(this);
    if (before == dsInactive && onDataChange_) onDataChange_(this, nullptr);
    return;
  }
  if (state_ == dsInactive) return;
  Distribute(Event, Info);
  switch (Event) {
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (onDataChange_) onDataChange_(this, nullptr);
      break;
    case deFieldChange:
      if (onDataChange_) onDataChange_(this, reinterpret_cast<TField*>(Info));
      break;
    case deUpdateRecord:
      if (onUpdateData_) onUpdateData_(this);
      break;
    default: break;
  }
}

// ---- Data links

ZTL_DEFINE_CLASS(TDataLink, TObject)

TDataLink::TDataLink() = default;

TDataLink::~TDataLink() {
  if (dataSource_ != nullptr) std::erase(dataSource_->links_, this);
}

void TDataLink::SetDataSource(TDataSource* value) {
  if (value == dataSource_) return;
  if (dataSource_ != nullptr) std::erase(dataSource_->links_, this);
  dataSource_ = value;
  if (value != nullptr) value->links_.push_back(this);
  UpdateActiveAndEditing();
}

TDataSet* TDataLink::DataSet() const { return dataSource_ != nullptr ? dataSource_->DataSet() : nullptr; }

void TDataLink::SetReadOnly(bool value) {
  if (value == readOnly_) return;
  readOnly_ = value;
  UpdateActiveAndEditing();
}

void TDataLink::UpdateActiveAndEditing() {
  const TDataSetState state = dataSource_ != nullptr ? dataSource_->State() : dsInactive;
  const bool active = state != dsInactive && state != dsOpening;
  if (active != active_) {
    active_ = active;
    ActiveChanged();
  }
  const bool editing = InEditModes(state) && !readOnly_;
  if (editing != editing_) {
    editing_ = editing;
    EditingChanged();
  }
}

bool TDataLink::Edit() {
  if (!readOnly_ && dataSource_ != nullptr) dataSource_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updatingRecord_ = true;
  try {
    UpdateData();
  } catch (...) {
    updatingRecord_ = false;
    throw;
  }
  updatingRecord_ = false;
}

void TDataLink::DataEvent(TDataEvent Event, intptr_t Info) {
  switch (Event) {
    case deFieldChange:
    case deRecordChange:
      if (!updatingRecord_) RecordChanged(reinterpret_cast<TField*>(Info));
      break;
    case deDataSetChange: {
      TDataSet* dataSet = DataSet();
      const bool active = dataSet != nullptr && dataSet->Active();
      if (active != active_) {
        active_ = active;
        ActiveChanged();
      }
      DataSetChanged();
      break;
    }
    case deDataSetScroll: DataSetScrolled(static_cast<int>(Info)); break;
    case deLayoutChange: LayoutChanged(); break;
    case deUpdateRecord: UpdateRecord(); break;
    case deUpdateState: UpdateActiveAndEditing(); break;
    case deCheckBrowseMode: CheckBrowseMode(); break;
    case deFocusControl: FocusControl(reinterpret_cast<TField**>(Info)); break;
    default: break;
  }
}

}  // namespace ztl
