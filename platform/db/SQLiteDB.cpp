#include <ztlogger/platform/db/SQLiteDB.h>

#include <sqlite3.h>

#include <algorithm>
#include <cctype>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/rtl/DateUtils.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

namespace {

constexpr TDateTime JulianDayOfDateTimeZero = 2415018.5;
constexpr int BusyTimeoutMs = 5000;

// Stored forms find the components by their class names.
const bool registered = [] {
  RegisterClass(TSQLiteConnection::StaticClass());
  RegisterClass(TSQLiteTable::StaticClass());
  RegisterClass(TSQLiteQuery::StaticClass());
  return true;
}();

[[noreturn]] void RaiseSQLite(sqlite3* db) { throw EDatabaseError(sqlite3_errmsg(db)); }

void Exec(sqlite3* db, const String& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const String text = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    throw EDatabaseError(text);
  }
}

String QuoteIdentifier(const String& name) { return "\"" + StringReplaceAll(name, "\"", "\"\"") + "\""; }

// A prepared statement finalised with its owner.
class Statement {
 public:
  Statement(sqlite3* db, const String& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK)
      RaiseSQLite(db);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* Get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// The field type for a column's declared type, by SQLite's own affinity
// rules, with dates and booleans told apart by their names.
TFieldType TypeOfDeclared(const char* declared, int storageClass) {
  if (declared == nullptr || *declared == '\0') {
    switch (storageClass) {
      case SQLITE_INTEGER: return ftInteger;
      case SQLITE_FLOAT: return ftFloat;
      case SQLITE_BLOB: return ftBlob;
      default: return ftString;
    }
  }
  const String type = UpperCase(declared);
  auto has = [&type](const char* part) { return type.find(part) != String::npos; };
  if (has("DATE") || has("TIME")) return ftDateTime;
  if (has("BOOL")) return ftBoolean;
  if (has("INT")) return ftInteger;
  if (has("CHAR") || has("CLOB") || has("TEXT")) return ftString;
  if (has("BLOB")) return ftBlob;
  if (has("REAL") || has("FLOA") || has("DOUB") || has("NUM") || has("DEC")) return ftFloat;
  return ftString;
}

String ColumnText(sqlite3_stmt* stmt, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  return String(text, static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
}

// Reads a column into value in place, as the field's type asks; what the
// type does not describe comes as it is stored. One call of the statement
// gives the column's value; the value calls that follow take no lock.
void ReadValue(sqlite3_stmt* stmt, int column, TFieldType type, TVariant& value) {
  sqlite3_value* column_value = sqlite3_column_value(stmt, column);
  const int storage = sqlite3_value_type(column_value);
  if (storage == SQLITE_NULL) {
    value.SetNull();
    return;
  }
  auto text = [column_value] {
    return String(reinterpret_cast<const char*>(sqlite3_value_text(column_value)),
                  static_cast<size_t>(sqlite3_value_bytes(column_value)));
  };
  switch (type) {
    case ftInteger:
      if (storage != SQLITE_INTEGER) break;
      value.SetInteger(sqlite3_value_int64(column_value));
      return;
    case ftFloat:
      if (storage == SQLITE_TEXT || storage == SQLITE_BLOB) break;
      value.SetFloat(sqlite3_value_double(column_value));
      return;
    case ftBoolean:
      if (storage != SQLITE_INTEGER) break;
      value = TVariant(sqlite3_value_int64(column_value) != 0);
      return;
    case ftDateTime: {
      TDateTime when;
      if (storage == SQLITE_FLOAT)
        when = sqlite3_value_double(column_value) - JulianDayOfDateTimeZero;
      else if (storage == SQLITE_INTEGER)
        when = static_cast<double>(sqlite3_value_int64(column_value)) / 86400.0 + UnixDateDelta;
      else if (!TryISOToDateTime(text(), when))
        break;
      value = TVariant::FromDateTime(when);
      return;
    }
    case ftBlob: {
      const auto* bytes = static_cast<const char*>(sqlite3_value_blob(column_value));
      value.SetString(bytes != nullptr ? bytes : "", static_cast<size_t>(sqlite3_value_bytes(column_value)));
      return;
    }
    default: break;
  }
  switch (storage) {
    case SQLITE_INTEGER: value.SetInteger(sqlite3_value_int64(column_value)); break;
    case SQLITE_FLOAT: value.SetFloat(sqlite3_value_double(column_value)); break;
    default: {
      const auto* chars = reinterpret_cast<const char*>(sqlite3_value_text(column_value));
      value.SetString(chars, static_cast<size_t>(sqlite3_value_bytes(column_value)));
    }
  }
}

void Bind(sqlite3* db, sqlite3_stmt* stmt, int index, const TVariant& value, bool asBlob) {
  int rc = SQLITE_OK;
  switch (value.VarType()) {
    case varEmpty:
    case varNull: rc = sqlite3_bind_null(stmt, index); break;
    case varInteger:
    case varBoolean: rc = sqlite3_bind_int64(stmt, index, value.AsInteger()); break;
    case varDouble: rc = sqlite3_bind_double(stmt, index, value.AsFloat()); break;
    case varDate: {
      const String text = DateTimeToISO(value.AsDateTime());
      rc = sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      break;
    }
    case varString: {
      const String text = value.AsString();
      rc = asBlob ? sqlite3_bind_blob(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT)
                  : sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      break;
    }
  }
  if (rc != SQLITE_OK) RaiseSQLite(db);
}

bool SameStoredValue(const TVariant& a, const TVariant& b) {
  if (a.VarType() != b.VarType()) return false;
  if (a.IsNull() || a.IsEmpty()) return true;
  return VarCompareValue(a, b) == 0;
}

}  // namespace

// ---- Connection

ZTL_BEGIN_CLASS(TSQLiteConnection, TComponent)
  .Property("DatabaseName", &Self::DatabaseName, &Self::SetDatabaseName)
  .Property("Connected", &Self::Connected, &Self::SetConnected).Default(false)
ZTL_END_CLASS

TSQLiteConnection::TSQLiteConnection(TComponent* AOwner) : TComponent(AOwner) {}

TSQLiteConnection::~TSQLiteConnection() {
  for (TSQLiteDataSet* dataSet : std::vector(dataSets_)) dataSet->SetConnection(nullptr);
  if (db_ != nullptr) sqlite3_close_v2(db_);
}

void TSQLiteConnection::SetDatabaseName(const String& value) {
  if (value == databaseName_) return;
  if (Connected()) throw EDatabaseError("Cannot change the database of an open connection");
  databaseName_ = value;
}

void TSQLiteConnection::SetConnected(bool value) {
  if (ComponentState().Contains(csLoading)) {
    connectWhenLoaded_ = value;
    return;
  }
  if (value == Connected()) return;
  if (value) {
    if (databaseName_.empty()) throw EDatabaseError("No database name given");
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(databaseName_.c_str(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
      const String message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
      sqlite3_close_v2(db);
      throw EDatabaseError(message + ": " + databaseName_);
    }
    // A connection is used on one thread at a time, as the framework's
    // objects are (NOMUTEX above spares SQLite's locking of every call).
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    db_ = db;
    return;
  }
  for (TSQLiteDataSet* dataSet : std::vector(dataSets_)) dataSet->Close();
  // Closing rolls back what is not committed.
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

void TSQLiteConnection::Loaded() {
  TComponent::Loaded();
  if (connectWhenLoaded_) SetConnected(true);
}

void TSQLiteConnection::StartTransaction() {
  Open();
  if (InTransaction()) throw EDatabaseError("A transaction is already active");
  Exec(db_, "BEGIN");
}

void TSQLiteConnection::Commit() {
  if (!InTransaction()) throw EDatabaseError("No transaction is active");
  Exec(db_, "COMMIT");
}

void TSQLiteConnection::Rollback() {
  if (!InTransaction()) throw EDatabaseError("No transaction is active");
  Exec(db_, "ROLLBACK");
  // What the datasets hold may have been undone: they read again.
  for (TSQLiteDataSet* dataSet : std::vector(dataSets_)) {
    if (!dataSet->Active() || dataSet->UniDirectional()) continue;
    dataSet->Cancel();
    dataSet->Refresh();
  }
}

bool TSQLiteConnection::InTransaction() const { return db_ != nullptr && sqlite3_get_autocommit(db_) == 0; }

void TSQLiteConnection::ExecSQL(const String& sql) {
  Open();
  Exec(db_, sql);
}

// ---- Parameters

TParam* TParams::FindParam(const String& name) const {
  for (const auto& p : items_)
    if (SameText(p->Name(), name)) return p.get();
  return nullptr;
}

TParam& TParams::ParamByName(const String& name) const {
  TParam* p = FindParam(name);
  if (p == nullptr) throw EDatabaseError("Parameter '" + name + "' not found");
  return *p;
}

// ---- Datasets

struct TSQLiteDataSet::Column {
  String origin;  // the table column it reads; empty for an expression
  String table;
  TFieldType type = ftUnknown;
};

ZTL_BEGIN_CLASS(TSQLiteDataSet, TDataSet)
  .Property("Connection", &Self::Connection, &Self::SetConnection)
  .Property("UniDirectional", &Self::UniDirectional, &Self::SetUniDirectional).Default(false)
ZTL_END_CLASS

TSQLiteDataSet::TSQLiteDataSet(TComponent* AOwner) : TDataSet(AOwner) {}

TSQLiteDataSet::~TSQLiteDataSet() { SetConnection(nullptr); }

void TSQLiteDataSet::SetConnection(TSQLiteConnection* value) {
  if (value == connection_) return;
  Close();
  if (connection_ != nullptr) {
    std::erase(connection_->dataSets_, this);
    connection_->RemoveFreeNotification(this);
  }
  connection_ = value;
  if (value != nullptr) {
    value->dataSets_.push_back(this);
    value->FreeNotification(this);
  }
}

void TSQLiteDataSet::Notification(TComponent* AComponent, TOperation Operation) {
  TDataSet::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == connection_) SetConnection(nullptr);
}

sqlite3* TSQLiteDataSet::Database() const {
  if (connection_ == nullptr) throw EDatabaseError(Name() + ": no connection");
  connection_->Open();
  return connection_->Handle();
}

void TSQLiteDataSet::BindParams(sqlite3_stmt*) {}

void TSQLiteDataSet::InternalOpen() {
  sqlite3* db = Database();
  const String sql = SelectSQL();
  if (Trim(sql).empty()) throw EDatabaseError(Name() + ": no statement to open");
  if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    RaiseSQLite(db);
  }
  if (stmt_ == nullptr || sqlite3_column_count(stmt_) == 0) throw EDatabaseError(Name() + ": the statement gives no rows");
  BindParams(stmt_);
  // Expressions have no declared type: the first row tells what they hold.
  const int firstStep = sqlite3_step(stmt_);
  if (firstStep != SQLITE_ROW && firstStep != SQLITE_DONE) RaiseSQLite(db);
  rowIdColumn_ = ReadsRowId();
  const int first = rowIdColumn_ ? 1 : 0;
  const int count = sqlite3_column_count(stmt_);
  columns_.clear();
  for (int i = first; i < count; ++i) {
    const char* origin = sqlite3_column_origin_name(stmt_, i);
    const char* table = sqlite3_column_table_name(stmt_, i);
    columns_.push_back(Column{origin != nullptr ? origin : "", table != nullptr ? table : ""});
  }
  // Writable when every column comes from one table.
  updateTable_.clear();
  bool oneTable = !columns_.empty();
  for (const Column& c : columns_) {
    if (c.table.empty() || (!updateTable_.empty() && !SameText(c.table, updateTable_))) oneTable = false;
    if (updateTable_.empty()) updateTable_ = c.table;
  }
  if (!oneTable) updateTable_.clear();
  for (int i = first; i < count; ++i) {
    const Column& c = columns_[static_cast<size_t>(i - first)];
    int notNull = 0, primaryKey = 0, autoIncrement = 0;
    if (!updateTable_.empty())
      sqlite3_table_column_metadata(db, nullptr, c.table.c_str(), c.origin.c_str(), nullptr, nullptr, &notNull,
                                    &primaryKey, &autoIncrement);
    const TFieldType type = TypeOfDeclared(sqlite3_column_decltype(stmt_, i),
                                           firstStep == SQLITE_ROW ? sqlite3_column_type(stmt_, i) : SQLITE_NULL);
    // An INTEGER PRIMARY KEY is the row id: SQLite gives it a value.
    const bool rowIdAlias = primaryKey != 0 && type == ftInteger;
    AddField(sqlite3_column_name(stmt_, i), type, notNull != 0 && !rowIdAlias);
    columns_[static_cast<size_t>(i - first)].type = type;
  }
  if (!updateTable_.empty()) FindKey(db);
  sqlite3_reset(stmt_);
  BindParams(stmt_);
}

// The primary key's columns among the fields; else the row id, if read.
void TSQLiteDataSet::FindKey(sqlite3* db) {
  keyFields_.clear();
  rowIdKey_ = false;
  Statement info(db, "SELECT name FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk");
  sqlite3_bind_text(info.Get(), 1, updateTable_.c_str(), -1, SQLITE_TRANSIENT);
  bool complete = true;
  int rc;
  while ((rc = sqlite3_step(info.Get())) == SQLITE_ROW) {
    const String name = ColumnText(info.Get(), 0);
    auto found = std::find_if(columns_.begin(), columns_.end(), [&](const Column& c) { return SameText(c.origin, name); });
    if (found == columns_.end())
      complete = false;
    else
      keyFields_.push_back(static_cast<int>(found - columns_.begin()));
  }
  if (rc != SQLITE_DONE) RaiseSQLite(db);
  if (!keyFields_.empty() && complete) return;
  keyFields_.clear();
  rowIdKey_ = ReadsRowId();
}

void TSQLiteDataSet::InternalClose() {
  sqlite3_finalize(stmt_);
  stmt_ = nullptr;
  columns_.clear();
  keyFields_.clear();
  rowIdKey_ = false;
  updateTable_.clear();
}

void TSQLiteDataSet::InternalRestart() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  BindParams(stmt_);
}

bool TSQLiteDataSet::FetchRecord(TRecordBuffer& record) {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_DONE) {
    // Lets go of the read transaction; writes may follow.
    sqlite3_reset(stmt_);
    return false;
  }
  if (rc != SQLITE_ROW) {
    sqlite3_reset(stmt_);
    RaiseSQLite(connection_->Handle());
  }
  if (record.Values.size() != columns_.size()) record.Values.resize(columns_.size());
  int index = rowIdColumn_ ? 1 : 0;
  TVariant* value = record.Values.data();
  for (const Column& column : columns_) ReadValue(stmt_, index++, column.type, *value++);
  record.Key = rowIdColumn_ ? sqlite3_column_int64(stmt_, 0) : 0;
  return true;
}

String TSQLiteDataSet::KeyCondition(WriteArgs& args, const TRecordBuffer& original) const {
  if (rowIdKey_) return " WHERE rowid = " + std::to_string(original.Key);
  String where;
  for (int index : keyFields_) {
    const TVariant& value = original.Values[static_cast<size_t>(index)];
    where += (where.empty() ? " WHERE " : " AND ") + QuoteIdentifier(columns_[static_cast<size_t>(index)].origin) +
             (value.IsNull() ? " IS NULL" : " = ?");
    if (!value.IsNull()) args.emplace_back(&value, false);
  }
  return where;
}

// Runs one write under a savepoint of its own, so that a failure leaves
// nothing behind, inside an explicit transaction as well as outside.
void TSQLiteDataSet::Write(const String& sql, const WriteArgs& args, bool mustChangeOne) {
  sqlite3* db = Database();
  Exec(db, "SAVEPOINT ztl_write");
  try {
    Statement stmt(db, sql);
    for (size_t i = 0; i < args.size(); ++i) Bind(db, stmt.Get(), static_cast<int>(i) + 1, *args[i].first, args[i].second);
    if (sqlite3_step(stmt.Get()) != SQLITE_DONE) RaiseSQLite(db);
    if (mustChangeOne && sqlite3_changes(db) != 1)
      throw EDatabaseError("Record not found or changed by another user");
  } catch (...) {
    Exec(db, "ROLLBACK TO ztl_write");
    Exec(db, "RELEASE ztl_write");
    throw;
  }
  Exec(db, "RELEASE ztl_write");
}

void TSQLiteDataSet::InternalPost(const TRecordBuffer* original, TRecordBuffer& record) {
  if (updateTable_.empty()) throw EDatabaseError(Name() + ": the rows are not one table's and cannot be written");
  if (original != nullptr && !rowIdKey_ && keyFields_.empty())
    throw EDatabaseError(Name() + ": the rows do not hold the key of " + updateTable_);
  WriteArgs args;
  String columns, values;
  for (size_t i = 0; i < columns_.size(); ++i) {
    const TVariant& value = record.Values[i];
    if (original != nullptr ? SameStoredValue(original->Values[i], value) : value.IsNull()) continue;
    const String name = QuoteIdentifier(columns_[i].origin);
    if (original != nullptr) {
      columns += (columns.empty() ? "" : ", ") + name + " = ?";
    } else {
      columns += (columns.empty() ? "" : ", ") + name;
      values += values.empty() ? "?" : ", ?";
    }
    args.emplace_back(&value, Fields().Fields(static_cast<int>(i))->DataType() == ftBlob);
  }
  const String table = QuoteIdentifier(updateTable_);
  if (original != nullptr) {
    if (args.empty()) return;
    Write("UPDATE " + table + " SET " + columns + KeyCondition(args, *original), args, true);
    return;
  }
  Write(args.empty() ? "INSERT INTO " + table + " DEFAULT VALUES"
                     : "INSERT INTO " + table + " (" + columns + ") VALUES (" + values + ")",
        args, false);
  record.Key = sqlite3_last_insert_rowid(connection_->Handle());
  // The row id fills an integer key left empty.
  if (keyFields_.size() == 1) {
    TVariant& key = record.Values[static_cast<size_t>(keyFields_[0])];
    if (key.IsNull() && Fields().Fields(keyFields_[0])->DataType() == ftInteger) key = TVariant(record.Key);
  }
}

void TSQLiteDataSet::InternalDelete(const TRecordBuffer& record) {
  if (updateTable_.empty() || (!rowIdKey_ && keyFields_.empty()))
    throw EDatabaseError(Name() + ": the rows cannot be deleted from their table");
  WriteArgs args;
  Write("DELETE FROM " + QuoteIdentifier(updateTable_) + KeyCondition(args, record), args, true);
}

// ---- Table

ZTL_BEGIN_CLASS(TSQLiteTable, TSQLiteDataSet)
  .Property("TableName", &Self::TableName, &Self::SetTableName)
ZTL_END_CLASS

TSQLiteTable::TSQLiteTable(TComponent* AOwner) : TSQLiteDataSet(AOwner) {}
TSQLiteTable::~TSQLiteTable() { Close(); }

void TSQLiteTable::SetTableName(const String& value) {
  if (value == tableName_) return;
  Close();
  tableName_ = value;
}

String TSQLiteTable::SelectSQL() const {
  const String table = QuoteIdentifier(tableName_);
  return readsRowId_ ? "SELECT rowid, * FROM " + table : "SELECT * FROM " + table;
}

void TSQLiteTable::InternalOpen() {
  if (tableName_.empty()) throw EDatabaseError(Name() + ": no table name");
  // Tables without row ids are read without one.
  sqlite3* db = Database();
  sqlite3_stmt* probe = nullptr;
  const String sql = "SELECT rowid FROM " + QuoteIdentifier(tableName_);
  readsRowId_ = sqlite3_prepare_v2(db, sql.c_str(), -1, &probe, nullptr) == SQLITE_OK;
  sqlite3_finalize(probe);
  TSQLiteDataSet::InternalOpen();
}

// ---- Query

ZTL_BEGIN_CLASS(TSQLiteQuery, TSQLiteDataSet)
  .Property("SQL", &Self::SQL, &Self::SetSQL)
ZTL_END_CLASS

TSQLiteQuery::TSQLiteQuery(TComponent* AOwner) : TSQLiteDataSet(AOwner), sql_(std::make_unique<TStringList>()) {}
TSQLiteQuery::~TSQLiteQuery() { Close(); }

void TSQLiteQuery::SetSQL(TStrings* value) {
  Close();
  sql_->Assign(value);
}

String TSQLiteQuery::SelectSQL() const { return sql_->Text(); }

TParams& TSQLiteQuery::Params() {
  const String text = sql_->Text();
  if (text == paramsText_) return params_;
  // Names after a colon, outside quotes and comments; "::" is no parameter.
  std::vector<String> names;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      i = text.find(close, i + 1);
      if (i == String::npos) break;
    } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      i = text.find('\n', i);
      if (i == String::npos) break;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      i = text.find("*/", i + 2);
      if (i == String::npos) break;
      ++i;
    } else if (c == ':' && i + 1 < text.size() && text[i + 1] == ':') {
      ++i;
    } else if (c == ':') {
      size_t end = i + 1;
      while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) ++end;
      if (end > i + 1) {
        String name = text.substr(i + 1, end - i - 1);
        if (std::none_of(names.begin(), names.end(), [&](const String& n) { return SameText(n, name); }))
          names.push_back(std::move(name));
      }
      i = end - 1;
    }
  }
  std::vector<std::unique_ptr<TParam>> items;
  for (const String& name : names) {
    auto param = std::make_unique<TParam>(name);
    if (TParam* old = params_.FindParam(name)) param->SetValue(old->Value());
    items.push_back(std::move(param));
  }
  params_.items_ = std::move(items);
  paramsText_ = text;
  return params_;
}

void TSQLiteQuery::BindParams(sqlite3_stmt* stmt) {
  sqlite3* db = sqlite3_db_handle(stmt);
  for (int i = 1; i <= sqlite3_bind_parameter_count(stmt); ++i) {
    const char* name = sqlite3_bind_parameter_name(stmt, i);
    TParam* param = name != nullptr && name[0] == ':' ? Params().FindParam(name + 1) : nullptr;
    if (param == nullptr) throw EDatabaseError(String("Parameter '") + (name != nullptr ? name : "?") + "' not found");
    Bind(db, stmt, i, param->Value(), false);
  }
}

void TSQLiteQuery::ExecSQL() {
  sqlite3* db = Database();
  const String text = sql_->Text();
  Statement stmt(db, text);
  BindParams(stmt.Get());
  int rc;
  while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) RaiseSQLite(db);
}

}  // namespace ztl
