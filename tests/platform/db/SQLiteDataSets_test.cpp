// The SQLite datasets: column types, writing back, failures, transactions,
// queries with parameters, unidirectional reading.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/db/SQLiteDB.h>
#include <ztlogger/platform/rtl/DateUtils.h>

namespace ztl {
namespace {

// Reads one value from the file through SQLite itself, on a connection of
// its own.
String ReadBack(const String& file, const String& sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  String result = "<no row>";
  if (sqlite3_step(stmt) == SQLITE_ROW)
    result = sqlite3_column_type(stmt, 0) == SQLITE_NULL ? "<null>"
                                                           : reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return result;
}

class SQLiteDataSets : public ::testing::Test {
 protected:
  void SetUp() override {
    file = dir.File("data.db");
    connection.SetDatabaseName(file);
    connection.ExecSQL(
        "CREATE TABLE Customer (Id INTEGER PRIMARY KEY, Name VARCHAR(40) NOT NULL UNIQUE, City TEXT, "
        "Born DATETIME, Score REAL, Vip BOOLEAN, Photo BLOB);"
        "INSERT INTO Customer VALUES (1, 'Jon', 'Paris', '1980-05-17 08:30:00', 2.5, 1, x'00ff');"
        "INSERT INTO Customer (Id, Name) VALUES (2, 'Ann');"
        "CREATE TABLE Loose (Label TEXT, Amount INTEGER CHECK (Amount >= 0));"
        "INSERT INTO Loose VALUES ('x', 1), ('x', 2);");
    table.SetConnection(&connection);
    table.SetTableName("Customer");
  }

  test::TestDir dir;
  String file;
  TSQLiteConnection connection{nullptr};
  TSQLiteTable table{nullptr};
};

TEST_F(SQLiteDataSets, ColumnsComeWithTheirDeclaredTypes) {
  table.Open();
  ASSERT_EQ(table.FieldCount(), 7);
  const TFieldType expected[] = {ftInteger, ftString, ftString, ftDateTime, ftFloat, ftBoolean, ftBlob};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(table.Fields()[i]->DataType(), expected[i]) << table.Fields()[i]->FieldName();
  EXPECT_EQ(table.FieldByName("Id")->AsInteger(), 1);
  EXPECT_DOUBLE_EQ(table.FieldByName("Born")->AsDateTime(), EncodeDate(1980, 5, 17) + EncodeTime(8, 30, 0, 0));
  EXPECT_DOUBLE_EQ(table.FieldByName("Score")->AsFloat(), 2.5);
  EXPECT_TRUE(table.FieldByName("Vip")->AsBoolean());
  EXPECT_EQ(table.FieldByName("Photo")->AsString(), String("\0\xff", 2));
  EXPECT_EQ(table.FieldByName("Photo")->Text(), "(BLOB)");
  EXPECT_TRUE(table.FieldByName("Name")->Required());
  EXPECT_FALSE(table.FieldByName("Id")->Required()) << "the row id fills it";
  table.Next();
  EXPECT_TRUE(table.FieldByName("City")->IsNull());
  EXPECT_EQ(table.FieldByName("City")->AsString(), "");
  EXPECT_THROW(table.FieldByName("Nothing"), EDatabaseError);
  EXPECT_EQ(table.RecordCount(), 2);
}

TEST_F(SQLiteDataSets, GetDataCopiesIntoTheCallersVariable) {
  table.Open();
  TVariant buffer("a text longer than any short string's room");
  const char* const room = buffer.StringRef().data();
  ASSERT_TRUE(table.FieldByName("City")->GetData(buffer));
  EXPECT_EQ(buffer.StringRef(), "Paris");
  EXPECT_EQ(buffer.StringRef().data(), room) << "the variable's room is reused";
  ASSERT_TRUE(table.FieldByName("Score")->GetData(buffer));
  EXPECT_DOUBLE_EQ(buffer.AsFloat(), 2.5);
  table.Next();
  EXPECT_FALSE(table.FieldByName("City")->GetData(buffer));
  EXPECT_TRUE(buffer.IsNull());
  table.Edit();
  table.FieldByName("City")->SetAsString("Lyon");
  ASSERT_TRUE(table.FieldByName("City")->GetData(buffer)) << "the pending edit is the current value";
  EXPECT_EQ(buffer.StringRef(), "Lyon");
}

TEST_F(SQLiteDataSets, FieldsConvertWhatIsAssigned) {
  table.Open();
  table.Edit();
  EXPECT_THROW(table.FieldByName("Id")->SetAsString("seven"), EConvertError);
  EXPECT_THROW(table.FieldByName("Vip")->SetAsString("perhaps"), EConvertError);
  EXPECT_THROW(table.FieldByName("Born")->SetAsString("yesterday"), EConvertError);
  table.FieldByName("Score")->SetAsString("4.25");
  EXPECT_EQ(table.FieldByName("Score")->Value().VarType(), varDouble);
  table.FieldByName("Name")->SetAsString("Jonathan");
  EXPECT_EQ(table.FieldByName("Name")->OldValue().AsString(), "Jon");
  EXPECT_EQ(table.FieldByName("Name")->NewValue().AsString(), "Jonathan");
  table.Cancel();
  EXPECT_EQ(table.FieldByName("Name")->AsString(), "Jon");
  EXPECT_THROW(table.FieldByName("Name")->SetAsString("no edit"), EDatabaseError);
  table.Insert();
  EXPECT_TRUE(table.FieldByName("Name")->OldValue().IsNull());
  table.FieldByName("Name")->SetAsString("Bea");
  EXPECT_TRUE(table.FieldByName("Name")->OldValue().IsNull());
  EXPECT_EQ(table.FieldByName("Name")->NewValue().AsString(), "Bea");
}

TEST_F(SQLiteDataSets, PostAndDeleteWriteTheFile) {
  table.Open();
  table.Edit();
  table.FieldByName("City")->SetAsString("Rome");
  table.FieldByName("Born")->SetAsDateTime(EncodeDate(1981, 1, 2));
  table.Post();
  EXPECT_EQ(ReadBack(file, "SELECT City || ' ' || Born FROM Customer WHERE Id = 1"), "Rome 1981-01-02 00:00:00");
  table.Append();
  table.FieldByName("Name")->SetAsString("Cleo");
  table.FieldByName("Photo")->SetAsString(String("a\0b", 3));
  table.Post();
  EXPECT_EQ(table.FieldByName("Id")->AsInteger(), 3) << "the new row id";
  EXPECT_EQ(ReadBack(file, "SELECT typeof(Photo) || length(Photo) FROM Customer WHERE Name = 'Cleo'"), "blob3");
  table.First();
  table.Delete();
  EXPECT_EQ(ReadBack(file, "SELECT count(*) FROM Customer"), "2");
  EXPECT_EQ(table.FieldByName("Name")->AsString(), "Ann");
}

TEST_F(SQLiteDataSets, AFailedWriteRaisesSQLitesMessageAndKeepsTheEdit) {
  table.Open();
  table.Edit();
  table.FieldByName("Name")->SetAsString("Ann");  // taken by row 2
  table.FieldByName("City")->SetAsString("Oslo");
  try {
    table.Post();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "UNIQUE constraint failed: Customer.Name");
  }
  EXPECT_EQ(table.State(), dsEdit);
  EXPECT_EQ(table.FieldByName("City")->AsString(), "Oslo");
  EXPECT_EQ(ReadBack(file, "SELECT Name || ' ' || City FROM Customer WHERE Id = 1"), "Jon Paris");
  table.FieldByName("Name")->SetAsString("Jo");
  table.Post();
  EXPECT_EQ(ReadBack(file, "SELECT Name || ' ' || City FROM Customer WHERE Id = 1"), "Jo Oslo");

  table.Append();
  EXPECT_THROW(table.Post(), EDatabaseError) << "Name is required";
  EXPECT_EQ(table.State(), dsInsert);
  table.Cancel();
}

TEST_F(SQLiteDataSets, WritesJoinTheConnectionsTransaction) {
  table.Open();
  connection.StartTransaction();
  table.Edit();
  table.FieldByName("City")->SetAsString("Rome");
  table.Post();
  EXPECT_TRUE(connection.InTransaction());
  connection.Rollback();
  EXPECT_EQ(ReadBack(file, "SELECT City FROM Customer WHERE Id = 1"), "Paris");
  EXPECT_EQ(table.FieldByName("City")->AsString(), "Paris");
  connection.StartTransaction();
  table.Edit();
  table.FieldByName("City")->SetAsString("Rome");
  table.Post();
  connection.Commit();
  EXPECT_EQ(ReadBack(file, "SELECT City FROM Customer WHERE Id = 1"), "Rome");
}

TEST_F(SQLiteDataSets, ATableWithoutKeyIsWrittenByRowId) {
  table.SetTableName("Loose");
  table.Open();
  table.Next();
  table.Edit();
  table.FieldByName("Amount")->SetAsInteger(-1);
  EXPECT_THROW(table.Post(), EDatabaseError);
  table.FieldByName("Amount")->SetAsInteger(20);
  table.Post();
  EXPECT_EQ(ReadBack(file, "SELECT group_concat(Amount) FROM (SELECT Amount FROM Loose ORDER BY rowid)"), "1,20");
  table.First();
  table.Delete();
  EXPECT_EQ(ReadBack(file, "SELECT group_concat(Amount) FROM Loose"), "20");
}

TEST_F(SQLiteDataSets, QueriesTakeParametersAndWriteToTheirTable) {
  TSQLiteQuery query(nullptr);
  query.SetConnection(&connection);
  query.SQL()->SetText("SELECT Id, Name, City FROM Customer\r\nWHERE Name = :name OR City = ':not' -- :neither");
  ASSERT_EQ(query.Params().Count(), 1);
  query.ParamByName("NAME").SetValue(TVariant("Ann"));
  query.Open();
  EXPECT_EQ(query.RecordCount(), 1);
  EXPECT_EQ(query.UpdateTable(), "Customer");
  query.Edit();
  query.FieldByName("City")->SetAsString("Lima");
  query.Post();
  EXPECT_EQ(ReadBack(file, "SELECT City FROM Customer WHERE Id = 2"), "Lima");
  EXPECT_THROW(query.ParamByName("other"), EDatabaseError);

  TSQLiteQuery summary(nullptr);
  summary.SetConnection(&connection);
  summary.SQL()->SetText("SELECT count(*) AS N FROM Customer");
  summary.Open();
  EXPECT_EQ(summary.FieldByName("N")->AsInteger(), 2);
  summary.Edit();
  summary.FieldByName("N")->SetAsInteger(5);
  EXPECT_THROW(summary.Post(), EDatabaseError) << "an expression is written nowhere";
  summary.Cancel();

  TSQLiteQuery bad(nullptr);
  bad.SetConnection(&connection);
  bad.SQL()->SetText("SELECT * FROM Missing");
  EXPECT_THROW(bad.Open(), EDatabaseError);
  EXPECT_FALSE(bad.Active());
}

TEST_F(SQLiteDataSets, UniDirectionalReadsForwardOnly) {
  table.SetUniDirectional(true);
  table.Open();
  table.Next();
  EXPECT_EQ(table.FieldByName("Name")->AsString(), "Ann");
  EXPECT_EQ(table.RecNo(), 2);
  EXPECT_THROW(table.Prior(), EDatabaseError);
  table.Next();
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(table.FieldByName("Name")->AsString(), "Ann");
  table.Close();
  table.SetUniDirectional(false);
  table.Open();
  table.Last();
  table.Prior();
  EXPECT_EQ(table.FieldByName("Name")->AsString(), "Jon");
}

// The rows kept for the way back come back as they were read: every kind of
// value, numbers at their extremes, a text larger than the blocks rows are
// kept in, and enough rows to fill several pieces of the list of rows.
TEST_F(SQLiteDataSets, KeptRowsComeBackAsTheyWereRead) {
  constexpr int Rows = 20000, Big = 7777;
  connection.ExecSQL(
      "CREATE TABLE Many (Id INTEGER PRIMARY KEY, N INTEGER, F REAL, T TEXT, B BOOLEAN);"
      "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 20000) "
      "INSERT INTO Many SELECT i, CASE i % 4 WHEN 0 THEN -i * 1000003 WHEN 1 THEN 9223372036854775807 - i "
      "WHEN 2 THEN NULL ELSE -9223372036854775807 - 1 + i END, i * -0.5, CASE WHEN i = 7777 THEN "
      "replace(hex(zeroblob(600000)), '00', 'xy') WHEN i % 3 = 0 THEN '' ELSE 'row ' || i END, i % 2 FROM s");
  auto expectRow = [](const TDataSet& data, int i) {
    SCOPED_TRACE(i);
    const TField* n = data.Fields()[1];
    switch (i % 4) {
      case 0: EXPECT_EQ(n->AsInteger(), -int64_t{i} * 1000003); break;
      case 1: EXPECT_EQ(n->AsInteger(), INT64_MAX - i); break;
      case 2: EXPECT_TRUE(n->IsNull()); break;
      default: EXPECT_EQ(n->AsInteger(), INT64_MIN + i); break;
    }
    EXPECT_EQ(data.Fields()[0]->AsInteger(), i);
    EXPECT_EQ(data.Fields()[2]->AsFloat(), i * -0.5);
    const String text = data.Fields()[3]->AsString();
    if (i == Big)
      EXPECT_TRUE(text.size() == 1200000 && text.find_first_not_of("xy") == String::npos);
    else
      EXPECT_EQ(text, i % 3 == 0 ? "" : "row " + std::to_string(i));
    EXPECT_EQ(data.Fields()[4]->AsBoolean(), i % 2 == 1);
  };
  table.SetTableName("Many");
  table.Open();
  table.Last();
  ASSERT_EQ(table.RecNo(), Rows);
  for (int i = Rows; i >= 1; --i) {
    ASSERT_EQ(table.RecNo(), i);
    expectRow(table, i);
    if (::testing::Test::HasFailure()) return;
    table.Prior();
  }
  // A row inserted and one deleted move the rows after them.
  table.MoveBy(8191);
  ASSERT_EQ(table.RecNo(), 8192);
  table.Insert();
  table.Fields()[1]->SetAsInteger(-1);
  table.Post();
  EXPECT_EQ(table.RecNo(), 8192);
  EXPECT_EQ(table.Fields()[1]->AsInteger(), -1);
  table.Next();
  expectRow(table, 8192);
  table.MoveBy(5000);
  table.Delete();
  expectRow(table, 13193);
  table.Last();
  expectRow(table, Rows);
  EXPECT_EQ(table.RecordCount(), Rows);
}

// Texts of a few hundred kilobytes: many a row does not fit what is left of
// the block it began in and moves on whole to the next.
TEST_F(SQLiteDataSets, KeptRowsOfLargeTextsComeBackWhole) {
  constexpr int Rows = 40;
  connection.ExecSQL(
      "CREATE TABLE Wide (Id INTEGER PRIMARY KEY, Head TEXT, Body TEXT, Tail INTEGER);"
      "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 40) "
      "INSERT INTO Wide SELECT i, 'head ' || i, substr(hex(zeroblob(150000 + i * 997)), 1, 150000 + i * 997 - i) "
      "|| char(64 + i % 26), i * 7 FROM s");
  auto bodySize = [](int i) { return static_cast<size_t>(150000 + i * 997 - i + 1); };
  table.SetTableName("Wide");
  table.Open();
  for (int i = 1; i <= Rows; ++i) {
    ASSERT_EQ(table.Fields()[2]->AsString().size(), bodySize(i));
    table.Next();
  }
  ASSERT_TRUE(table.Eof());
  for (int i = Rows; i >= 1; --i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(table.RecNo(), i);
    EXPECT_EQ(table.Fields()[0]->AsInteger(), i);
    EXPECT_EQ(table.Fields()[1]->AsString(), "head " + std::to_string(i));
    const String& body = table.Fields()[2]->AsString();
    ASSERT_EQ(body.size(), bodySize(i));
    EXPECT_EQ(body.find_first_not_of('0'), body.size() - 1);
    EXPECT_EQ(body.back(), static_cast<char>(64 + i % 26));
    EXPECT_EQ(table.Fields()[3]->AsInteger(), i * 7);
    table.Prior();
  }
}

TEST_F(SQLiteDataSets, ConnectingToWhatIsNoDatabaseRaises) {
  TSQLiteConnection broken(nullptr);
  broken.SetDatabaseName(dir.File("missing-folder/x.db"));
  EXPECT_THROW(broken.Open(), EDatabaseError);
  EXPECT_FALSE(broken.Connected());
  connection.Close();
  EXPECT_FALSE(table.Active());
}

}  // namespace
}  // namespace ztl
