#include <ztlogger/platform/db/Fields.h>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/db/DB.h>
#include <ztlogger/platform/rtl/DateUtils.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

namespace {

bool InEditModes(TDataSetState state) { return state == dsEdit || state == dsInsert || state == dsSetKey; }

[[noreturn]] void DatabaseError(const String& message) { throw EDatabaseError(message); }

}  // namespace

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

TVariant TField::Value() const { return CurrentValue(); }

const TVariant& TField::NoValue() {
  static const TVariant none = TVariant::Null();
  return none;
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

const String& TField::AsString() const {
  const TVariant& value = CurrentValue();
  if (value.VarType() == varString)
    text_.assign(value.StringRef());
  else
    text_ = VarToStr(value);
  return text_;
}

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

}  // namespace ztl
