// The order in which a data link and its data source hear of each dataset
// operation, on a real SQLite table.
#include <gtest/gtest.h>

#include <memory>

#include <ztlogger/platform/db/DB.h>
#include <ztlogger/platform/db/SQLiteDB.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {
namespace {

String StateName(TDataSetState s) { return GetEnumName(EnumTypeInfo(s), s); }

// Records every notification by name, without the default bodies' calls.
class RecordingLink : public TDataLink {
 public:
  explicit RecordingLink(std::vector<String>& log, String prefix = "") : log_(log), prefix_(std::move(prefix)) {}

 protected:
  void ActiveChanged() override { Add("ActiveChanged(" + String(Active() ? "True" : "False") + ")"); }
  void CheckBrowseMode() override { Add("CheckBrowseMode"); }
  void DataSetChanged() override { Add("DataSetChanged"); }
  void DataSetScrolled(int Distance) override { Add("DataSetScrolled(" + std::to_string(Distance) + ")"); }
  void EditingChanged() override { Add("EditingChanged(" + String(Editing() ? "True" : "False") + ")"); }
  void LayoutChanged() override { Add("LayoutChanged"); }
  void RecordChanged(TField* Field) override { Add("RecordChanged(" + (Field ? Field->FieldName() : "nil") + ")"); }
  void UpdateData() override { Add("UpdateData"); }

 private:
  void Add(const String& s) { log_.push_back(prefix_ + s); }
  std::vector<String>& log_;
  String prefix_;
};

// Records the data source's events.
class SourceEvents : public TObject {
 public:
  SourceEvents(std::vector<String>& log, TDataSource& source) : log_(log), source_(source) {
    source.SetOnStateChange(MakeMethod<&SourceEvents::StateChange>(this));
    source.SetOnDataChange(MakeMethod<&SourceEvents::DataChange>(this));
    source.SetOnUpdateData(MakeMethod<&SourceEvents::UpdateData>(this));
  }
  void StateChange(TObject*) { log_.push_back("DS:StateChange(" + StateName(source_.State()) + ")"); }
  void DataChange(TObject*, TField* Field) { log_.push_back("DS:DataChange(" + (Field ? Field->FieldName() : "nil") + ")"); }
  void UpdateData(TObject*) { log_.push_back("DS:UpdateData"); }

 private:
  std::vector<String>& log_;
  TDataSource& source_;
};

class DataLinkOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    connection.SetDatabaseName(":memory:");
    connection.ExecSQL("CREATE TABLE T (Id INTEGER PRIMARY KEY, Name TEXT); "
                       "INSERT INTO T VALUES (1,'a'),(2,'b'),(3,'c'),(4,'d'),(5,'e')");
    table.SetConnection(&connection);
    table.SetTableName("T");
    source.SetDataSet(&table);
    link.SetDataSource(&source);
  }

  // What the link and the source heard during op, in order.
  template <typename Op>
  String During(Op op) {
    log.clear();
    op();
    String all;
    for (const String& s : log) all += (all.empty() ? "" : ", ") + s;
    return all;
  }

  std::vector<String> log;
  TSQLiteConnection connection{nullptr};
  TSQLiteTable table{nullptr};
  TDataSource source{nullptr};
  SourceEvents events{log, source};
  RecordingLink link{log};
};

TEST_F(DataLinkOrder, OpenAndClose) {
  EXPECT_EQ(During([&] { table.Open(); }), "ActiveChanged(True), DS:StateChange(dsBrowse), DS:DataChange(nil)");
  EXPECT_EQ(During([&] { table.Close(); }), "ActiveChanged(False), DS:StateChange(dsInactive)");
  table.Open();
  table.Edit();
  table.FieldByName("Name")->SetAsString("changed");
  EXPECT_EQ(During([&] { table.Close(); }),
            "ActiveChanged(False), EditingChanged(False), DS:StateChange(dsInactive)");
  table.Open();
  EXPECT_EQ(table.FieldByName("Name")->AsString(), "a") << "closing dropped the edit";
}

TEST_F(DataLinkOrder, AttachingSourcesAndLinks) {
  table.Open();
  EXPECT_EQ(During([&] { source.SetDataSet(nullptr); }), "ActiveChanged(False), DS:StateChange(dsInactive)");
  EXPECT_EQ(During([&] { source.SetDataSet(&table); }),
            "ActiveChanged(True), DS:StateChange(dsBrowse), DS:DataChange(nil)");
  EXPECT_EQ(During([&] { link.SetDataSource(nullptr); }), "ActiveChanged(False)");
  EXPECT_EQ(During([&] { link.SetDataSource(&source); }), "ActiveChanged(True)");
}

TEST_F(DataLinkOrder, Scrolling) {
  table.Open();
  EXPECT_EQ(During([&] { table.Next(); }), "CheckBrowseMode, DataSetScrolled(1), DS:DataChange(nil)");
  EXPECT_EQ(During([&] { table.Prior(); }), "CheckBrowseMode, DataSetScrolled(-1), DS:DataChange(nil)");
  EXPECT_EQ(During([&] { table.MoveBy(2); }), "CheckBrowseMode, DataSetScrolled(2), DS:DataChange(nil)");
  EXPECT_EQ(During([&] { table.Last(); }), "CheckBrowseMode, DataSetChanged, DS:DataChange(nil)");
  EXPECT_EQ(During([&] { table.Next(); }), "CheckBrowseMode");
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(During([&] { table.First(); }), "CheckBrowseMode, DataSetChanged, DS:DataChange(nil)");
  EXPECT_EQ(During([&] { table.Prior(); }), "CheckBrowseMode");
  EXPECT_TRUE(table.Bof());
  EXPECT_EQ(During([&] { table.Refresh(); }), "CheckBrowseMode, DataSetChanged, DS:DataChange(nil)");
}

// The dataset's scroll events, in the order the links hear them.
class ScrollEvents : public TObject {
 public:
  ScrollEvents(std::vector<String>& log, TDataSet& ds) : log_(log) {
    ds.SetBeforeScroll(MakeMethod<&ScrollEvents::BeforeScroll>(this));
    ds.SetAfterScroll(MakeMethod<&ScrollEvents::AfterScroll>(this));
  }
  void BeforeScroll(TDataSet*) { log_.push_back("BeforeScroll"); }
  void AfterScroll(TDataSet*) { log_.push_back("AfterScroll"); }

 private:
  std::vector<String>& log_;
};

TEST_F(DataLinkOrder, ScrollEventsAroundNext) {
  table.Open();
  ScrollEvents scroll(log, table);
  EXPECT_EQ(During([&] { table.Next(); }),
            "CheckBrowseMode, BeforeScroll, DataSetScrolled(1), DS:DataChange(nil), AfterScroll");
  table.Last();
  EXPECT_EQ(During([&] { table.Next(); }), "CheckBrowseMode, BeforeScroll") << "no move, no AfterScroll";
  table.SetAfterScroll(nullptr);
  table.Prior();
  EXPECT_EQ(During([&] { table.Next(); }), "CheckBrowseMode, BeforeScroll, DataSetScrolled(1), DS:DataChange(nil)");
}

TEST_F(DataLinkOrder, EditFieldChangePostCancel) {
  table.Open();
  EXPECT_EQ(During([&] { table.Edit(); }),
            "CheckBrowseMode, EditingChanged(True), DS:StateChange(dsEdit), RecordChanged(nil), DS:DataChange(nil)");
  EXPECT_EQ(During([&] { table.Edit(); }), "");
  EXPECT_EQ(During([&] { table.FieldByName("Name")->SetAsString("a"); }), "RecordChanged(Name), DS:DataChange(Name)");
  EXPECT_EQ(During([&] { table.Post(); }),
            "UpdateData, DS:UpdateData, CheckBrowseMode, EditingChanged(False), DS:StateChange(dsBrowse), "
            "DataSetChanged, DS:DataChange(nil)");
  table.Edit();
  EXPECT_EQ(During([&] { table.Cancel(); }),
            "CheckBrowseMode, EditingChanged(False), DS:StateChange(dsBrowse), DataSetChanged, DS:DataChange(nil)");
}

TEST_F(DataLinkOrder, InsertAppendDelete) {
  table.Open();
  EXPECT_EQ(During([&] { table.Insert(); }),
            "CheckBrowseMode, EditingChanged(True), DS:StateChange(dsInsert), DataSetChanged, DS:DataChange(nil)");
  EXPECT_EQ(During([&] { table.Delete(); }),
            "CheckBrowseMode, EditingChanged(False), DS:StateChange(dsBrowse), DataSetChanged, DS:DataChange(nil)")
      << "Delete while inserting cancels";
  EXPECT_EQ(During([&] { table.Append(); }),
            "CheckBrowseMode, EditingChanged(True), DS:StateChange(dsInsert), DataSetChanged, DS:DataChange(nil)");
  table.Cancel();
  EXPECT_EQ(During([&] { table.Delete(); }), "CheckBrowseMode, DataSetChanged, DS:DataChange(nil)");
  EXPECT_EQ(table.RecordCount(), 4);
}

TEST_F(DataLinkOrder, EditOnAnEmptyDatasetAppends) {
  connection.ExecSQL("DELETE FROM T");
  table.Open();
  EXPECT_EQ(During([&] { table.Edit(); }),
            "CheckBrowseMode, CheckBrowseMode, EditingChanged(True), DS:StateChange(dsInsert), DataSetChanged, "
            "DS:DataChange(nil)");
}

TEST_F(DataLinkOrder, MovingFinishesAPendingEdit) {
  table.Open();
  table.Edit();
  table.FieldByName("Name")->SetAsString("z");
  // The scroll distance after the implicit post counts the records moved.
  EXPECT_EQ(During([&] { table.Next(); }),
            "CheckBrowseMode, UpdateData, DS:UpdateData, UpdateData, DS:UpdateData, CheckBrowseMode, "
            "EditingChanged(False), DS:StateChange(dsBrowse), DataSetChanged, DS:DataChange(nil), "
            "DataSetScrolled(1), DS:DataChange(nil)");
  table.Edit();
  EXPECT_EQ(During([&] { table.Next(); }),
            "CheckBrowseMode, UpdateData, DS:UpdateData, CheckBrowseMode, EditingChanged(False), "
            "DS:StateChange(dsBrowse), DataSetChanged, DS:DataChange(nil), DataSetScrolled(1), DS:DataChange(nil)");
  table.First();
  EXPECT_EQ(table.FieldByName("Name")->AsString(), "z");
}

TEST_F(DataLinkOrder, ControlsDisabledAndEnabled) {
  table.Open();
  EXPECT_EQ(During([&] {
              table.DisableControls();
              table.First();
              table.Next();
              table.Next();
              table.EnableControls();
            }),
            "DataSetChanged, DS:DataChange(nil)");
  EXPECT_EQ(During([&] {
              table.DisableControls();
              table.DisableControls();
              table.Edit();
              table.EnableControls();
            }),
            "");
  EXPECT_EQ(During([&] { table.EnableControls(); }),
            "EditingChanged(True), DS:StateChange(dsEdit), DataSetChanged, DS:DataChange(nil)");
  table.Cancel();
  EXPECT_EQ(During([&] {
              table.DisableControls();
              table.FieldByName("Name")->SetDisplayLabel("The name");
              table.EnableControls();
            }),
            "LayoutChanged, DS:DataChange(nil)");
}

TEST_F(DataLinkOrder, VisualLinksHearLastAndReadOnlyLinksDoNotEdit) {
  RecordingLink visual(log, "V:");
  visual.SetVisualControl(true);
  visual.SetDataSource(&source);
  RecordingLink plain(log, "L:");
  plain.SetReadOnly(true);
  plain.SetDataSource(&source);
  table.Open();
  EXPECT_EQ(During([&] { table.Edit(); }),
            "CheckBrowseMode, L:CheckBrowseMode, V:CheckBrowseMode, EditingChanged(True), V:EditingChanged(True), "
            "DS:StateChange(dsEdit), RecordChanged(nil), L:RecordChanged(nil), V:RecordChanged(nil), "
            "DS:DataChange(nil)");
  EXPECT_FALSE(plain.Editing());
}

TEST_F(DataLinkOrder, ADisabledSourceIsInactiveForItsLinks) {
  table.Open();
  EXPECT_EQ(During([&] { source.SetEnabled(false); }), "ActiveChanged(False), DS:StateChange(dsInactive)");
  EXPECT_EQ(During([&] { table.Next(); }), "");
  EXPECT_EQ(During([&] { source.SetEnabled(true); }),
            "ActiveChanged(True), DS:StateChange(dsBrowse), DS:DataChange(nil)");
}

TEST_F(DataLinkOrder, FreeingTheDatasetOrTheSourceDeactivatesTheLink) {
  auto other = std::make_unique<TSQLiteTable>(nullptr);
  other->SetConnection(&connection);
  other->SetTableName("T");
  source.SetDataSet(other.get());
  other->Open();
  log.clear();
  other.reset();
  EXPECT_EQ(source.DataSet(), nullptr);
  EXPECT_FALSE(link.Active());
  auto second = std::make_unique<TDataSource>(nullptr);
  second->SetDataSet(&table);
  table.Open();
  RecordingLink follower(log);
  follower.SetDataSource(second.get());
  EXPECT_EQ(During([&] { second.reset(); }), "ActiveChanged(False)");
  EXPECT_EQ(follower.DataSource(), nullptr);
}

// Records the dataset's own events; OnNewRecord fills a default, BeforePost
// refuses while told to.
class DataSetEvents : public TObject {
 public:
  explicit DataSetEvents(TDataSet& ds) {
    ds.SetBeforeEdit(MakeMethod<&DataSetEvents::BeforeEdit>(this));
    ds.SetAfterEdit(MakeMethod<&DataSetEvents::AfterEdit>(this));
    ds.SetBeforeInsert(MakeMethod<&DataSetEvents::BeforeInsert>(this));
    ds.SetOnNewRecord(MakeMethod<&DataSetEvents::NewRecord>(this));
    ds.SetBeforePost(MakeMethod<&DataSetEvents::BeforePost>(this));
    ds.SetAfterPost(MakeMethod<&DataSetEvents::AfterPost>(this));
    ds.SetAfterCancel(MakeMethod<&DataSetEvents::AfterCancel>(this));
    ds.SetBeforeDelete(MakeMethod<&DataSetEvents::BeforeDelete>(this));
    ds.SetAfterScroll(MakeMethod<&DataSetEvents::AfterScroll>(this));
  }
  void BeforeEdit(TDataSet*) { seen += "BeforeEdit "; }
  void AfterEdit(TDataSet*) { seen += "AfterEdit "; }
  void BeforeInsert(TDataSet*) { seen += "BeforeInsert "; }
  void NewRecord(TDataSet* ds) {
    seen += "OnNewRecord ";
    ds->FieldByName("Name")->SetAsString("new");
  }
  void BeforePost(TDataSet*) {
    seen += "BeforePost ";
    if (refuse) throw EAbort("refused");
  }
  void AfterPost(TDataSet*) { seen += "AfterPost "; }
  void AfterCancel(TDataSet*) { seen += "AfterCancel "; }
  void BeforeDelete(TDataSet*) { seen += "BeforeDelete "; }
  void AfterScroll(TDataSet*) { seen += "AfterScroll "; }
  String seen;
  bool refuse = false;
};

TEST_F(DataLinkOrder, DatasetEventsAndARefusedPost) {
  DataSetEvents events(table);
  table.Open();
  table.Edit();
  table.Cancel();
  table.Next();
  table.Append();
  EXPECT_EQ(table.FieldByName("Name")->AsString(), "new");
  events.refuse = true;
  EXPECT_THROW(table.Post(), EAbort);
  EXPECT_EQ(table.State(), dsInsert);
  events.refuse = false;
  table.Post();
  table.Delete();
  EXPECT_EQ(events.seen,
            "BeforeEdit AfterEdit AfterCancel AfterScroll BeforeInsert OnNewRecord BeforePost BeforePost AfterPost "
            "BeforeDelete ");
  EXPECT_EQ(table.RecordCount(), 5);
}

}  // namespace
}  // namespace ztl
