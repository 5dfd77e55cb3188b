#include <gtest/gtest.h>

#include "platform/classes/Filer.h"
#include "platform/classes/Resources.h"
#include "platform/rtl/Exceptions.h"
#include "tests/platform/classes/Model.h"

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
