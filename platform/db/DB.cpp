#include "platform/db/DB.h"

#include <algorithm>

#include "platform/classes/ClassBuilder.h"
#include "platform/rtl/DateUtils.h"
#include "platform/rtl/FormatUtils.h"
#include "platform/rtl/SysUtils.h"

namespace ztl {

ZTL_DEFINE_CLASS(EDatabaseError, Exception)

namespace {

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

}  // namespace

// ---- Fields

ZTL_BEGIN_CLASS(TField, TComponent)
  .Property("FieldName", &Self::FieldName, &Self::SetFieldName)
  .Property("DisplayLabel", &Self::DisplayLabel, &Self::SetDisplayLabel)
  .Property("Required", &Self::Required, &Self::SetRequired).Default(false)
  .Property("ReadOnly", &Self::ReadOnly, &Self::SetReadOnly).Default(false)
  .Property("OnChange", &Self::OnChange, &Self::SetOnChange)
ZTL_END_CLASS

TField::TField(TComponent* AOwner) : TComponent(AOwner) {}
TField::~TField() = default;

void TField::SetDisplayLabel(const String& value) {
  displayLabel_ = value == fieldName_ ? String() : value;
  if (dataSet_ != nullptr && dataSet_->Active()) dataSet_->DataEvent(deLayoutChange, 0);
}

TVariant TField::Value() const {
  if (dataSet_ == nullptr || !dataSet_->Active()) return TVariant::Null();
  return dataSet_->CurrentValue(index_);
}

TVariant TField::NewValue() const { return Value(); }

TVariant TField::OldValue() const {
  if (dataSet_ == nullptr || !dataSet_->Active()) return TVariant::Null();
  const TVariant* stored = dataSet_->StoredValue(index_);
  return stored != nullptr ? *stored : TVariant::Null();
}

void TField::SetValue(const TVariant& value) {
  if (dataSet_ == nullptr) DatabaseError("Field '" + fieldName_ + "' has no dataset");
  if (!InEditModes(dataSet_->State())) DatabaseError("Dataset not in edit or insert mode");
  if (readOnly_) DatabaseError("Field '" + fieldName_ + "' cannot be modified");
  dataSet_->StoreValue(index_, value.IsNull() || value.IsEmpty() ? TVariant::Null() : Convert(value));
  dataSet_->DataEvent(deFieldChange, reinterpret_cast<intptr_t>(this));
}

String TField::AsString() const { return VarToStr(Value()); }

void TField::SetAsString(const String& value) { SetValue(TVariant(value)); }

ZTL_DEFINE_CLASS(TStringField, TField)
TStringField::TStringField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftString); }
TVariant TStringField::Convert(const TVariant& value) const { return TVariant(value.AsString()); }

ZTL_DEFINE_CLASS(TIntegerField, TField)
TIntegerField::TIntegerField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftInteger); }
TVariant TIntegerField::Convert(const TVariant& value) const {
  if (value.VarType() == varString) return TVariant(StrToInt(Trim(value.AsString())));
  return TVariant(value.AsInteger());
}

ZTL_DEFINE_CLASS(TFloatField, TField)
TFloatField::TFloatField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftFloat); }
TVariant TFloatField::Convert(const TVariant& value) const {
  if (value.VarType() == varString) return TVariant(StrToFloat(value.AsString()));
  return TVariant(value.AsFloat());
}

ZTL_DEFINE_CLASS(TBooleanField, TField)
TBooleanField::TBooleanField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftBoolean); }
TVariant TBooleanField::Convert(const TVariant& value) const {
  if (value.VarType() != varString) return TVariant(value.AsBoolean());
  const String text = Trim(value.AsString());
  if (SameText(text, "True")) return TVariant(true);
  if (SameText(text, "False")) return TVariant(false);
  throw EConvertError("'" + text + "' is not a valid boolean value");
}

ZTL_DEFINE_CLASS(TDateTimeField, TField)
TDateTimeField::TDateTimeField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftDateTime); }
TVariant TDateTimeField::Convert(const TVariant& value) const {
  if (value.VarType() != varString) return TVariant::FromDateTime(value.AsDateTime());
  TDateTime when;
  if (!TryISOToDateTime(Trim(value.AsString()), when))
    throw EConvertError("'" + value.AsString() + "' is not a valid date and time");
  return TVariant::FromDateTime(when);
}

ZTL_DEFINE_CLASS(TBlobField, TField)
TBlobField::TBlobField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftBlob); }
TVariant TBlobField::Convert(const TVariant& value) const { return TVariant(value.AsString()); }
String TBlobField::Text() const { return IsNull() ? "(blob)" : "(BLOB)"; }

TField* TFields::Fields(int index) const {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
  return fields_[static_cast<size_t>(index)].get();
}

TField* TFields::FindField(const String& name) const {
  for (const auto& field : fields_)
    if (SameText(field->FieldName(), name)) return field.get();
  return nullptr;
}

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
  if (Event == deFieldChange) {
    TField* field = reinterpret_cast<TField*>(Info);
    modified_ = true;
    if (field->onChange_) field->onChange_(field);
  } else if (Event == deLayoutChange && disableCount_ > 0) {
    layoutChangedWhileDisabled_ = true;
  }
  if (disableCount_ > 0 || state_ == dsBlockRead) return;
  for (TDataSource* source : Snapshot(dataSources_)) source->ProcessEvent(Event, Info);
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
    rows_.clear();
    allFetched_ = false;
    recNo_ = 0;
    current_ = 0;
    FetchNext();
  } catch (...) {
    DoClose(false);
    throw;
  }
  bof_ = true;
  eof_ = rows_.empty();
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
  rows_.clear();
  spare_ = {};
  bof_ = eof_ = true;
  fields_.fields_.clear();
  InternalClose();
}

bool TDataSet::FetchNext() {
  if (allFetched_) return false;
  TRecordBuffer& target = uniDirectional_ ? spare_ : rows_.emplace_back();
  bool fetched;
  try {
    fetched = FetchRecord(target);
  } catch (...) {
    if (!uniDirectional_) rows_.pop_back();
    throw;
  }
  if (!fetched) {
    if (!uniDirectional_) rows_.pop_back();
    allFetched_ = true;
    return false;
  }
  if (uniDirectional_) {
    if (rows_.empty()) rows_.emplace_back();
    std::swap(rows_[0], spare_);
  }
  ++recNo_;
  return true;
}

void TDataSet::FetchAll() {
  if (uniDirectional_) {
    // Keeps only the last row.
    while (FetchNext()) {
    }
    return;
  }
  while (FetchNext()) {
  }
}

void TDataSet::PrepareWrite() {
  // The record source may not be read while rows are written.
  if (!uniDirectional_) FetchAll();
}

const TVariant& TDataSet::CurrentValue(int index) const {
  if (state_ == dsEdit || state_ == dsInsert) return editBuffer_.Values[static_cast<size_t>(index)];
  if (rows_.empty()) return null_;
  return rows_[current_].Values[static_cast<size_t>(index)];
}

const TVariant* TDataSet::StoredValue(int index) const {
  if (state_ == dsInsert || rows_.empty()) return nullptr;
  return &rows_[current_].Values[static_cast<size_t>(index)];
}

void TDataSet::StoreValue(int index, const TVariant& value) { editBuffer_.Values[static_cast<size_t>(index)] = value; }

bool TDataSet::IsEmpty() const { return rows_.empty(); }

int TDataSet::RecNo() const {
  if (rows_.empty()) return 0;
  return static_cast<int>(uniDirectional_ ? recNo_ : static_cast<int64_t>(current_) + 1);
}

int TDataSet::RecordCount() {
  CheckActive();
  if (uniDirectional_) return static_cast<int>(recNo_);
  FetchAll();
  return static_cast<int>(rows_.size());
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
  current_ = 0;
  bof_ = true;
  eof_ = rows_.empty();
  DataEvent(deDataSetChange, 0);
  Fire(afterScroll_);
}

void TDataSet::Last() {
  CheckBrowseMode();
  Fire(beforeScroll_);
  FetchAll();
  current_ = rows_.empty() ? 0 : rows_.size() - 1;
  eof_ = true;
  bof_ = rows_.empty();
  DataEvent(deDataSetChange, 0);
  Fire(afterScroll_);
}

void TDataSet::Next() { MoveBy(1); }
void TDataSet::Prior() { MoveBy(-1); }

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  if (distance == 0) return 0;
  if (distance < 0 && uniDirectional_) DatabaseError("Operation not allowed on a unidirectional dataset");
  Fire(beforeScroll_);
  int moved = 0;
  if (distance > 0) {
    while (moved < distance) {
      if (uniDirectional_ ? FetchNext() : (current_ + 1 < rows_.size() || FetchNext())) {
        if (!uniDirectional_) ++current_;
        ++moved;
      } else {
        eof_ = true;
        break;
      }
    }
    if (moved > 0) {
      bof_ = false;
      if (moved == distance) eof_ = false;
    }
  } else {
    while (moved > distance) {
      if (current_ > 0) {
        --current_;
        --moved;
      } else {
        bof_ = true;
        break;
      }
    }
    if (moved < 0) {
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
    editBuffer_ = rows_[current_];
    SetState(dsEdit);
    DataEvent(deRecordChange, 0);
    Fire(afterEdit_);
    return;
  }
  Fire(beforeInsert_);
  if (append) FetchAll();
  insertAt_ = append || rows_.empty() ? rows_.size() : current_;
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
  if (rows_.empty()) {
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
  if (state_ == dsEdit) {
    TRecordBuffer written = editBuffer_;
    InternalPost(&rows_[current_], written);
    rows_[current_] = std::move(written);
  } else {
    TRecordBuffer written = editBuffer_;
    InternalPost(nullptr, written);
    if (uniDirectional_) {
      if (rows_.empty()) rows_.emplace_back();
      rows_[0] = std::move(written);
      current_ = 0;
    } else {
      insertAt_ = std::min(insertAt_, rows_.size());
      rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(insertAt_), std::move(written));
      current_ = insertAt_;
    }
    bof_ = eof_ = false;
  }
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
  if (rows_.empty()) DatabaseError("Cannot perform this operation on an empty dataset");
  DataEvent(deCheckBrowseMode, 0);
  Fire(beforeDelete_);
  PrepareWrite();
  InternalDelete(rows_[current_]);
  editBuffer_ = {};
  if (uniDirectional_) {
    rows_.clear();
    if (FetchNext()) --recNo_;  // the next row takes the deleted one's place
  } else {
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(current_));
    if (current_ >= rows_.size() && current_ > 0) --current_;
  }
  if (rows_.empty()) bof_ = eof_ = true;
  SetState(dsBrowse);
  DataEvent(deDataSetChange, 0);
  Fire(afterDelete_);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  if (uniDirectional_) DatabaseError("Operation not allowed on a unidirectional dataset");
  const size_t position = current_;
  InternalRestart();
  rows_.clear();
  allFetched_ = false;
  recNo_ = 0;
  while (rows_.size() <= position && FetchNext()) {
  }
  current_ = rows_.empty() ? 0 : std::min(position, rows_.size() - 1);
  bof_ = current_ == 0;
  eof_ = rows_.empty();
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
  const std::vector<TDataLink*> links = Snapshot(links_);
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
