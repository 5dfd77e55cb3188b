#pragma once
// Datasets on SQLite databases: a connection to a database file (or an
// in-memory database), a dataset over one table and a dataset over a query
// with parameters. Rows are read with their columns' declared types; Post
// and Delete write back to the table the rows came from, by its primary key,
// else by row id, each write whole or not at all.
//
// Any thread; a connection and its datasets from one thread at a time.
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include <ztlogger/platform/classes/Strings.h>
#include <ztlogger/platform/db/DB.h>
#include <ztlogger/platform/rtl/Export.h>

struct sqlite3;
struct sqlite3_stmt;

namespace ztl {

class TSQLiteDataSet;

class ZTL_PLATFORM_API TSQLiteConnection : public TComponent {
  ZTL_DECLARE_CLASS(TSQLiteConnection, TComponent)

 public:
  explicit TSQLiteConnection(TComponent* AOwner);
  // Closes the datasets that use it and the database.
  ~TSQLiteConnection() override;

  // A file path (the file is made if missing) or ":memory:". Changing it
  // while connected raises EDatabaseError.
  const String& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const String& value);
  bool Connected() const { return db_ != nullptr; }
  // Connecting raises EDatabaseError with SQLite's message when the database
  // cannot be opened. Disconnecting closes the datasets first and rolls
  // back an open transaction.
  void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  // An explicit transaction: the datasets' writes join it until Commit or
  // Rollback. Each raises EDatabaseError with SQLite's message on failure.
  // Rollback cancels the datasets' pending edits and reads their rows again
  // (unidirectional datasets keep what they hold).
  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const;

  // Runs statements that give no rows; connects first if needed.
  void ExecSQL(const String& sql);
  // The database handle, for code that talks to SQLite directly; nullptr
  // while not connected.
  sqlite3* Handle() const { return db_; }

 protected:
  void Loaded() override;

 private:
  friend class TSQLiteDataSet;
  String databaseName_;
  sqlite3* db_ = nullptr;
  bool connectWhenLoaded_ = false;
  std::vector<TSQLiteDataSet*> dataSets_;
};

// A parameter of a query, named in its text as :Name.
class ZTL_PLATFORM_API TParam {
 public:
  explicit TParam(String name) : name_(std::move(name)) {}
  const String& Name() const { return name_; }
  const TVariant& Value() const { return value_; }
  void SetValue(const TVariant& value) { value_ = value; }
  void Clear() { value_ = TVariant::Null(); }

 private:
  String name_;
  TVariant value_ = TVariant::Null();
};

class ZTL_PLATFORM_API TParams {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TParam& Items(int index) { return *items_.at(static_cast<size_t>(index)); }
  // Case-insensitive; ParamByName raises EDatabaseError "Parameter 'X' not
  // found" where FindParam gives nullptr.
  TParam* FindParam(const String& name) const;
  TParam& ParamByName(const String& name) const;

 private:
  friend class TSQLiteQuery;
  std::vector<std::unique_ptr<TParam>> items_;
};

// What the table and the query datasets share.
class ZTL_PLATFORM_API TSQLiteDataSet : public TDataSet {
  ZTL_DECLARE_CLASS(TSQLiteDataSet, TDataSet)

 public:
  explicit TSQLiteDataSet(TComponent* AOwner);
  ~TSQLiteDataSet() override;

  TSQLiteConnection* Connection() const { return connection_; }
  // Closes the dataset when it changes.
  void SetConnection(TSQLiteConnection* value);
  // The table Post and Delete write to: the one every column comes from;
  // empty when the rows are not one table's.
  const String& UpdateTable() const { return updateTable_; }

 protected:
  // The statement that reads the rows, and its parameters' values.
  virtual String SelectSQL() const = 0;
  virtual void BindParams(sqlite3_stmt* stmt);
  // Whether the first column of SelectSQL is the row id, kept out of the fields.
  virtual bool ReadsRowId() const { return false; }

  void InternalOpen() override;
  void InternalClose() override;
  bool FetchRecord(TRecordBuffer& record) override;
  void InternalPost(const TRecordBuffer* original, TRecordBuffer& record) override;
  void InternalDelete(const TRecordBuffer& record) override;
  void InternalRestart() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  sqlite3* Database() const;

 private:
  struct Column;
  // The values of a write's placeholders, each with whether it is a blob.
  using WriteArgs = std::vector<std::pair<const TVariant*, bool>>;
  void FindKey(sqlite3* db);
  String KeyCondition(WriteArgs& args, const TRecordBuffer& original) const;
  void Write(const String& sql, const WriteArgs& args, bool mustChangeOne);

  TSQLiteConnection* connection_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
  std::vector<Column> columns_;
  String updateTable_;
  std::vector<int> keyFields_;  // the primary key's fields; empty: by row id
  bool rowIdKey_ = false;
  bool rowIdColumn_ = false;  // the first column read is the row id
};

// The rows of one table, all its columns.
class ZTL_PLATFORM_API TSQLiteTable : public TSQLiteDataSet {
  ZTL_DECLARE_CLASS(TSQLiteTable, TSQLiteDataSet)

 public:
  explicit TSQLiteTable(TComponent* AOwner);
  ~TSQLiteTable() override;

  const String& TableName() const { return tableName_; }
  // Closes the dataset when it changes.
  void SetTableName(const String& value);

 protected:
  String SelectSQL() const override;
  bool ReadsRowId() const override { return readsRowId_; }
  void InternalOpen() override;

 private:
  String tableName_;
  bool readsRowId_ = true;
};

// The rows of a query; its parameters are taken from the text (:Name).
class ZTL_PLATFORM_API TSQLiteQuery : public TSQLiteDataSet {
  ZTL_DECLARE_CLASS(TSQLiteQuery, TSQLiteDataSet)

 public:
  explicit TSQLiteQuery(TComponent* AOwner);
  ~TSQLiteQuery() override;

  TStrings* SQL() const { return sql_.get(); }
  // Copies the lines of value.
  void SetSQL(TStrings* value);
  // The parameters named in the current text; values are kept by name when
  // the text changes.
  TParams& Params();
  TParam& ParamByName(const String& name) { return Params().ParamByName(name); }
  // Runs the text as a statement that gives no rows, with the parameters.
  void ExecSQL();

 protected:
  String SelectSQL() const override;
  void BindParams(sqlite3_stmt* stmt) override;

 private:
  std::unique_ptr<TStringList> sql_;
  TParams params_;
  String paramsText_;  // the text the parameters were taken from
};

}  // namespace ztl
