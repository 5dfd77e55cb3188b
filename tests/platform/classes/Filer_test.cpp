#include <gtest/gtest.h>

#include "tests/platform/classes/Model.h"
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/classes/Resources.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl::test {
namespace {

class StoredForms : public ::testing::Test {
 protected:
  void SetUp() override { RegisterModel(); }
};

TEST_F(StoredForms, DefaultsAreNotWritten) {
  TPanelRoot root(nullptr);
  root.SetName("Root");
  (new TWidget(&root))->SetName("W1");
  EXPECT_EQ(ComponentToText(&root),
            "object Root: TPanelRoot\r\n"
            "  object W1: TWidget\r\n"
            "  end\r\n"
            "end\r\n");
}

TEST_F(StoredForms, EveryKindIsWrittenInPublishedOrder) {
  TPanelRoot root(nullptr);
  root.SetName("Root");
  auto* w = new TWidget(&root);
  w->SetName("W1");
  auto* other = new TWidget(&root);
  other->SetName("W2");
  w->SetCount(-7);
  w->SetRatio(2.5);
  w->SetCaption("it's\r\nhere");
  w->SetVisible(false);
  w->SetColor(ckBlue);
  w->SetColors({});
  w->Settings()->SetTitle("T");
  w->Settings()->Files()->Add("a.txt");
  w->Settings()->Files()->Add("b c.txt");
  static_cast<TThing*>(w->Things()->Add())->SetSize(3);
  static_cast<TThing*>(w->Things()->Add())->SetLabel("x");
  w->SetBuddy(other);
  w->SetOnPing(MakeMethod<&TPanelRoot::PingHandler>(&root));
  EXPECT_EQ(ComponentToText(&root),
            "object Root: TPanelRoot\r\n"
            "  object W1: TWidget\r\n"
            "    Count = -7\r\n"
            "    Ratio = 2.5\r\n"
            "    Caption = 'it''s'#13#10'here'\r\n"
            "    Visible = False\r\n"
            "    Color = ckBlue\r\n"
            "    Colors = []\r\n"
            "    Settings.Title = 'T'\r\n"
            "    Settings.Files.Strings = (\r\n"
            "      'a.txt'\r\n"
            "      'b c.txt')\r\n"
            "    Things = <\r\n"
            "      item\r\n"
            "        Size = 3\r\n"
            "      end\r\n"
            "      item\r\n"
            "        Label = 'x'\r\n"
            "      end>\r\n"
            "    Buddy = W2\r\n"
            "    OnPing = PingHandler\r\n"
            "  end\r\n"
            "  object W2: TWidget\r\n"
            "  end\r\n"
            "end\r\n");
}

TEST_F(StoredForms, WriteReadWriteGivesTheSameText) {
  const String text =
      "object Root: TPanelRoot\r\n"
      "  object First: TWidget\r\n"
      "    Count = 12\r\n"
      "    Ratio = 0.1\r\n"
      "    Caption = 'caf\xC3\xA9'#9'tab'\r\n"
      "    Colors = [ckRed, ckGreen, ckBlue]\r\n"
      "    Settings.Enabled = False\r\n"
      "    Settings.Files.Strings = (\r\n"
      "      ''\r\n"
      "      'x')\r\n"
      "    Things = <\r\n"
      "      item\r\n"
      "        Size = 5\r\n"
      "        Label = 'five'\r\n"
      "      end>\r\n"
      "    Buddy = Second\r\n"
      "    OnPing = PingHandler\r\n"
      "  end\r\n"
      "  object Second: TWidget\r\n"
      "    Buddy = First\r\n"
      "  end\r\n"
      "end\r\n";
  TPanelRoot root(nullptr);
  TextToComponent(text, &root);
  EXPECT_EQ(ComponentToText(&root), text);
  ASSERT_NE(root.First, nullptr);  // published field bound by name
  EXPECT_EQ(root.First->Caption(), "caf\xC3\xA9\ttab");
  EXPECT_EQ(root.First->Buddy(), root.FindComponent("Second"));
  EXPECT_EQ(static_cast<TThing*>(root.First->Things()->Items(0))->Label(), "five");
  root.First->OnPing()(root.First);
  ASSERT_EQ(root.pinged.size(), 1u);
  EXPECT_EQ(root.pinged[0], root.First);
}

TEST_F(StoredForms, ItemsOfADescendantClassKeepTheirClass) {
  const String text =
      "object Root: TPanelRoot\r\n"
      "  object First: TWidget\r\n"
      "    Things = <\r\n"
      "      item\r\n"
      "        Size = 2\r\n"
      "      end\r\n"
      "      item: TBigThing\r\n"
      "        Label = 'big'\r\n"
      "        Parts = <\r\n"
      "          item: TBigThing\r\n"
      "            Weight = 1\r\n"
      "          end>\r\n"
      "        Weight = 9\r\n"
      "      end>\r\n"
      "  end\r\n"
      "end\r\n";
  TPanelRoot root(nullptr);
  TextToComponent(text, &root);
  EXPECT_EQ(ComponentToText(&root), text);
  TCollection* things = root.First->Things();
  ASSERT_EQ(things->Count(), 2);
  EXPECT_EQ(things->Items(0)->ClassType(), TThing::StaticClass());
  auto* big = dynamic_cast<TBigThing*>(things->Items(1));
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->Weight(), 9);
  EXPECT_TRUE(static_cast<TThing*>(big)->Parts()->Items(0)->Is<TBigThing>());

  auto read = [&](const char* item) {
    TPanelRoot other(nullptr);
    TextToComponent(String("object R: TPanelRoot\n object First: TWidget\n  Things = <\n   ") + item +
                        "\n   end>\n end\nend",
                    &other);
  };
  EXPECT_THROW(read("item: TWidget"), EParserError) << "no item class of the collection";
  EXPECT_THROW(read("item: TNoThing"), EClassNotFound);
  EXPECT_THROW(read("item: 12"), EParserError);
}

TEST_F(StoredForms, ValuesAreAppliedWhileLoadingThenLoadedRuns) {
  TPanelRoot root(nullptr);
  TextToComponent("object R: TPanelRoot\n object First: TWidget\n  Count = 1\n end\nend\n", &root);
  EXPECT_EQ(root.First->Trace, std::vector<String>{"Loaded"});
  EXPECT_FALSE(root.First->ComponentState().Contains(csLoading));
  EXPECT_FALSE(root.ComponentState().Contains(csLoading));
  EXPECT_EQ(root.Name(), "R");
}

TEST_F(StoredForms, CreatesTheRootClassNamedInTheText) {
  TComponent owner(nullptr);
  TComponent* made = CreateComponentFromText("object W: TWidget\n  Count = 3\nend", &owner);
  ASSERT_TRUE(made->Is<TWidget>());
  EXPECT_EQ(static_cast<TWidget*>(made)->Count(), 3);
  EXPECT_EQ(made->Owner(), &owner);
}

TEST_F(StoredForms, BadInputRaisesClearErrors) {
  TPanelRoot root(nullptr);
  EXPECT_THROW(TextToComponent("object R: TPanelRoot\n object X: TNoClass\n end\nend", &root), EClassNotFound);
  TPanelRoot r2(nullptr);
  EXPECT_THROW(TextToComponent("object R: TPanelRoot\n object A: TWidget\n Nope = 1\n end\nend", &r2), EReadError);
  TPanelRoot r3(nullptr);
  EXPECT_THROW(TextToComponent("object R: TPanelRoot\n object A: TWidget\n Count = 'x'\n end\nend", &r3),
               EReadError);
  TPanelRoot r4(nullptr);
  EXPECT_THROW(TextToComponent("object R: TPanelRoot\n object A: TWidget\n OnPing = Missing\n end\nend", &r4),
               EMethodNotFound);
  TPanelRoot r5(nullptr);
  EXPECT_THROW(TextToComponent("object R: TPanelRoot\n object A: TWidget\n OnPing = WrongSignature\n end\nend", &r5),
               EReadError);
  TPanelRoot r6(nullptr);
  EXPECT_THROW(TextToComponent("object R: TPanelRoot\n object A: TWidget\n Caption = 'open\n end\nend", &r6),
               EParserError);
  TPanelRoot r7(nullptr);
  EXPECT_THROW(TextToComponent("object R: TPanelRoot\n object A: TWidget\n Buddy = Nobody\n end\nend", &r7),
               EReadError);
  TPanelRoot r8(nullptr);
  EXPECT_THROW(TextToComponent("object R: TPanelRoot\n object A: TWidget\n Count = 1\n", &r8), EParserError);
  TWidget wrongRoot(nullptr);
  EXPECT_THROW(TextToComponent("object R: TPanelRoot\nend", &wrongRoot), EReadError);
}

// Reads one widget's lines into a fresh root; the exception, if any, is the
// caller's to expect.
void ReadWidget(TPanelRoot& root, const String& lines) {
  TextToComponent("object R: TPanelRoot\n object First: TWidget\n" + lines + "\n end\n object Second: TWidget\n end\nend",
                  &root);
}

String Repeat(const String& piece, size_t times) {
  String out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

TEST_F(StoredForms, CharacterCodesBeyondUnicodeAreParserErrors) {
  TPanelRoot root(nullptr);
  ReadWidget(root, "Caption = #1114111#65");
  EXPECT_EQ(root.First->Caption(), "\xF4\x8F\xBF\xBF" "A");
  for (const char* code : {"#1114112", "#4294967296", "#99999999999999999999999"}) {
    TPanelRoot r(nullptr);
    EXPECT_THROW(ReadWidget(r, String("Caption = ") + code), EParserError) << code;
  }
}

TEST_F(StoredForms, NumbersMustFitTheirProperty) {
  TPanelRoot root(nullptr);
  ReadWidget(root, "Count = -2147483648\nTag = -9223372036854775808\nRatio = -16");
  EXPECT_EQ(root.First->Count(), INT32_MIN);
  EXPECT_EQ(root.First->Tag(), INTPTR_MIN);
  EXPECT_EQ(root.First->Ratio(), -16.0);
  for (const char* value : {"Count = 2147483648", "Count = -2147483649", "Count = $100000000", "Count = $",
                            "Count = -$", "Tag = 9223372036854775808", "Tag = $FFFFFFFFFFFFFFFFF", "Ratio = 1e999"}) {
    TPanelRoot r(nullptr);
    EXPECT_THROW(ReadWidget(r, value), EReadError) << value;
  }
  // One sign only: a run of them once recursed without bound.
  TPanelRoot r(nullptr);
  EXPECT_THROW(ReadWidget(r, "Count = - -1"), EParserError);
  TPanelRoot deep(nullptr);
  EXPECT_THROW(ReadWidget(deep, "Count = " + Repeat("-", 1 << 20) + "1"), EParserError);
}

TEST_F(StoredForms, NestingIsCappedWithAParserError) {
  // Nesting well within the cap reads.
  TPanelRoot root(nullptr);
  ReadWidget(root, "Things = <" + Repeat("item Parts = <", 60) + ">" + Repeat("end>", 60));
  TCollection* parts = root.First->Things();
  for (int level = 0; level < 60; ++level) {
    ASSERT_EQ(parts->Count(), 1) << level;
    parts = static_cast<TThing*>(parts->Items(0))->Parts();
  }
  EXPECT_EQ(parts->Count(), 0);
  // Hostile depth fails before it can exhaust the stack.
  TPanelRoot items(nullptr);
  EXPECT_THROW(ReadWidget(items, "Things = <" + Repeat("item Parts = <", 1 << 18)), EParserError);
  TPanelRoot objects(nullptr);
  EXPECT_THROW(TextToComponent("object R: TPanelRoot\n" + Repeat("object A: TWidget\n", 1 << 18), &objects),
               EParserError);
}

TEST_F(StoredForms, PathsThroughMissingSubObjectsAreReadErrors) {
  for (const char* line : {"Spare.Title = 'x'", "NoThings = <item end>", "NoLines.Strings = ('a')",
                           "Count.Size = 1", "Settings.Nope = 1", "Settings..Title = 'x'"}) {
    TPanelRoot root(nullptr);
    EXPECT_THROW(ReadWidget(root, line), EReadError) << line;
  }
  // A long path walks in a loop, not by recursion.
  TPanelRoot root(nullptr);
  EXPECT_THROW(ReadWidget(root, Repeat("Settings.", 1 << 18) + "Title = 'x'"), EReadError);
}

TEST_F(StoredForms, BinaryValuesNeedWholeBytes) {
  TPanelRoot root(nullptr);
  ReadWidget(root, "Settings.Blob = {\n 00fF\n 7F }");
  EXPECT_EQ(root.First->Settings()->Blob, (std::vector<uint8_t>{0x00, 0xFF, 0x7F}));
  EXPECT_NE(ComponentToText(&root).find("Settings.Blob = {\r\n      00FF7F}"), String::npos);
  TPanelRoot odd(nullptr);
  EXPECT_THROW(ReadWidget(odd, "Settings.Blob = {ABC}"), EReadError);
  TPanelRoot notHex(nullptr);
  EXPECT_THROW(ReadWidget(notHex, "Settings.Blob = {0g}"), EParserError);
  TPanelRoot open(nullptr);
  EXPECT_THROW(TextToComponent("object R: TPanelRoot\n object A: TWidget\n Settings.Blob = {00", &open), EParserError);
}

TEST_F(StoredForms, ReferencesMustNameAComponentOfTheirClass) {
  TPanelRoot root(nullptr);
  ReadWidget(root, "Things = <item Partner = Second end>");
  EXPECT_EQ(static_cast<TThing*>(root.First->Things()->Items(0))->Partner(), root.FindComponent("Second"));
  TPanelRoot wrong(nullptr);
  EXPECT_THROW(ReadWidget(wrong, "Buddy = R"), EReadError);
  EXPECT_EQ(wrong.FindComponent("First"), nullptr);
}

TEST_F(StoredForms, ACollectionReadAgainForgetsTheReferencesOfItsOldItems) {
  TPanelRoot root(nullptr);
  ReadWidget(root, "Things = <item Parts = <item Partner = Second end> end>\nThings = <item Size = 2 end>");
  ASSERT_EQ(root.First->Things()->Count(), 1);
  auto* thing = static_cast<TThing*>(root.First->Things()->Items(0));
  EXPECT_EQ(thing->Size(), 2);
  EXPECT_EQ(thing->Parts()->Count(), 0);
}

TEST_F(StoredForms, AFailedReadFreesWhatItCreated) {
  TPanelRoot root(nullptr);
  auto* kept = new TWidget(&root);
  kept->SetName("Kept");
  EXPECT_THROW(TextToComponent("object R: TPanelRoot\n object Kept: TWidget\n end\n object First: TWidget\n end\n"
                               " object Other: TWidget\n Count = 'x'\n end\nend",
                               &root),
               EReadError);
  ASSERT_EQ(root.ComponentCount(), 1);
  EXPECT_EQ(root.Components(0), kept);
  EXPECT_EQ(root.First, nullptr);  // the published field no longer names the freed child
  EXPECT_FALSE(root.ComponentState().Contains(csLoading));
  EXPECT_FALSE(kept->ComponentState().Contains(csLoading));
  EXPECT_FALSE(kept->ComponentState().Contains(csReading));

  TComponent owner(nullptr);
  EXPECT_THROW(CreateComponentFromText("object P: TPanelRoot\n object A: TWidget\n Nope = 1\n end\nend", &owner),
               EReadError);
  EXPECT_EQ(owner.ComponentCount(), 0);
  // Without an owner nothing would free the root: the leak checker watches this.
  EXPECT_THROW(CreateComponentFromText("object P: TPanelRoot\n object A: TWidget\n", nullptr), EParserError);
}

TEST_F(StoredForms, AChildNamedTwiceIsOneComponentOfOneClass) {
  TPanelRoot root(nullptr);
  TextToComponent("object R: TPanelRoot\n object First: TWidget\n Count = 1\n end\n"
                  " object First: TWidget\n Ratio = 2\n end\nend",
                  &root);
  ASSERT_EQ(root.ComponentCount(), 1);
  EXPECT_EQ(root.First->Count(), 1);
  EXPECT_EQ(root.First->Ratio(), 2.0);
  EXPECT_EQ(root.First->Trace, std::vector<String>{"Loaded"});
  TPanelRoot clash(nullptr);
  EXPECT_THROW(TextToComponent("object R: TPanelRoot\n object First: TWidget\n end\n"
                               " object First: TPanelRoot\n end\nend",
                               &clash),
               EReadError);
  TPanelRoot badName(nullptr);
  EXPECT_THROW(TextToComponent("object R: TPanelRoot\n object A.B: TWidget\n end\nend", &badName), EReadError);
}

TEST_F(StoredForms, ModuleResourcesAreFoundByName) {
  static const unsigned char form[] = "object W: TWidget\n Count = 9\nend";
  static const TResourceEntry entries[] = {{"TESTFORM", form, sizeof form - 1}};
  {
    TResourceRegistration registration("test", entries, 1);
    ASSERT_NE(FindResourceEntry("testform"), nullptr);
    TWidget w(nullptr);
    ReadComponentRes("TestForm", &w);
    EXPECT_EQ(w.Count(), 9);
  }
  EXPECT_EQ(FindResourceEntry("TESTFORM"), nullptr);
  EXPECT_THROW(TResourceStream("TESTFORM"), EResNotFound);
}

}  // namespace
}  // namespace ztl::test
