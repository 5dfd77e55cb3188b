#include <ztlogger/datasetlog/LogDS.h>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/rtl/DateUtils.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Variants.h>

namespace ztl {

namespace {

constexpr TZTLDBTypeEvents AllEvents{dbeActiveChanged, dbeEditingChanged, dbeDataSetChanged, dbeDataSetScrolled,
                                     dbeLayoutChanged, dbeRecordChanged, dbeUpdateData};

// A double quote inside double-quoted text is written twice, so that a value
// or a name holding one cannot end the quoted text early.
String DoubleQuoted(const String& text) { return "\"" + StringReplaceAll(text, "\"", "\"\"") + "\""; }

String QuotedName(const String& name) {
  return name.find(' ') != String::npos || name.find('"') != String::npos ? DoubleQuoted(name) : name;
}

// Standard SQL's text literal: single quotes, an inner one written twice.
String SingleQuoted(const String& text) { return "'" + StringReplaceAll(text, "'", "''") + "'"; }

// The lines with CR LF between them and none after the last: the name may
// become a line of a statement.
String JoinedLines(const TStrings& lines) {
  String text;
  for (int i = 0; i < lines.Count(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines.Get(i);
  }
  return text;
}

}  // namespace

// Hands each notification of the framework to the owner as an event.
class TZTDatasetLog::TLogDataLink final : public TDataLink {
 public:
  explicit TLogDataLink(TZTDatasetLog* ALogComponent) : FLogComponent(ALogComponent) {}
  ~TLogDataLink() override { FLogComponent = nullptr; }

 protected:
  void ActiveChanged() override { Forward(dbeActiveChanged, nullptr); }
  void DataSetChanged() override { Forward(dbeDataSetChanged, nullptr); }
  void DataSetScrolled(int) override { Forward(dbeDataSetScrolled, nullptr); }
  void EditingChanged() override { Forward(dbeEditingChanged, nullptr); }
  void LayoutChanged() override { Forward(dbeLayoutChanged, nullptr); }
  void RecordChanged(TField* Field) override { Forward(dbeRecordChanged, Field); }
  void UpdateData() override { Forward(dbeUpdateData, nullptr); }

 private:
  void Forward(TZTLDBTypeEvent Event, TField* Field) {
    if (FLogComponent != nullptr) FLogComponent->UpdateStatus(Event, Field);
  }

  TZTDatasetLog* FLogComponent;
};

String DataSetTableName(const TDataSet* DataSet) {
  String name;
  if (DataSet == nullptr) return name;
  if (const TPropInfo* table = GetPropInfo(DataSet, "TableName"); table != nullptr && table->Kind == tkString) {
    name = GetStrProp(DataSet, "TableName");
  } else if (const TPropInfo* sql = GetPropInfo(DataSet, "SQL");
             sql != nullptr && (sql->Kind == tkStrings || sql->Kind == tkPersistent)) {
    if (const auto* lines = dynamic_cast<const TStrings*>(GetObjectProp(DataSet, "SQL"))) {
      name = JoinedLines(*lines);
      const size_t from = UpperCase(name).find("FROM ");
      if (from != String::npos) {
        name.erase(0, from + 5);
        for (char stop : {' ', '\r', '\n'})
          if (const size_t at = name.find(stop); at != String::npos) name.erase(at);
      }
    }
  }
  if (const size_t dot = name.find('.'); dot != String::npos) name.erase(dot);
  return name;
}

ZTL_BEGIN_CLASS(TZTDatasetLog, TZTLogBase)
  .Property("DataSource", &Self::DataSource, &Self::SetDataSource)
  .Property("FilterEvents", &Self::FilterEvents, &Self::SetFilterEvents).Default(AllEvents)
  .Property("SQLLiterals", &Self::SQLLiterals, &Self::SetSQLLiterals).Default(slDoubleQuoted)
  .Property("OnChange", &Self::OnChange, &Self::SetOnChange)
  .Property("OnSQLStatement", &Self::OnSQLStatement, &Self::SetOnSQLStatement)
ZTL_END_CLASS

TZTDatasetLog::TZTDatasetLog(TComponent* AOwner)
    : TZTLogBase(AOwner), FDataLink(std::make_unique<TLogDataLink>(this)), FFilterEvents(AllEvents) {}

TZTDatasetLog::~TZTDatasetLog() { FDataLink.reset(); }

TDataSource* TZTDatasetLog::GetDataSource() const { return FDataLink ? FDataLink->DataSource() : nullptr; }

void TZTDatasetLog::SetDataSource(TDataSource* Value) {
  FDataLink->SetDataSource(Value);
  if (Value != nullptr) Value->FreeNotification(this);
  if (!ComponentState().Contains(csLoading)) UpdateStatus(dbeActiveChanged, nullptr);
}

void TZTDatasetLog::Notification(TComponent* AComponent, TOperation Operation) {
  TZTLogBase::Notification(AComponent, Operation);
  if (Operation == opRemove && FDataLink && AComponent == GetDataSource()) SetDataSource(nullptr);
}

String TZTDatasetLog::Literal(const String& Value) const {
  return FSQLLiterals == slStandard ? SingleQuoted(Value) : DoubleQuoted(Value);
}

void TZTDatasetLog::UpdateStatus(TZTLDBTypeEvent Event, TField* Field) {
  if (ComponentState().Contains(csDesigning) || !Active() || !FFilterEvents.Contains(Event)) return;

  if (Event == dbeUpdateData && FOnSQLStatement) {
    TDataSet* dataSet = FDataLink->DataSet();
    const TDataSetState state = dataSet != nullptr ? dataSet->State() : dsInactive;
    String columns, values;
    const int count = dataSet != nullptr ? dataSet->FieldCount() : 0;
    for (int i = 0; i < count; ++i) {
      TField* field = dataSet->Fields()[i];
      const TVariant oldValue = field->OldValue();
      const TVariant newValue = field->NewValue();
      if (!(oldValue != newValue)) continue;
      const String name = QuotedName(field->FieldName());
      const String quotedNew = Literal(VarToStr(newValue));
      if (!columns.empty()) columns += ", ";
      if (state == dsEdit) {
        columns += name + "=" + quotedNew;
        if (!values.empty()) values += " AND ";
        values += "(" + name + "=" + Literal(VarToStr(oldValue)) + ")";
      } else if (state == dsInsert) {
        columns += name;
        if (!values.empty()) values += ", ";
        values += quotedNew;
      }
    }
    String statement;
    if (!columns.empty() && !values.empty()) {
      const String table = DataSetTableName(dataSet);
      if (state == dsEdit)
        statement = "UPDATE " + table + "\r\nSET\r\n  " + columns + "\r\nWHERE\r\n  " + values;
      else if (state == dsInsert)
        statement = "INSERT INTO " + table + "\r\n  (" + columns + ")\r\nVALUES\r\n  (" + values + ")";
    }
    if (!statement.empty()) FOnSQLStatement(this, statement);
  }

  // Built in one buffer, starting with the date.
  String logText = std::move(FLineRoom);
  logText.reserve(64);
  logText.assign(FLineDate.Text(Now(), FormatSettings()));
  logText.append(1, ' ').append(EnumTypeInfo(Event).Names[Event]);
  if (Field != nullptr) logText.append(1, ' ').append(Field->FieldName()).append(1, ':').append(Field->AsString());
  logText.append("\r\n");
  if (FOnChange) FOnChange(this, Event, Field, logText);
  if (!LogFile().empty()) WriteAsString("CHANGE", logText);
  if (logText.capacity() <= 256) FLineRoom = std::move(logText);
}

}  // namespace ztl
