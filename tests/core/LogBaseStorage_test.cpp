#include <gtest/gtest.h>

#include <ztlogger/core/LogBase.h>
#include <ztlogger/core/LogCnst.h>
#include <ztlogger/platform/classes/Filer.h>

namespace ztl::test {
namespace {

class LogBaseStorage : public ::testing::Test {
 protected:
  void SetUp() override { RegisterClass(TZTLogBase::StaticClass()); }

  static String Stored(const String& body) { return "object Holder: TComponent\r\n" + body + "end\r\n"; }
};

TEST_F(LogBaseStorage, ANewComponentStoresOnlyWhatHasNoDefault) {
  TComponent holder(nullptr);
  holder.SetName("Holder");
  auto* log = new TZTLogBase(&holder);
  log->SetName("Log1");
  String text = ComponentToText(&holder);
  // Active has no default; the log file name and the mail body are not empty.
  EXPECT_NE(text.find("    Active = False\r\n"), String::npos);
  EXPECT_NE(text.find("    LogFile = 'ztevents.log'\r\n"), String::npos);
  EXPECT_NE(text.find("    SendTo.EMailBody = 'This message contain technical information about program execution "
                      "error.'#13#10'Please, press"),
            String::npos);
  EXPECT_EQ(text.find("Formatting"), String::npos);
  EXPECT_EQ(text.find("SendTo.Options"), String::npos);
  EXPECT_EQ(text.find("EMailOpenBeforeSend"), String::npos);
}

TEST_F(LogBaseStorage, WriteReadWriteGivesTheSameText) {
  TComponent holder(nullptr);
  holder.SetName("Holder");
  auto* log = new TZTLogBase(&holder);
  log->SetName("Log1");
  log->SetLogFile("app.log");
  log->SendTo()->SetEMail("a@example.com;CC:b@example.com");
  log->SendTo()->SetEMailSubject("Crash");
  log->SendTo()->SetEMailOpenBeforeSend(false);
  log->SendTo()->SetWWW("https://example.com/support");
  log->SendTo()->SetScreenshotFormat(sfJpeg);
  log->SendTo()->SetAttachLog(true);
  log->SendTo()->AdditionalFiles()->Add("/tmp/extra.txt");
  log->SendTo()->SetOptions({doEmail});
  String first = ComponentToText(&holder);
  EXPECT_LT(first.find("SendTo.AttachLog"), first.find("SendTo.Options"));
  EXPECT_LT(first.find("SendTo.Options"), first.find("SendTo.AdditionalFiles"));

  TComponent again(nullptr);
  TextToComponent(first, &again);
  EXPECT_EQ(ComponentToText(&again), first);
  auto* read = dynamic_cast<TZTLogBase*>(again.FindComponent("Log1"));
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->SendTo()->EMail(), "a@example.com;CC:b@example.com");
  EXPECT_EQ(read->SendTo()->ScreenshotFormat(), sfJpeg);
  EXPECT_EQ(read->SendTo()->Options(), TZTLDialogOptions{doEmail});
  EXPECT_EQ(read->SendTo()->AdditionalFiles()->Text(), "/tmp/extra.txt\r\n");
}

TEST_F(LogBaseStorage, ClearedBodyAndEmptyLogFileAreNotStoredAndComeBackAsDefaults) {
  TComponent holder(nullptr);
  holder.SetName("Holder");
  auto* log = new TZTLogBase(&holder);
  log->SetName("Log1");
  log->SetLogFile("");
  log->SendTo()->SetEMailBody("");
  String text = ComponentToText(&holder);
  EXPECT_EQ(text, Stored("  object Log1: TZTLogBase\r\n    Active = False\r\n  end\r\n"));
  TComponent again(nullptr);
  TextToComponent(text, &again);
  auto* read = static_cast<TZTLogBase*>(again.FindComponent("Log1"));
  EXPECT_EQ(read->LogFile(), "ztevents.log");
  EXPECT_EQ(read->SendTo()->EMailBody(), DefaultEMailBody);
}

TEST_F(LogBaseStorage, AStoredXMLComponentEndsUpWithAnXMLLogFileName) {
  TComponent holder(nullptr);
  TextToComponent(Stored("  object Log1: TZTLogBase\r\n"
                         "    Active = True\r\n"
                         "    LogFile = 'logs/app.txt'\r\n"
                         "    Formatting = ztlfXML\r\n"
                         "  end\r\n"),
                  &holder);
  auto* read = static_cast<TZTLogBase*>(holder.FindComponent("Log1"));
  EXPECT_TRUE(read->Active());
  EXPECT_EQ(read->Formatting(), ztlfXML);
  EXPECT_EQ(read->LogFile(), "logs/app.xml");
  // Without a stored name the constructor's gets the extension.
  TComponent other(nullptr);
  TextToComponent(Stored("  object Log2: TZTLogBase\r\n    Formatting = ztlfXML\r\n  end\r\n"), &other);
  EXPECT_EQ(static_cast<TZTLogBase*>(other.FindComponent("Log2"))->LogFile(), "ztevents.xml");
}

TEST_F(LogBaseStorage, PublishedOrderIsActiveLogFileSendToFormatting) {
  const auto& props = TZTLogBase::StaticClass()->Properties();
  std::vector<String> own;
  for (const TPropInfo* p : props) own.push_back(p->Name);
  EXPECT_EQ(own, (std::vector<String>{"Name", "Tag", "Active", "LogFile", "SendTo", "Formatting"}));
  std::vector<String> sendTo;
  for (const TPropInfo* p : TZTLSendTo::StaticClass()->Properties()) sendTo.push_back(p->Name);
  EXPECT_EQ(sendTo, (std::vector<String>{"EMail", "EMailSubject", "EMailBody", "EMailOpenBeforeSend", "WWW",
                                         "AttachScreenShot", "ScreenshotFormat", "AttachLog", "ResolveNames", "Options",
                                         "AdditionalFiles", "Collector", "CollectorAutoSend", "CollectorScreenshot"}));
}

}  // namespace
}  // namespace ztl::test
