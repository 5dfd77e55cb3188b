// The dataset change logger on real SQLite datasets: the statements of the
// worked examples, the table-name rules, the log lines that follow from the
// data link's notifications, and stored forms.
#include <ztlogger/datasetlog/LogDS.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/classes/DataModule.h>
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/db/SQLiteDB.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {
namespace {

// Collects the statements, the events and the log texts the logger hands out.
class Listener : public TObject {
 public:
  void Statement(TObject*, const String& SQL) { statements.push_back(SQL); }
  void Change(TObject*, TZTLDBTypeEvent State, TField* Field, String& LogText) {
    events.push_back(GetEnumName(EnumTypeInfo(State), State) + (Field ? " " + Field->FieldName() : ""));
    texts.push_back(LogText);
    if (replaceWith) LogText = *replaceWith;
  }
  std::vector<String> statements, events, texts;
  const String* replaceWith = nullptr;
};

// A dataset with neither a "TableName" nor an "SQL" property.
class MemoryDataSet : public TDataSet {
 public:
  MemoryDataSet() : TDataSet(nullptr) {}
  ~MemoryDataSet() override { Close(); }

 protected:
  void InternalOpen() override {
    AddField("Name", ftString, false);
    fetched_ = false;
  }
  void InternalClose() override {}
  bool FetchRecord(TRecordBuffer& record) override {
    if (fetched_) return false;
    fetched_ = true;
    record.Values = {TVariant("Jon")};
    return true;
  }
  void InternalPost(const TRecordBuffer*, TRecordBuffer&) override {}
  void InternalDelete(const TRecordBuffer&) override {}
  void InternalRestart() override { fetched_ = false; }

 private:
  bool fetched_ = false;
};

class DatasetLog : public ::testing::Test {
 protected:
  void SetUp() override {
    connection.SetDatabaseName(dir.File("shop.db"));
    connection.ExecSQL(
        "CREATE TABLE Customer (Id INTEGER PRIMARY KEY, Name TEXT, City TEXT, Note TEXT, \"First Name\" TEXT);"
        "INSERT INTO Customer (Id, Name, City, \"First Name\") VALUES (1, 'Jon', 'Paris', 'Ann');");
    query.SetConnection(&connection);
    query.SQL()->SetText("select * from Customer c where c.Id > 0");
    table.SetConnection(&connection);
    table.SetTableName("Customer");
    log.SetLogFile(dir.File("ztevents.log"));  // the default would be in the current folder
    log.SetActive(true);
    log.SetOnSQLStatement(MakeMethod<&Listener::Statement>(&listener));
    log.SetOnChange(MakeMethod<&Listener::Change>(&listener));
  }

  void Follow(TDataSet& dataSet) {
    source.SetDataSet(&dataSet);
    log.SetDataSource(&source);
    dataSet.Open();
  }

  String LogFileText() const { return test::ReadFileBytes(log.LogFile()); }

  test::TestDir dir;
  TSQLiteConnection connection{nullptr};
  TSQLiteQuery query{nullptr};
  TSQLiteTable table{nullptr};
  TDataSource source{nullptr};
  TZTDatasetLog log{nullptr};
  Listener listener;
};

TEST_F(DatasetLog, TheWorkedExamplesOnAQueryAndOnATable) {
  for (TSQLiteDataSet* dataSet : {static_cast<TSQLiteDataSet*>(&query), static_cast<TSQLiteDataSet*>(&table)}) {
    SCOPED_TRACE(dataSet->ClassName());
    listener.statements.clear();
    connection.ExecSQL("DELETE FROM Customer WHERE Id = 7; UPDATE Customer SET Name = 'Jon', City = 'Paris', "
                       "\"First Name\" = 'Ann'");
    Follow(*dataSet);
    dataSet->Edit();
    dataSet->FieldByName("Name")->SetAsString("John");
    dataSet->FieldByName("City")->SetAsString("Rome");
    dataSet->Post();
    dataSet->Append();
    dataSet->FieldByName("Id")->SetAsInteger(7);
    dataSet->FieldByName("Name")->SetAsString("Ann");
    dataSet->Post();
    dataSet->First();
    dataSet->Edit();
    dataSet->FieldByName("First Name")->SetAsString("Anna");
    dataSet->Post();
    ASSERT_EQ(listener.statements.size(), 3u);
    EXPECT_EQ(listener.statements[0],
              "UPDATE Customer\r\nSET\r\n  Name=\"John\", City=\"Rome\"\r\nWHERE\r\n  (Name=\"Jon\") AND (City=\"Paris\")");
    EXPECT_EQ(listener.statements[1], "INSERT INTO Customer\r\n  (Id, Name)\r\nVALUES\r\n  (\"7\", \"Ann\")");
    EXPECT_EQ(listener.statements[2],
              "UPDATE Customer\r\nSET\r\n  \"First Name\"=\"Anna\"\r\nWHERE\r\n  (\"First Name\"=\"Ann\")");
    dataSet->Close();
  }
}

TEST_F(DatasetLog, QuotesInsideValuesAndNamesAreDoubled) {
  connection.ExecSQL("CREATE TABLE Odd (\"Say \"\"hi\"\"\" TEXT, Plain TEXT); INSERT INTO Odd VALUES ('a', 'b')");
  table.SetTableName("Odd");
  Follow(table);
  table.Edit();
  table.Fields()[0]->SetAsString("x\", 1); DROP TABLE Odd; --");
  table.FieldByName("Plain")->SetAsString("two words\r\nand \"a quote\"");
  table.Post();
  ASSERT_EQ(listener.statements.size(), 1u);
  EXPECT_EQ(listener.statements[0],
            "UPDATE Odd\r\nSET\r\n  \"Say \"\"hi\"\"\"=\"x\"\", 1); DROP TABLE Odd; --\", "
            "Plain=\"two words\r\nand \"\"a quote\"\"\"\r\nWHERE\r\n  (\"Say \"\"hi\"\"\"=\"a\") AND (Plain=\"b\")");
}

TEST_F(DatasetLog, PostsWithoutChangesOrStatementsGiveNone) {
  Follow(table);
  table.Edit();
  table.FieldByName("Name")->SetAsString("Jon");  // the same value
  table.FieldByName("Note")->Clear();              // null before and after
  table.Post();
  table.Delete();
  EXPECT_TRUE(listener.statements.empty());
  const size_t updateLines = std::count(listener.events.begin(), listener.events.end(), "dbeUpdateData");
  EXPECT_EQ(updateLines, 1u) << "the post is logged all the same";
}

TEST_F(DatasetLog, TableNameRules) {
  EXPECT_EQ(DataSetTableName(nullptr), "");
  EXPECT_EQ(DataSetTableName(&query), "Customer");
  table.SetTableName("customer.db");
  EXPECT_EQ(DataSetTableName(&table), "customer");
  table.SetTableName("");
  query.SQL()->SetText("SELECT * FROM dbo.Orders");
  EXPECT_EQ(DataSetTableName(&query), "dbo");
  query.SQL()->SetText("SELECT *\r\nFROM\r\nOrders");
  EXPECT_EQ(DataSetTableName(&query), "SELECT *\r\nFROM\r\nOrders");
  query.SQL()->SetText("SELECT *\r\nFROM\r\nshop.Orders");
  EXPECT_EQ(DataSetTableName(&query), "SELECT *\r\nFROM\r\nshop");
  MemoryDataSet memory;
  EXPECT_EQ(DataSetTableName(&memory), "");
  Follow(memory);
  memory.Edit();
  memory.FieldByName("Name")->SetAsString("Jo");
  memory.Post();
  ASSERT_EQ(listener.statements.size(), 1u);
  EXPECT_EQ(listener.statements[0], "UPDATE \r\nSET\r\n  Name=\"Jo\"\r\nWHERE\r\n  (Name=\"Jon\")");
}

// No "FROM " and no dot: the whole text is the name, and the statement has
// no empty line before SET.
TEST_F(DatasetLog, AQueryWithoutFromGivesItsLinesAndNoEmptyLine) {
  query.SQL()->SetText("SELECT *\r\nFROM\r\nCustomer");
  Follow(query);
  query.Edit();
  query.FieldByName("City")->SetAsString("Rome");
  query.Post();
  ASSERT_EQ(listener.statements.size(), 1u);
  EXPECT_EQ(listener.statements[0],
            "UPDATE SELECT *\r\nFROM\r\nCustomer\r\nSET\r\n  City=\"Rome\"\r\nWHERE\r\n  (City=\"Paris\")");
}

// Every row of a database's Customer table, as one text.
String CustomerRows(TSQLiteConnection& database) {
  TSQLiteQuery rows(nullptr);
  rows.SetConnection(&database);
  rows.SQL()->SetText("SELECT Id, Name, City, Note, \"First Name\" FROM Customer ORDER BY Id");
  rows.Open();
  String text;
  for (; !rows.Eof(); rows.Next()) {
    for (int i = 0; i < rows.FieldCount(); ++i) text += rows.Fields()[i]->AsString() + "|";
    text += "\n";
  }
  return text;
}

// Standard literals replayed on a copy of the database change what the
// dataset changed, also where a value matches a column's name (a double
// quoted "Name" would be that column, true for every row).
TEST_F(DatasetLog, StandardLiteralsReplayedOnSQLiteChangeExactlyTheIntendedRows) {
  const String rows = "INSERT INTO Customer (Id, Name, City) VALUES (2, 'Name', 'City'), (3, 'Bea', 'Name');";
  connection.ExecSQL(rows);
  TSQLiteConnection replica(nullptr);
  replica.SetDatabaseName(dir.File("replica.db"));
  replica.ExecSQL(
      "CREATE TABLE Customer (Id INTEGER PRIMARY KEY, Name TEXT, City TEXT, Note TEXT, \"First Name\" TEXT);"
      "INSERT INTO Customer (Id, Name, City, \"First Name\") VALUES (1, 'Jon', 'Paris', 'Ann');" + rows);
  ASSERT_EQ(CustomerRows(replica), CustomerRows(connection));
  log.SetSQLLiterals(slStandard);
  Follow(table);
  for (table.First(); table.FieldByName("Id")->AsInteger() != 2; table.Next()) {}
  table.Edit();
  table.FieldByName("Name")->SetAsString("O'Neil");
  table.Post();
  table.Append();
  table.FieldByName("Id")->SetAsInteger(4);
  table.FieldByName("Name")->SetAsString("City");
  table.Post();
  ASSERT_EQ(listener.statements.size(), 2u);
  EXPECT_EQ(listener.statements[0], "UPDATE Customer\r\nSET\r\n  Name='O''Neil'\r\nWHERE\r\n  (Name='Name')");
  for (const String& statement : listener.statements) replica.ExecSQL(statement);
  EXPECT_EQ(CustomerRows(replica), CustomerRows(connection));
}

TEST_F(DatasetLog, LinesFollowTheDataLink) {
  log.SetLogFile(dir.File("changes.log"));
  Follow(query);
  query.Next();
  query.Edit();
  query.FieldByName("City")->SetAsString("Rome");
  query.Post();
  query.Close();
  EXPECT_EQ(listener.events,
            (std::vector<String>{"dbeActiveChanged", "dbeActiveChanged", "dbeEditingChanged", "dbeRecordChanged",
                                 "dbeRecordChanged City", "dbeUpdateData", "dbeEditingChanged", "dbeDataSetChanged",
                                 "dbeActiveChanged"}))
      << "Next on the last record does not move";
  const String prefix = FormatDateTime("c", Now()).substr(0, 6);
  ASSERT_EQ(listener.texts.size(), 9u);
  EXPECT_EQ(listener.texts[4].substr(0, 6), prefix);
  EXPECT_TRUE(listener.texts[4].ends_with(" dbeRecordChanged City:Rome\r\n")) << listener.texts[4];
  EXPECT_TRUE(listener.texts[2].ends_with(" dbeEditingChanged\r\n"));
  String all;
  for (const String& t : listener.texts) all += t;
  EXPECT_EQ(LogFileText(), all);
}

TEST_F(DatasetLog, FilterHandlerAndSwitches) {
  log.SetLogFile(dir.File("changes.log"));
  log.SetFilterEvents({dbeRecordChanged});
  const String replaced = "edited\r\n";
  listener.replaceWith = &replaced;
  Follow(table);
  table.Edit();
  table.FieldByName("City")->SetAsString("Rome");
  EXPECT_EQ(listener.events, (std::vector<String>{"dbeRecordChanged", "dbeRecordChanged City"}));
  EXPECT_EQ(LogFileText(), "edited\r\nedited\r\n");

  const String nothing;
  listener.replaceWith = &nothing;
  table.FieldByName("City")->SetAsString("Oslo");
  EXPECT_EQ(LogFileText(), "edited\r\nedited\r\n") << "an emptied text writes nothing";

  listener.replaceWith = nullptr;
  log.SetLogFile("");
  table.FieldByName("City")->SetAsString("Lima");
  EXPECT_EQ(listener.events.size(), 4u) << "OnChange without a log file";

  log.SetActive(false);
  table.FieldByName("City")->SetAsString("Bern");
  log.SetActive(true);
  log.SetFilterEvents({});
  table.FieldByName("City")->SetAsString("Kiev");
  log.SetFilterEvents({dbeRecordChanged});
  log.SetDesigning(true);
  table.FieldByName("City")->SetAsString("Riga");
  EXPECT_EQ(listener.events.size(), 4u) << "inactive, filtered out, at design time";
  EXPECT_TRUE(FileExists(dir.File("changes.log")));
}

TEST_F(DatasetLog, FreeingTheSourceLetsGoOfIt) {
  auto other = std::make_unique<TDataSource>(nullptr);
  other->SetDataSet(&table);
  log.SetDataSource(other.get());
  table.Open();
  listener.events.clear();
  other.reset();
  EXPECT_EQ(log.DataSource(), nullptr);
  EXPECT_EQ(listener.events, (std::vector<String>{"dbeActiveChanged"}));
}

TEST_F(DatasetLog, AStoredDataModuleLoadsAndWorks) {
  RegisterClass(TZTDatasetLog::StaticClass());
  const String stored = "object Module1: TDataModule\n"
                        "  object Connection1: TSQLiteConnection\n"
                        "    DatabaseName = '" + dir.File("shop.db") + "'\n"
                        "    Connected = True\n"
                        "  end\n"
                        "  object Query1: TSQLiteQuery\n"
                        "    Connection = Connection1\n"
                        "    SQL.Strings = (\n      'SELECT Id, Name FROM Customer')\n"
                        "    Active = True\n"
                        "  end\n"
                        "  object Source1: TDataSource\n"
                        "    DataSet = Query1\n"
                        "  end\n"
                        "  object Log1: TZTDatasetLog\n"
                        "    Active = True\n"
                        "    LogFile = '" + dir.File("stored.log") + "'\n"
                        "    DataSource = Source1\n"
                        "    FilterEvents = [dbeRecordChanged, dbeUpdateData]\n"
                        "  end\n"
                        "end\n";
  TDataModule module(nullptr);
  TextToComponent(stored, &module);
  auto* storedQuery = dynamic_cast<TSQLiteQuery*>(module.FindComponent("Query1"));
  auto* storedLog = dynamic_cast<TZTDatasetLog*>(module.FindComponent("Log1"));
  ASSERT_NE(storedQuery, nullptr);
  ASSERT_NE(storedLog, nullptr);
  ASSERT_TRUE(storedQuery->Active());
  storedLog->SetOnSQLStatement(MakeMethod<&Listener::Statement>(&listener));
  storedQuery->Edit();
  storedQuery->FieldByName("Name")->SetAsString("Jo");
  storedQuery->Post();
  ASSERT_EQ(listener.statements.size(), 1u);
  EXPECT_EQ(listener.statements[0], "UPDATE Customer\r\nSET\r\n  Name=\"Jo\"\r\nWHERE\r\n  (Name=\"Jon\")");
  const String text = test::ReadFileBytes(storedLog->LogFile());
  EXPECT_NE(text.find(" dbeRecordChanged Name:Jo\r\n"), String::npos) << text;
  EXPECT_NE(text.find(" dbeUpdateData\r\n"), String::npos) << text;
  EXPECT_EQ(text.find("dbeEditingChanged"), String::npos) << text;
  const String written = ComponentToText(&module);
  EXPECT_NE(written.find("FilterEvents = [dbeRecordChanged, dbeUpdateData]"), String::npos) << written;
  EXPECT_EQ(written.find("SQLLiterals"), String::npos) << written;  // the default is not stored
  storedLog->SetSQLLiterals(slStandard);
  EXPECT_NE(ComponentToText(&module).find("    SQLLiterals = slStandard\r\n"), String::npos);
  EXPECT_NE(written.find("DataSource = Source1"), String::npos) << written;
}

}  // namespace
}  // namespace ztl
