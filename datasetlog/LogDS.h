#pragma once
// The dataset change logger: follows one data source through a data link of
// its own, writes a dated "CHANGE" line for every data event it reports, and
// hands the application an INSERT or UPDATE statement describing each
// record about to be posted.
#include <cstdint>
#include <memory>

#include <ztlogger/core/LogBase.h>
#include <ztlogger/platform/db/DB.h>
#include <ztlogger/platform/rtl/DateUtils.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

enum TZTLDBTypeEvent : uint8_t {
  dbeActiveChanged,
  dbeEditingChanged,
  dbeDataSetChanged,
  dbeDataSetScrolled,
  dbeLayoutChanged,
  dbeRecordChanged,
  dbeUpdateData,
};
ZTL_ENUM_NAMES(TZTLDBTypeEvent, "dbeActiveChanged", "dbeEditingChanged", "dbeDataSetChanged", "dbeDataSetScrolled",
               "dbeLayoutChanged", "dbeRecordChanged", "dbeUpdateData")
using TZTLDBTypeEvents = TSet<TZTLDBTypeEvent, 7>;

// How the statements write values. slDoubleQuoted, the default, puts them
// in double quotes, which databases such as SQLite read as a column's name
// when one has that name: for SQLite and other standard SQL databases choose
// slStandard, single quotes. Either way a quote inside a value is doubled;
// numbers are quoted too; names that need it are in double quotes.
enum TZTLSQLLiterals : uint8_t { slDoubleQuoted, slStandard };
ZTL_ENUM_NAMES(TZTLSQLLiterals, "slDoubleQuoted", "slStandard")

// Field is the field concerned or nullptr; the handler may change LogText.
using TZTLDataChangeEvent =
    TMethodRef<void(TObject* Sender, TZTLDBTypeEvent State, TField* Field, String& LogText)>;
using TZTLSQLStatementEvent = TMethodRef<void(TObject* Sender, const String& SQL)>;

// Follows one data source and writes a dated "CHANGE" line for every data
// event of the kinds FilterEvents selects (OnChange may change the line
// first); for each record about to be posted it hands OnSQLStatement the
// INSERT or UPDATE statement that describes the change:
//
//     auto* changes = new TZTDatasetLog(form);
//     changes->SetLogFile("customers-changes.log");
//     changes->SetDataSource(customersSource);
//     changes->SetOnSQLStatement(MakeMethod<&TMainForm::ReplayStatement>(form));
//
// Main thread only, as the data source it follows.
class ZTL_API TZTDatasetLog : public TZTLogBase {
  ZTL_DECLARE_CLASS(TZTDatasetLog, TZTLogBase)

 public:
  explicit TZTDatasetLog(TComponent* AOwner);
  ~TZTDatasetLog() override;

  TDataSource* GetDataSource() const;
  TDataSource* DataSource() const { return GetDataSource(); }
  // Follows Value (nullptr: none) and, unless the component is loading,
  // handles dbeActiveChanged without a field.
  void SetDataSource(TDataSource* Value);
  // The events that are logged; all seven by default.
  TZTLDBTypeEvents FilterEvents() const { return FFilterEvents; }
  void SetFilterEvents(TZTLDBTypeEvents Value) { FFilterEvents = Value; }
  // How values are written in the statements; stored only when slStandard.
  TZTLSQLLiterals SQLLiterals() const { return FSQLLiterals; }
  void SetSQLLiterals(TZTLSQLLiterals Value) { FSQLLiterals = Value; }
  // Called for every logged event before its line is written.
  TZTLDataChangeEvent OnChange() const { return FOnChange; }
  void SetOnChange(const TZTLDataChangeEvent& Value) { FOnChange = Value; }
  // Called with the statement of a record about to be posted.
  TZTLSQLStatementEvent OnSQLStatement() const { return FOnSQLStatement; }
  void SetOnSQLStatement(const TZTLSQLStatementEvent& Value) { FOnSQLStatement = Value; }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Handles one event completely: the statement when a record is about to be
  // posted, then the log line, OnChange, and the "CHANGE" entry. Nothing at
  // design time, while inactive, or for an event outside FilterEvents.
  // Errors of handlers and of the log file pass to the caller.
  virtual void UpdateStatus(TZTLDBTypeEvent Event, TField* Field);

 private:
  class TLogDataLink;
  friend class TLogDataLink;

  // Value as a literal of the chosen form.
  String Literal(const String& Value) const;

  std::unique_ptr<TLogDataLink> FDataLink;
  TZTLDataChangeEvent FOnChange;
  TZTLSQLStatementEvent FOnSQLStatement;
  TZTLDBTypeEvents FFilterEvents;
  TZTLSQLLiterals FSQLLiterals = slDoubleQuoted;
  // The room of the last line (unless a long value made it large), taken by
  // the next one: a line is composed for every event. A line composed while
  // another is (from a handler) makes its own.
  String FLineRoom;
  // Events come in bursts: lines of the same millisecond share their date.
  TDateTimeTextMemo FLineDate;
};

// The name of the table a dataset's rows come from, as the statements give
// it: its published "TableName", else what follows "FROM " in its published
// "SQL" text (its lines with CR LF between them) up to a blank or line
// break, else the whole text; in each case cut before a ".". Empty for nullptr or a dataset with neither property.
ZTL_API String DataSetTableName(const TDataSet* DataSet);

}  // namespace ztl
