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
#include <ztlogger/platform/db/Fields.h>
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

class TDataSet;
class TDataSource;
class TDataLink;
class TField;

using TDataSetNotifyEvent = TMethodRef<void(TDataSet* DataSet)>;
using TDataChangeEvent = TMethodRef<void(TObject* Sender, TField* Field)>;

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
  // DataEvent's work once there is something to note or someone to tell.
  [[gnu::noinline]] ZTL_LOCAL void Deliver(TDataEvent Event, intptr_t Info);
  void FieldChanged(TField* field);
  void NotifySources(TDataEvent Event, intptr_t Info);
  void DoClose(bool notify);
  // The steps of a scan, kept out of the library's exports so that the
  // compiler may call them directly or inline them.
  // Moves up to distance (> 0) records on, reading rows as needed; sets Eof
  // when it stops short. Gives the number moved.
  ZTL_LOCAL int MoveForward(int distance);
  // MoveBy once a pending edit is finished.
  int MoveInBrowseMode(int distance);
  ZTL_LOCAL bool FetchNext();
  size_t RowCount() const;
  ZTL_LOCAL void LoadRow(size_t index);
  void FetchAll();
  const TVariant& CurrentValue(int index) const;
  const TVariant* StoredValue(int index) const;
  void StoreValue(int index, const TVariant& value);
  void BeginEditing(TDataSetState editState, bool append);
  ZTL_LOCAL void CheckActive() const;
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
  // A scan's case first.
  if (state_ == dsBrowse && hasRecord_) return record_.Values[static_cast<size_t>(index)];
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
