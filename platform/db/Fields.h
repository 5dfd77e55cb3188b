#pragma once
// The fields of a dataset: TField, one column whose value is the current
// record's, its typed descendants, which convert what is assigned to them,
// and TFields, a dataset's list of them. Values are read and written through
// the dataset (db/DB.h), which includes this header; include DB.h, which also
// holds the fields' inline accessors.
//
// Any thread; a field with its dataset from one thread at a time.
#include <cstdint>
#include <memory>
#include <vector>

#include <ztlogger/platform/classes/Component.h>
#include <ztlogger/platform/classes/TypInfo.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Method.h>
#include <ztlogger/platform/rtl/Variants.h>

namespace ztl {

enum TFieldType : uint8_t { ftUnknown, ftString, ftInteger, ftBoolean, ftFloat, ftDateTime, ftBlob };
ZTL_ENUM_NAMES(TFieldType, "ftUnknown", "ftString", "ftInteger", "ftBoolean", "ftFloat", "ftDateTime", "ftBlob")

class TDataSet;
class TField;

using TFieldNotifyEvent = TMethodRef<void(TField* Sender)>;

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

}  // namespace ztl
