#pragma once
// The database layer: datasets with a cursor over records and fields, data
// sources that tell their data links what happens to a dataset, and the data
// links through which controls and components follow it.
//
// TDataSet is the state machine (browse, edit, insert...) over an abstract
// record source; a descendant supplies the rows and writes changes back (the
// SQLite datasets of db/SQLiteDB.h). Notifications reach the links in the
// order of the family's data-aware frameworks.
//
// Any thread; a dataset with its sources and links from one thread at a time.
#include <cstdint>
#include <memory>
#include <vector>

#include <ztlogger/platform/classes/Component.h>
#include <ztlogger/platform/classes/Set.h>
#include <ztlogger/platform/classes/TypInfo.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Method.h>
#include <ztlogger/platform/rtl/Variants.h>

namespace ztl {

ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EDatabaseError, Exception)

enum TDataSetState : uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
  dsOpening,
  dsRefreshFields,
};
ZTL_ENUM_NAMES(TDataSetState, "dsInactive", "dsBrowse", "dsEdit", "dsInsert", "dsSetKey", "dsCalcFields", "dsFilter",
               "dsNewValue", "dsOldValue", "dsCurValue", "dsBlockRead", "dsInternalCalc", "dsOpening",
               "dsRefreshFields")

enum TDataEvent : uint8_t {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deFieldListChange,
  deFocusControl,
  deParentScroll,
  deConnectChange,
  deReconcileError,
  deDisabledStateChange,
};

enum TFieldType : uint8_t { ftUnknown, ftString, ftInteger, ftBoolean, ftFloat, ftDateTime, ftBlob };
ZTL_ENUM_NAMES(TFieldType, "ftUnknown", "ftString", "ftInteger", "ftBoolean", "ftFloat", "ftDateTime", "ftBlob")

class TDataSet;
class TDataSource;
class TDataLink;
class TField;

using TDataSetNotifyEvent = TMethodRef<void(TDataSet* DataSet)>;
using TFieldNotifyEvent = TMethodRef<void(TField* Sender)>;
using TDataChangeEvent = TMethodRef<void(TObject* Sender, TField* Field)>;

// One column of a dataset. Its value is the current record's, read and
// written through the dataset; writing needs the dataset in an editing
// state. The typed descendants convert what is assigned to their type and
// raise EConvertError (text that is no such value) or EDatabaseError.
class ZTL_PLATFORM_API TField : public TComponent {
  ZTL_DECLARE_CLASS(TField, TComponent)

 public:
  explicit TField(TComponent* AOwner);
  ~TField() override;

  TDataSet* DataSet() const { return dataSet_; }
  const String& FieldName() const { return fieldName_; }
  void SetFieldName(const String& value) { fieldName_ = value; }
  TFieldType DataType() const { return dataType_; }
  // The position among the dataset's fields.
  int Index() const { return index_; }
  bool Required() const { return required_; }
  void SetRequired(bool value) { required_ = value; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; }
  const String& DisplayLabel() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }
  // Tells the links of the dataset that the layout changed.
  void SetDisplayLabel(const String& value);

  // The value of the current record: Null for a null column, and for every
  // field while the dataset is empty.
  TVariant Value() const;
  // Converts to the field's type and stores it in the record being edited;
  // the links get RecordChanged(this), also when the value is the same.
  void SetValue(const TVariant& value);
  // The value before the pending edit (Null while inserting).
  TVariant OldValue() const;
  // The value as it is now, with the pending edit.
  TVariant NewValue() const;
  bool IsNull() const { return CurrentValue().IsNull(); }
  // Copies the value into a variable the caller keeps, reusing its room.
  // False for a null value.
  bool GetData(TVariant& Buffer) const;
  void Clear() { SetValue(TVariant::Null()); }

  // The conversions raise for a null value what TVariant raises, except
  // AsString, which gives the empty string. AsString's text is held in a
  // buffer the field keeps, valid until its next AsString: a scan that reads
  // every row's text allocates nothing once the buffer fits the longest.
  virtual const String& AsString() const;
  void SetAsString(const String& value);
  int64_t AsInteger() const { return CurrentValue().AsInteger(); }
  void SetAsInteger(int64_t value) { SetValue(TVariant(value)); }
  double AsFloat() const { return CurrentValue().AsFloat(); }
  void SetAsFloat(double value) { SetValue(TVariant(value)); }
  bool AsBoolean() const { return CurrentValue().AsBoolean(); }
  void SetAsBoolean(bool value) { SetValue(TVariant(value)); }
  TDateTime AsDateTime() const { return CurrentValue().AsDateTime(); }
  void SetAsDateTime(TDateTime value) { SetValue(TVariant::FromDateTime(value)); }
  // The text form shown to a person; the value's text but for blobs.
  virtual String Text() const { return AsString(); }

  TFieldNotifyEvent OnChange() const { return onChange_; }
  void SetOnChange(const TFieldNotifyEvent& value) { onChange_ = value; }

 protected:
  // The value of the current record, without a copy. Inline: a scan reads
  // every field of every row through it.
  const TVariant& CurrentValue() const;
  // The stored form of a value assigned to the field; Null stays Null.
  virtual TVariant Convert(const TVariant& value) const { return value; }
  void SetDataType(TFieldType value) { dataType_ = value; }

 private:
  friend class TDataSet;
  friend class TFields;
  // Null: the value of a field without a dataset.
  static const TVariant& NoValue();
  TDataSet* dataSet_ = nullptr;
  String fieldName_;
  String displayLabel_;
  TFieldType dataType_ = ftUnknown;
  int index_ = -1;
  bool required_ = false;
  bool readOnly_ = false;
  TFieldNotifyEvent onChange_;
  mutable String text_;  // what AsString gave last
};

class ZTL_PLATFORM_API TStringField : public TField {
  ZTL_DECLARE_CLASS(TStringField, TField)
 public:
  explicit TStringField(TComponent* AOwner);

 protected:
  TVariant Convert(const TVariant& value) const override;
};

class ZTL_PLATFORM_API TIntegerField : public TField {
  ZTL_DECLARE_CLASS(TIntegerField, TField)
 public:
  explicit TIntegerField(TComponent* AOwner);

 protected:
  TVariant Convert(const TVariant& value) const override;
};

class ZTL_PLATFORM_API TFloatField : public TField {
  ZTL_DECLARE_CLASS(TFloatField, TField)
 public:
  explicit TFloatField(TComponent* AOwner);

 protected:
  TVariant Convert(const TVariant& value) const override;
};

class ZTL_PLATFORM_API TBooleanField : public TField {
  ZTL_DECLARE_CLASS(TBooleanField, TField)
 public:
  explicit TBooleanField(TComponent* AOwner);

 protected:
  TVariant Convert(const TVariant& value) const override;
};

class ZTL_PLATFORM_API TDateTimeField : public TField {
  ZTL_DECLARE_CLASS(TDateTimeField, TField)
 public:
  explicit TDateTimeField(TComponent* AOwner);

 protected:
  TVariant Convert(const TVariant& value) const override;
};

// Binary data held as bytes in a string.
class ZTL_PLATFORM_API TBlobField : public TField {
  ZTL_DECLARE_CLASS(TBlobField, TField)
 public:
  explicit TBlobField(TComponent* AOwner);
  // "(BLOB)", or "(blob)" for a null value.
  String Text() const override;

 protected:
  TVariant Convert(const TVariant& value) const override;
};

// The fields of a dataset, in column order; owned by it.
class ZTL_PLATFORM_API TFields {
 public:
  TFields() = default;
  TFields(const TFields&) = delete;
  TFields& operator=(const TFields&) = delete;

  int Count() const { return static_cast<int>(fields_.size()); }
  // Raises EListError for an index out of range.
  TField* Fields(int index) const;
  TField* operator[](int index) const { return Fields(index); }
  // Case-insensitive; nullptr when there is none.
  TField* FindField(const String& name) const;

 private:
  friend class TDataSet;
  std::vector<std::unique_ptr<TField>> fields_;
};

// One row: a value per field, and the key the record source uses to find it
// again (a row id; opaque to the dataset).
struct TRecordBuffer {
  std::vector<TVariant> Values;
  int64_t Key = 0;
};

class ZTL_PLATFORM_API TDataSet : public TComponent {
  ZTL_DECLARE_CLASS(TDataSet, TComponent)

 public:
  explicit TDataSet(TComponent* AOwner);
  // Closes the dataset (pending edits are dropped) and lets go of its
  // data sources.
  ~TDataSet() override;

  // Opening reads the field layout and the first record; failures of the
  // record source propagate and leave the dataset closed. Closing drops a
  // pending edit without writing it.
  void Open();
  void Close();
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool value);
  TDataSetState State() const { return state_; }

  // The cursor. Moving first finishes a pending edit (Post when a field was
  // changed, else Cancel).
  void First();
  void Next();
  void Prior();
  void Last();
  // Moves up to distance records; gives the number moved (negative backwards).
  int MoveBy(int distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const;
  // 1-based; 0 when empty.
  int RecNo() const;
  // The number of records. Reads them all, except on a unidirectional
  // dataset, which counts those read so far.
  int RecordCount();

  // Editing. Edit on an empty dataset appends. Post writes through the
  // record source first: if that raises, the dataset stays in its editing
  // state with the edit as it was. Delete in the insert state cancels.
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  // Reads the records again, keeping the position where it still exists.
  void Refresh();
  // Posts or cancels a pending edit, as moving does.
  void CheckBrowseMode();
  // Whether a field was assigned since the edit began.
  bool Modified() const { return modified_; }
  // Asks the links to put their pending data into the fields.
  void UpdateRecord();

  TFields& Fields() { return fields_; }
  const TFields& Fields() const { return fields_; }
  int FieldCount() const { return fields_.Count(); }
  // FieldByName raises EDatabaseError "Field 'X' not found" where FindField
  // gives nullptr.
  TField* FieldByName(const String& name) const;
  TField* FindField(const String& name) const { return fields_.FindField(name); }

  // While disabled, no data source hears of anything; the outermost enable
  // tells them the state if it changed, then that the dataset changed.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ > 0; }

  // Only forward movement; only the current record is kept.
  bool UniDirectional() const { return uniDirectional_; }
  void SetUniDirectional(bool value);

  // The events of the family; a Before event that raises stops the operation.
  TDataSetNotifyEvent BeforeOpen() const { return beforeOpen_; }
  void SetBeforeOpen(const TDataSetNotifyEvent& v) { beforeOpen_ = v; }
  TDataSetNotifyEvent AfterOpen() const { return afterOpen_; }
  void SetAfterOpen(const TDataSetNotifyEvent& v) { afterOpen_ = v; }
  TDataSetNotifyEvent BeforeClose() const { return beforeClose_; }
  void SetBeforeClose(const TDataSetNotifyEvent& v) { beforeClose_ = v; }
  TDataSetNotifyEvent AfterClose() const { return afterClose_; }
  void SetAfterClose(const TDataSetNotifyEvent& v) { afterClose_ = v; }
  TDataSetNotifyEvent BeforeInsert() const { return beforeInsert_; }
  void SetBeforeInsert(const TDataSetNotifyEvent& v) { beforeInsert_ = v; }
  TDataSetNotifyEvent AfterInsert() const { return afterInsert_; }
  void SetAfterInsert(const TDataSetNotifyEvent& v) { afterInsert_ = v; }
  TDataSetNotifyEvent BeforeEdit() const { return beforeEdit_; }
  void SetBeforeEdit(const TDataSetNotifyEvent& v) { beforeEdit_ = v; }
  TDataSetNotifyEvent AfterEdit() const { return afterEdit_; }
  void SetAfterEdit(const TDataSetNotifyEvent& v) { afterEdit_ = v; }
  TDataSetNotifyEvent BeforePost() const { return beforePost_; }
  void SetBeforePost(const TDataSetNotifyEvent& v) { beforePost_ = v; }
  TDataSetNotifyEvent AfterPost() const { return afterPost_; }
  void SetAfterPost(const TDataSetNotifyEvent& v) { afterPost_ = v; }
  TDataSetNotifyEvent BeforeCancel() const { return beforeCancel_; }
  void SetBeforeCancel(const TDataSetNotifyEvent& v) { beforeCancel_ = v; }
  TDataSetNotifyEvent AfterCancel() const { return afterCancel_; }
  void SetAfterCancel(const TDataSetNotifyEvent& v) { afterCancel_ = v; }
  TDataSetNotifyEvent BeforeDelete() const { return beforeDelete_; }
  void SetBeforeDelete(const TDataSetNotifyEvent& v) { beforeDelete_ = v; }
  TDataSetNotifyEvent AfterDelete() const { return afterDelete_; }
  void SetAfterDelete(const TDataSetNotifyEvent& v) { afterDelete_ = v; }
  TDataSetNotifyEvent BeforeScroll() const { return beforeScroll_; }
  void SetBeforeScroll(const TDataSetNotifyEvent& v) { beforeScroll_ = v; }
  TDataSetNotifyEvent AfterScroll() const { return afterScroll_; }
  void SetAfterScroll(const TDataSetNotifyEvent& v) { afterScroll_ = v; }
  TDataSetNotifyEvent OnNewRecord() const { return onNewRecord_; }
  void SetOnNewRecord(const TDataSetNotifyEvent& v) { onNewRecord_ = v; }

  // Tells the data sources; field changes first mark the record modified
  // and run the field's OnChange.
  virtual void DataEvent(TDataEvent Event, intptr_t Info);

 protected:
  // The record source. InternalOpen prepares the rows and declares the
  // fields with AddField; FetchRecord fills the next row (false at the end,
  // and the source may then let go of what it reads from: a non-
  // unidirectional dataset reads every row before it writes one);
  // InternalClose releases what InternalOpen took.
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual bool FetchRecord(TRecordBuffer& record) = 0;
  // Writes a changed row (original given) or a new one (original nullptr);
  // may complete record (a new key, generated values). Raises on failure,
  // with nothing written.
  virtual void InternalPost(const TRecordBuffer* original, TRecordBuffer& record) = 0;
  virtual void InternalDelete(const TRecordBuffer& record) = 0;
  // Runs the record source again from its first row, for Refresh; the
  // fields stay as they are.
  virtual void InternalRestart() = 0;

  TField* AddField(const String& name, TFieldType type, bool required);
  void Loaded() override;

 private:
  friend class TField;
  friend class TDataSource;
  void SetState(TDataSetState value);
  void FieldChanged(TField* field);
  void NotifySources(TDataEvent Event, intptr_t Info);
  void DoClose(bool notify);
  bool FetchNext();
  size_t RowCount() const;
  void LoadRow(size_t index);
  void FetchAll();
  const TVariant& CurrentValue(int index) const;
  const TVariant* StoredValue(int index) const;
  void StoreValue(int index, const TVariant& value);
  void BeginEditing(TDataSetState editState, bool append);
  void CheckActive() const;
  void PrepareWrite();
  void Fire(const TDataSetNotifyEvent& event) {
    if (event) event(this);
  }

  TDataSetState state_ = dsInactive;
  TFields fields_;
  struct RowStore;
  std::unique_ptr<RowStore> rows_;  // the rows read, unless unidirectional
  TRecordBuffer record_;            // the current row
  bool hasRecord_ = false;          // false while the dataset is empty
  size_t current_ = 0;              // the current row's index among those read
  int64_t recNo_ = 0;                // of a unidirectional dataset: rows read so far
  bool bof_ = true;
  bool eof_ = true;
  bool allFetched_ = false;
  TRecordBuffer editBuffer_;
  size_t insertAt_ = 0;
  TRecordBuffer spare_;       // where the source reads the next row to
  bool spareIsLast_ = false;  // spare_ holds the last row read, unpacked
  TVariant null_ = TVariant::Null();
  bool modified_ = false;
  bool uniDirectional_ = false;
  bool openWhenLoaded_ = false;
  int disableCount_ = 0;
  TDataSetState disabledState_ = dsInactive;
  bool layoutChangedWhileDisabled_ = false;
  std::vector<TDataSource*> dataSources_;

  TDataSetNotifyEvent beforeOpen_, afterOpen_, beforeClose_, afterClose_, beforeInsert_, afterInsert_, beforeEdit_,
      afterEdit_, beforePost_, afterPost_, beforeCancel_, afterCancel_, beforeDelete_, afterDelete_, beforeScroll_,
      afterScroll_, onNewRecord_;
};

inline const TVariant& TDataSet::CurrentValue(int index) const {
  if (state_ == dsEdit || state_ == dsInsert) return editBuffer_.Values[static_cast<size_t>(index)];
  if (!hasRecord_ || state_ == dsInactive) return null_;
  return record_.Values[static_cast<size_t>(index)];
}

inline const TVariant& TField::CurrentValue() const {
  return dataSet_ != nullptr ? dataSet_->CurrentValue(index_) : NoValue();
}

inline bool TField::GetData(TVariant& Buffer) const {
  Buffer = CurrentValue();
  return !Buffer.IsNull();
}

// The link between a dataset and the data-aware objects that follow it.
class ZTL_PLATFORM_API TDataSource : public TComponent {
  ZTL_DECLARE_CLASS(TDataSource, TComponent)

 public:
  explicit TDataSource(TComponent* AOwner);
  // Tells its links the dataset is gone for them, then lets go of them.
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* value);
  // A disabled source is inactive for its links.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  // Whether a link's Edit may put the dataset into its edit state.
  bool AutoEdit() const { return autoEdit_; }
  void SetAutoEdit(bool value) { autoEdit_ = value; }
  TDataSetState State() const { return state_; }
  // Puts a browsing dataset into its edit state when AutoEdit is set.
  void Edit();

  TNotifyEvent OnStateChange() const { return onStateChange_; }
  void SetOnStateChange(const TNotifyEvent& v) { onStateChange_ = v; }
  TDataChangeEvent OnDataChange() const { return onDataChange_; }
  void SetOnDataChange(const TDataChangeEvent& v) { onDataChange_ = v; }
  TNotifyEvent OnUpdateData() const { return onUpdateData_; }
  void SetOnUpdateData(const TNotifyEvent& v) { onUpdateData_ = v; }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void ProcessEvent(TDataEvent Event, intptr_t Info);
  void Distribute(TDataEvent Event, intptr_t Info);
  TDataSetState EffectiveState() const;

  TDataSet* dataSet_ = nullptr;
  bool enabled_ = true;
  bool autoEdit_ = true;
  TDataSetState state_ = dsInactive;
  std::vector<TDataLink*> links_;
  TNotifyEvent onStateChange_;
  TDataChangeEvent onDataChange_;
  TNotifyEvent onUpdateData_;
};

// A follower of one data source. A descendant overrides the notifications
// it cares for; their default bodies: ActiveChanged, CheckBrowseMode,
// EditingChanged, FocusControl, LayoutChanged, RecordChanged and UpdateData
// do nothing, DataSetScrolled calls DataSetChanged, DataSetChanged calls
// RecordChanged(nullptr).
class ZTL_PLATFORM_API TDataLink : public TObject {
  ZTL_DECLARE_CLASS(TDataLink, TObject)

 public:
  TDataLink();
  ~TDataLink() override;
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return dataSource_; }
  // Moves the link; it hears ActiveChanged when that changes whether it is
  // active, and nothing else.
  void SetDataSource(TDataSource* value);
  TDataSet* DataSet() const;
  // The source's dataset is open (its state is not inactive or opening).
  bool Active() const { return active_; }
  // The dataset is in an editing state and the link is not read-only.
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);
  // Links of controls hear each event after the other links.
  bool VisualControl() const { return visualControl_; }
  void SetVisualControl(bool value) { visualControl_ = value; }
  // Asks the source to edit; gives whether the link is editing.
  bool Edit();
  // Hands the link's pending data to the fields (UpdateData).
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int Distance) {
    (void)Distance;
    DataSetChanged();
  }
  virtual void EditingChanged() {}
  virtual void FocusControl(TField** Field) { (void)Field; }
  virtual void LayoutChanged() {}
  virtual void RecordChanged(TField* Field) { (void)Field; }
  virtual void UpdateData() {}
  virtual void DataEvent(TDataEvent Event, intptr_t Info);

 private:
  friend class TDataSource;
  void UpdateActiveAndEditing();

  TDataSource* dataSource_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool readOnly_ = false;
  bool visualControl_ = false;
  bool updatingRecord_ = false;
};

}  // namespace ztl
