#include <gtest/gtest.h>

#include "tests/platform/classes/Model.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/classes/Collection.h>
#include <ztlogger/platform/classes/Strings.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl::test {
namespace {

TEST(StringLists, TextUsesCRLFAndSplitsEveryLineBreak) {
  TStringList list;
  list.SetText("one\r\ntwo\nthree\rfour\r\n");
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list[3], "four");
  EXPECT_EQ(list.Text(), "one\r\ntwo\r\nthree\r\nfour\r\n");
  list.SetText("a\r\n\r\nb");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list[1], "");
  list.SetText("");
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Text(), "");
}

TEST(StringLists, IndexErrorsRaise) {
  TStringList list;
  list.Add("x");
  EXPECT_THROW(list.Get(1), EStringListError);
  EXPECT_THROW(list.Delete(-1), EStringListError);
  EXPECT_THROW(list.Insert(2, "y"), EStringListError);
  EXPECT_EQ(list.IndexOf("X"), 0);
  EXPECT_EQ(list.IndexOf("y"), -1);
}

TEST(StringLists, SortedListsKeepOrderAndDuplicateRule) {
  TStringList list;
  list.SetSorted(true);
  list.Add("pear");
  list.Add("Apple");
  list.Add("fig");
  EXPECT_EQ(list.CommaText(), "Apple,fig,pear");
  EXPECT_EQ(list.Add("FIG"), 1);  // ignored duplicate
  EXPECT_EQ(list.Count(), 3);
  list.SetDuplicates(dupError);
  EXPECT_THROW(list.Add("pear"), EStringListError);
  EXPECT_THROW(list.Insert(0, "x"), EStringListError);
}

TEST(StringLists, LoadFromFileSkipsTheByteOrderMark) {
  TestDir dir;
  WriteFileBytes(dir.File("l.txt"), "\xEF\xBB\xBFz\xC3\xBCrich\nbern");
  TStringList list;
  list.LoadFromFile(dir.File("l.txt"));
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[0], "z\xC3\xBCrich");
  list.SaveToFile(dir.File("out.txt"));
  EXPECT_EQ(ReadFileBytes(dir.File("out.txt")), "z\xC3\xBCrich\r\nbern\r\n");
  EXPECT_THROW(list.LoadFromFile(dir.File("missing.txt")), EFOpenError);
}

TEST(StringLists, CommaTextQuotesWhereNeeded) {
  TStringList list;
  list.Add("plain");
  list.Add("with space");
  list.Add("say \"hi\"");
  list.Add("");
  EXPECT_EQ(list.CommaText(), "plain,\"with space\",\"say \"\"hi\"\"\",\"\"");
}

// Counts the updates a collection announces.
class TCountingCollection : public TCollection {
 public:
  TCountingCollection() : TCollection(TThing::StaticClass()) {}
  int updates = 0;

 protected:
  void Update(TCollectionItem* Item) override {
    (void)Item;
    ++updates;
  }
};

TEST(Collections, AddCreatesItemsOfTheItemClassAndUpdatesWaitForEndUpdate) {
  TCountingCollection c;
  auto* first = dynamic_cast<TThing*>(c.Add());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Collection(), &c);
  EXPECT_EQ(c.updates, 1);
  c.BeginUpdate();
  c.Add();
  c.Add();
  EXPECT_EQ(c.updates, 1);
  c.EndUpdate();
  EXPECT_EQ(c.updates, 2);
  EXPECT_EQ(c.Count(), 3);
  // An item made with a collection joins it; deleting it leaves.
  auto* joined = new TThing(&c);
  EXPECT_EQ(c.Count(), 4);
  EXPECT_EQ(joined->Index(), 3);
  joined->SetIndex(0);
  EXPECT_EQ(c.Items(0), joined);
  delete joined;
  EXPECT_EQ(c.Count(), 3);
  EXPECT_THROW(c.Items(3), EListError);
}

TEST(Collections, AssignCopiesItemsAndRefusesOtherClasses) {
  TCollection a(TThing::StaticClass());
  static_cast<TThing*>(a.Add())->SetSize(7);
  TCollection b(TThing::StaticClass());
  b.Add();
  b.Add();
  b.Assign(&a);
  ASSERT_EQ(b.Count(), 1);
  EXPECT_EQ(static_cast<TThing*>(b.Items(0))->Size(), 7);
  TStringList list;
  EXPECT_THROW(b.Assign(&list), EConvertError);
  // Items that cannot copy themselves make the assignment fail too.
  TCollection plain(TCollectionItem::StaticClass());
  EXPECT_THROW(plain.Assign(&a), EConvertError);
}

TEST(Collections, OwnedCollectionNamesItsPath) {
  TComponent owner(nullptr);
  auto* w = new TWidget(&owner);
  w->SetName("W");
  w->Things()->Add();
  EXPECT_EQ(w->Things()->GetNamePath(), "W.Things");
  EXPECT_EQ(w->Things()->Items(0)->GetNamePath(), "W.Things[0]");
  EXPECT_EQ(w->Things()->Owner(), w);
}

}  // namespace
}  // namespace ztl::test
