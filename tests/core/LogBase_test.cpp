#include <ztlogger/core/LogBase.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "tests/core/LogFiles.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/classes/TypInfo.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {
namespace {

using test::kXMLEnd;
using test::kXMLHeader;
using test::ReadFileBytes;
using test::TestDir;
using test::WriteFileBytes;
using test::XMLElementBytes;

// Reaches the protected setters the way a descendant does.
class TOpenLog : public TZTLogBase {
 public:
  using TZTLogBase::TZTLogBase;
  using TZTLogBase::SetActive;
};

// Records what reaches the virtual WriteAsString instead of writing.
class TRecordingLog : public TZTLogBase {
 public:
  using TZTLogBase::TZTLogBase;
  void WriteAsString(const String& AName, const String& AValue) override { Calls.emplace_back(AName, AValue); }
  std::vector<std::pair<String, String>> Calls;
};

bool Exists(const String& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

class LogBaseTest : public ::testing::Test {
 protected:
  // A log in the given form writing to name inside the test's folder; the
  // form is set first, as its setter rewrites the extension.
  std::unique_ptr<TOpenLog> MakeLog(TZTLogFormatting form, const String& name) {
    auto log = std::make_unique<TOpenLog>(nullptr);
    log->SetFormatting(form);
    log->SetLogFile(dir.File(name));
    return log;
  }

  TestDir dir;
};

// ---- construction and ownership --------------------------------------------

const char* const kDefaultBody =
    "This message contain technical information about program execution error.\r\n"
    "Please, press the \"Send\" button in your mailer to send this message to on-line product support. "
    "If \"Send\" button is disabled, please forward this message to %s. Also, you can send this file %s as "
    "attachment in your message to us. We will be glad to receive this bug report from you in any form. "
    "This report does NOT contain any CONFIDENTIAL information. You can insert your comment in this message "
    "after horisontal line below.\r\n"
    "--------------------------------------------------------------------------\r\n"
    "PLEASE, INSERT YOUR COMMENT HERE: ";

TEST(LogBaseConstruction, NewComponentIsInactiveTextLogNamedZteventsWithDeliverySettings) {
  TZTLogBase log(nullptr);
  EXPECT_FALSE(log.Active());
  EXPECT_EQ(log.LogFile(), "ztevents.log");
  EXPECT_EQ(log.Formatting(), ztlfText);
  ASSERT_NE(log.SendTo(), nullptr);
}

TEST(LogBaseConstruction, DeliverySettingsStartWithTheirDefaults) {
  TZTLSendTo sendTo;
  EXPECT_EQ(sendTo.EMail(), "");
  EXPECT_EQ(sendTo.EMailSubject(), "");
  EXPECT_EQ(sendTo.EMailBody(), kDefaultBody);
  EXPECT_EQ(sendTo.EMailBody().size(), 613u);
  EXPECT_EQ(sendTo.EMailBody().back(), ' ');
  EXPECT_TRUE(sendTo.EMailOpenBeforeSend());
  EXPECT_EQ(sendTo.WWW(), "");
  EXPECT_TRUE(sendTo.AttachScreenShot());
  EXPECT_EQ(sendTo.ScreenshotFormat(), sfBitmap);
  EXPECT_FALSE(sendTo.AttachLog());
  EXPECT_TRUE(sendTo.ResolveNames());
  ASSERT_NE(sendTo.AdditionalFiles(), nullptr);
  EXPECT_EQ(sendTo.AdditionalFiles()->Count(), 0);
  EXPECT_EQ(sendTo.Options(), (TZTLDialogOptions{doScreenshot, doEmail, doWeb}));
  EXPECT_EQ(sendTo.Options().Bits(), 7u);
}

TEST(LogBaseConstruction, TheComponentsDeliverySettingsAreTheDefaultOnes) {
  TZTLogBase log(nullptr);
  EXPECT_EQ(log.SendTo()->EMailBody(), kDefaultBody);
  EXPECT_EQ(log.SendTo()->Options().Bits(), 7u);
}

TEST(LogBaseConstruction, AdditionalFilesAreCopiedIntoTheOwnedList) {
  TZTLSendTo sendTo;
  TStrings* owned = sendTo.AdditionalFiles();
  TStringList files;
  files.Add("/tmp/a.txt");
  files.Add("/tmp/b.txt");
  sendTo.SetAdditionalFiles(&files);
  files.Clear();
  EXPECT_EQ(sendTo.AdditionalFiles(), owned);
  ASSERT_EQ(owned->Count(), 2);
  EXPECT_EQ(owned->Strings(1), "/tmp/b.txt");
}

// Ownership is proved by the sanitizer run: a leak or a double free of the
// settings object fails these tests there.
TEST(LogBaseConstruction, AssignedDeliverySettingsAreTakenOverWithoutCopy) {
  auto* log = new TZTLogBase(nullptr);
  auto* replacement = new TZTLSendTo;
  replacement->SetEMail("support@example.com");
  log->SetSendTo(replacement);
  EXPECT_EQ(log->SendTo(), replacement);
  EXPECT_EQ(log->SendTo()->EMail(), "support@example.com");
  delete log;  // frees replacement; the constructor's object was freed on assignment
}

TEST(LogBaseConstruction, AssigningTheOwnSettingsAgainKeepsThem) {
  TZTLogBase log(nullptr);
  TZTLSendTo* own = log.SendTo();
  own->SetWWW("https://example.com/support");
  log.SetSendTo(own);
  EXPECT_EQ(log.SendTo(), own);
  EXPECT_EQ(log.SendTo()->WWW(), "https://example.com/support");
}

TEST(LogBaseConstruction, SettingsAssignedThroughThePublishedPropertyAreOwnedToo) {
  TZTLogBase log(nullptr);
  auto* replacement = new TZTLSendTo;
  SetObjectProp(&log, "SendTo", replacement);
  EXPECT_EQ(log.SendTo(), replacement);
}

TEST(LogBaseConstruction, OwnerFreesTheComponent) {
  auto* owner = new TComponent(nullptr);
  auto* log = new TZTLogBase(owner);
  EXPECT_EQ(log->Owner(), owner);
  EXPECT_EQ(owner->ComponentCount(), 1);
  delete owner;  // a leak of log or its settings shows under the sanitizer
}

TEST(LogBaseConstruction, ActiveOnlyStoresTheFlag) {
  TOpenLog log(nullptr);
  log.SetActive(true);
  EXPECT_TRUE(log.Active());
  SetOrdProp(&log, "Active", 0);
  EXPECT_FALSE(log.Active());
  EXPECT_EQ(log.LogFile(), "ztevents.log");
}

// ---- the extension rule of Formatting ------------------------------------

struct ExtensionCase {
  const char* Before;
  TZTLogFormatting Form;
  const char* After;
};

class LogBaseFormattingTest : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(LogBaseFormattingTest, SettingTheFormRewritesTheExtension) {
  TOpenLog log(nullptr);
  log.SetLogFile(GetParam().Before);
  log.SetFormatting(GetParam().Form);
  EXPECT_EQ(log.Formatting(), GetParam().Form);
  EXPECT_EQ(log.LogFile(), GetParam().After);
}

INSTANTIATE_TEST_SUITE_P(
    ExtensionRule, LogBaseFormattingTest,
    ::testing::Values(ExtensionCase{"ztevents.log", ztlfXML, "ztevents.xml"},
                      ExtensionCase{"ztevents.xml", ztlfText, "ztevents.log"},
                      ExtensionCase{"report.txt", ztlfXML, "report.xml"},
                      ExtensionCase{"report.txt", ztlfText, "report.log"},
                      // the same form again still rewrites
                      ExtensionCase{"report.txt", ztlfText, "report.log"},
                      ExtensionCase{"archive.tar.gz", ztlfXML, "archive.tar.xml"},
                      ExtensionCase{"noext", ztlfXML, "noext.xml"},
                      ExtensionCase{"noext", ztlfText, "noext.log"},
                      ExtensionCase{"trailing.", ztlfXML, "trailing.xml"},
                      ExtensionCase{"/var/log.d/events", ztlfXML, "/var/log.d/events.xml"},
                      ExtensionCase{"/var/log.d/events", ztlfText, "/var/log.d/events.log"},
                      ExtensionCase{"/var/log.d/events.txt", ztlfXML, "/var/log.d/events.xml"},
                      ExtensionCase{"rel.dir/sub/file", ztlfText, "rel.dir/sub/file.log"},
                      ExtensionCase{"/home/u/.profile", ztlfXML, "/home/u/.xml"},
                      ExtensionCase{"", ztlfXML, ".xml"},
                      ExtensionCase{"", ztlfText, ".log"}));

TEST(LogBaseFormatting, ThePublishedPropertyGoesThroughTheSetter) {
  TZTLogBase log(nullptr);
  SetEnumProp(&log, "Formatting", "ztlfXML");
  EXPECT_EQ(log.Formatting(), ztlfXML);
  EXPECT_EQ(log.LogFile(), "ztevents.xml");
  SetOrdProp(&log, "Formatting", ztlfText);
  EXPECT_EQ(log.LogFile(), "ztevents.log");
}

TEST(LogBaseFormatting, AssigningLogFileKeepsTheGivenName) {
  TOpenLog log(nullptr);
  log.SetFormatting(ztlfXML);
  log.SetLogFile("events.txt");
  EXPECT_EQ(log.LogFile(), "events.txt");
  EXPECT_EQ(log.Formatting(), ztlfXML);
}

// ---- the text form ----------------------------------------------------------

TEST_F(LogBaseTest, TextFormIsTheValuesConcatenatedWithoutNames) {
  auto log = MakeLog(ztlfText, "t.log");
  log->WriteAsString("First", "a");
  log->WriteAsString("Second", "b");
  EXPECT_EQ(ReadFileBytes(log->LogFile()), "ab");
}

TEST_F(LogBaseTest, TextFormKeepsMarkupAndLineBreaks) {
  auto log = MakeLog(ztlfText, "t.log");
  const String value = "<tag attr=\"1\">a & b</tag>\r\nnext line\n\tend\r\n";
  log->WriteAsString("N", value);
  log->WriteAsString("N", value);
  EXPECT_EQ(ReadFileBytes(log->LogFile()), value + value);
}

TEST_F(LogBaseTest, TextFormWritesUTF8WithoutByteOrderMark) {
  auto log = MakeLog(ztlfText, "t.log");
  const String value = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80";  // Grüße € 😀
  log->WriteAsString("N", value);
  EXPECT_EQ(ReadFileBytes(log->LogFile()), value);
}

TEST_F(LogBaseTest, TextFormAppendsToAnExistingFile) {
  auto log = MakeLog(ztlfText, "t.log");
  WriteFileBytes(log->LogFile(), "old line\r\n");
  log->WriteAsString("N", "new line\r\n");
  EXPECT_EQ(ReadFileBytes(log->LogFile()), "old line\r\nnew line\r\n");
}

TEST_F(LogBaseTest, TextFormAppendsBehindAnXMLLogUnderTheSameName) {
  auto log = MakeLog(ztlfText, "t.log");
  const String xmlLog = kXMLHeader + XMLElementBytes("A", "1") + kXMLEnd;
  WriteFileBytes(log->LogFile(), xmlLog);
  log->WriteAsString("N", "tail");
  EXPECT_EQ(ReadFileBytes(log->LogFile()), xmlLog + "tail");
}

TEST_F(LogBaseTest, WritesDoNotDependOnActive) {
  auto log = MakeLog(ztlfText, "t.log");
  log->WriteAsString("N", "off ");
  log->SetActive(true);
  log->WriteAsString("N", "on");
  EXPECT_EQ(ReadFileBytes(log->LogFile()), "off on");
}

TEST_F(LogBaseTest, RelativeLogFileIsInTheCurrentFolder) {
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  {
    TZTLogBase log(nullptr);
    log.WriteAsString("N", "here");
  }
  std::filesystem::current_path(previous);
  EXPECT_EQ(ReadFileBytes(dir.File("ztevents.log")), "here");
}

// ---- the XML form -----------------------------------------------------------

TEST_F(LogBaseTest, FirstXMLWriteMakesHeaderElementAndClosingTag) {
  auto log = MakeLog(ztlfXML, "x.xml");
  log->WriteAsString("ERROR", "boom");
  String bytes = ReadFileBytes(log->LogFile());
  EXPECT_EQ(bytes, kXMLHeader +
                       "  <ERROR>boom\r\n"
                       "  </ERROR>\r\n"
                       "</DATA>");
  EXPECT_EQ(bytes.find("  <ERROR>"), 94u) << "the header is three lines of 94 bytes";
}

TEST_F(LogBaseTest, SecondXMLWriteReplacesTheClosingTag) {
  auto log = MakeLog(ztlfXML, "x.xml");
  log->WriteAsString("ERROR", "first");
  log->WriteAsString("CHANGE", "second");
  EXPECT_EQ(ReadFileBytes(log->LogFile()), kXMLHeader +
                                                "  <ERROR>first\r\n"
                                                "  </ERROR>\r\n"
                                                "  <CHANGE>second\r\n"
                                                "  </CHANGE>\r\n"
                                                "</DATA>");
}

TEST_F(LogBaseTest, XMLFormInsertsNameAndValueVerbatim) {
  auto log = MakeLog(ztlfXML, "x.xml");
  const String value = "if (a < b && c > d)\r\n  <b>bold</b>";
  log->WriteAsString("not a name!", value);
  log->WriteAsString("N", "x\ny");
  EXPECT_EQ(ReadFileBytes(log->LogFile()),
            kXMLHeader + XMLElementBytes("not a name!", value) + XMLElementBytes("N", "x\ny") + kXMLEnd);
}

TEST_F(LogBaseTest, XMLFormWritesUTF8ThatTheDeclaredEncodingReads) {
  auto log = MakeLog(ztlfXML, "x.xml");
  const String value = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80";
  log->WriteAsString("N", value);
  String bytes = ReadFileBytes(log->LogFile());
  EXPECT_EQ(bytes, kXMLHeader + XMLElementBytes("N", value) + kXMLEnd);
  test::ParsedXMLLog parsed = test::ParseXMLLog(bytes);
  ASSERT_TRUE(parsed.WellFormed) << parsed.Error;
  EXPECT_EQ(parsed.Root, "DATA");
  ASSERT_EQ(parsed.Elements.size(), 1u);
  EXPECT_EQ(test::ElementValue(parsed.Elements[0].second), value);
}

TEST_F(LogBaseTest, XMLFormContinuesALogWhoseClosingTagFollowsOtherBytes) {
  auto log = MakeLog(ztlfXML, "x.xml");
  WriteFileBytes(log->LogFile(), "prefix</DATA>");
  log->WriteAsString("N", "v");
  EXPECT_EQ(ReadFileBytes(log->LogFile()), "prefix" + XMLElementBytes("N", "v") + kXMLEnd);
}

TEST_F(LogBaseTest, XMLFormReplacesTheClosingTagAndTheLineEndsAndBlanksAfterIt) {
  const String log0 = kXMLHeader + XMLElementBytes("N", "v");
  for (const String& after : {String("\r\n"), String("\n"), String("  \t \n\n"), String(300, '\n')}) {
    auto log = MakeLog(ztlfXML, "blanks.xml");
    WriteFileBytes(log->LogFile(), log0 + kXMLEnd + after);
    log->WriteAsString("M", "w");
    const String bytes = ReadFileBytes(log->LogFile());
    EXPECT_EQ(bytes, log0 + XMLElementBytes("M", "w") + kXMLEnd) << after.size();
    EXPECT_TRUE(test::ParseXMLLog(bytes).WellFormed);
  }
  // Anything else after the tag is not ours: it stays.
  auto log = MakeLog(ztlfXML, "foreign.xml");
  WriteFileBytes(log->LogFile(), log0 + kXMLEnd + "\n<!-- x -->\n");
  log->WriteAsString("M", "w");
  EXPECT_EQ(ReadFileBytes(log->LogFile()), log0 + kXMLEnd + "\n<!-- x -->\n" + XMLElementBytes("M", "w") + kXMLEnd);
}

// Files the component did not make in XML form keep every byte.
TEST_F(LogBaseTest, XMLFormAppendsBehindATextLogUnderTheSameName) {
  auto log = MakeLog(ztlfXML, "x.xml");
  const String textLog = "12:00 started\r\n12:01 <stopped>\r\n";
  WriteFileBytes(log->LogFile(), textLog);
  log->WriteAsString("N", "v");
  EXPECT_EQ(ReadFileBytes(log->LogFile()), textLog + XMLElementBytes("N", "v") + kXMLEnd);
  log->WriteAsString("M", "w");
  EXPECT_EQ(ReadFileBytes(log->LogFile()), textLog + XMLElementBytes("N", "v") + XMLElementBytes("M", "w") + kXMLEnd);
}

TEST_F(LogBaseTest, XMLFormAppendsBehindAnotherDocument) {
  auto log = MakeLog(ztlfXML, "x.xml");
  const String other = "<?xml version=\"1.0\"?>\n<root><item/></root>";
  WriteFileBytes(log->LogFile(), other);
  log->WriteAsString("N", "v");
  EXPECT_EQ(ReadFileBytes(log->LogFile()), other + XMLElementBytes("N", "v") + kXMLEnd);
}

TEST_F(LogBaseTest, XMLFormAppendsBehindFilesShorterThanTheClosingTag) {
  for (const String& content : {String("<"), String("DATA>"), String("</DATA")}) {
    auto log = MakeLog(ztlfXML, "short.xml");
    WriteFileBytes(log->LogFile(), content);
    log->WriteAsString("N", "v");
    EXPECT_EQ(ReadFileBytes(log->LogFile()), content + XMLElementBytes("N", "v") + kXMLEnd) << content;
  }
}

TEST_F(LogBaseTest, XMLFormTreatsAnEmptyFileAsNew) {
  auto log = MakeLog(ztlfXML, "x.xml");
  WriteFileBytes(log->LogFile(), "");
  log->WriteAsString("N", "v");
  EXPECT_EQ(ReadFileBytes(log->LogFile()), kXMLHeader + XMLElementBytes("N", "v") + kXMLEnd);
}

// ---- empty values ---------------------------------------------------------

TEST_F(LogBaseTest, EmptyValueLeavesAMissingFileMissing) {
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    auto log = MakeLog(form, "missing.log");
    log->WriteAsString("N", "");
    log->WriteAsInteger("N", 0);  // not empty: proves the name is writable
    EXPECT_TRUE(Exists(log->LogFile()));
    ASSERT_TRUE(DeleteFile(log->LogFile()));
    log->WriteAsString("N", "");
    EXPECT_FALSE(Exists(log->LogFile())) << form;
  }
}

TEST_F(LogBaseTest, EmptyValueLeavesAnExistingFileAlone) {
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    auto log = MakeLog(form, "existing.log");
    WriteFileBytes(log->LogFile(), "content");
    log->WriteAsString("N", "");
    EXPECT_EQ(ReadFileBytes(log->LogFile()), "content") << form;
  }
}

TEST_F(LogBaseTest, EmptyValueNeedsNoUsableLogFile) {
  TZTLogBase log(nullptr);
  log.SetLogFile(dir.File("no/such/folder/x.log"));
  EXPECT_NO_THROW(log.WriteAsString("N", ""));
}

// ---- the converting writes -------------------------------------------------

TEST(LogBaseConversions, ConvertingWritesGoThroughTheVirtualWrite) {
  TRecordingLog log(nullptr);
  log.WriteAsInteger("Count", -1234567);
  log.WriteAsInteger("Zero", 0);
  log.WriteAsInteger("Max", 2147483647);
  ASSERT_EQ(log.Calls.size(), 3u);
  EXPECT_EQ(log.Calls[0], (std::pair<String, String>("Count", "-1234567")));
  EXPECT_EQ(log.Calls[1], (std::pair<String, String>("Zero", "0")));
  EXPECT_EQ(log.Calls[2], (std::pair<String, String>("Max", "2147483647")));
}

TEST_F(LogBaseTest, NegativeIntegerIsMinusSignAndDigits) {
  auto log = MakeLog(ztlfXML, "x.xml");
  log->WriteAsInteger("N", -42);
  EXPECT_EQ(ReadFileBytes(log->LogFile()), kXMLHeader + XMLElementBytes("N", "-42") + kXMLEnd);
}

// The number and date settings are the process's; each test restores them.
class LogBaseSettingsTest : public LogBaseTest {
 protected:
  void SetUp() override { saved = FormatSettings(); }
  void TearDown() override { FormatSettings() = saved; }
  TFormatSettings saved;
};

TEST_F(LogBaseSettingsTest, FloatUsesTheCurrentDecimalSeparator) {
  auto log = MakeLog(ztlfText, "f.log");
  FormatSettings().DecimalSeparator = ',';
  log->WriteAsFloat("N", 1.5);
  log->WriteAsFloat("N", -0.25);
  FormatSettings().DecimalSeparator = '.';
  log->WriteAsFloat("N", 2.75);
  EXPECT_EQ(ReadFileBytes(log->LogFile()), "1,5-0,252.75");
}

TEST_F(LogBaseSettingsTest, FloatHasAtMostFifteenSignificantDigits) {
  TRecordingLog log(nullptr);
  FormatSettings().DecimalSeparator = '.';
  log.WriteAsFloat("N", 1.0 / 3.0);
  log.WriteAsFloat("N", 100.0);
  ASSERT_EQ(log.Calls.size(), 2u);
  EXPECT_EQ(log.Calls[0].second, "0.333333333333333");
  EXPECT_EQ(log.Calls[1].second, "100");
}

TEST_F(LogBaseSettingsTest, DateTimeAtMidnightIsTheDateAlone) {
  auto log = MakeLog(ztlfText, "d.log");
  FormatSettings().DateSeparator = '-';
  FormatSettings().TimeSeparator = ':';
  FormatSettings().ShortDateFormat = "yyyy/mm/dd";
  FormatSettings().LongTimeFormat = "hh:nn:ss";
  const TDateTime march5th2024 = 45356;  // days since 30 December 1899
  log->WriteAsDateTime("D", march5th2024);
  log->WriteAsString("D", "|");
  log->WriteAsDateTime("D", march5th2024 + (13 * 3600 + 7 * 60 + 9) / 86400.0);
  EXPECT_EQ(ReadFileBytes(log->LogFile()), "2024-03-05|2024-03-05 13:07:09");
}

// ---- clearing ---------------------------------------------------------------

TEST_F(LogBaseTest, ClearLogOfAMissingFileDoesNothing) {
  auto log = MakeLog(ztlfText, "missing.log");
  EXPECT_NO_THROW(log->ClearLog());
  EXPECT_FALSE(Exists(log->LogFile()));
}

TEST_F(LogBaseTest, ClearLogDeletesTheFileAndTheNextWriteStartsAfresh) {
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    auto log = MakeLog(form, "c.log");
    log->WriteAsString("N", "one");
    log->ClearLog();
    EXPECT_FALSE(Exists(log->LogFile()));
    log->WriteAsString("N", "two");
    String expected = form == ztlfText ? "two" : kXMLHeader + XMLElementBytes("N", "two") + kXMLEnd;
    EXPECT_EQ(ReadFileBytes(log->LogFile()), expected);
  }
}

TEST_F(LogBaseTest, ClearLogWithAnEmptyNameOrAFolderDoesNothing) {
  TZTLogBase log(nullptr);
  log.SetLogFile("");
  EXPECT_NO_THROW(log.ClearLog());
  ASSERT_TRUE(std::filesystem::create_directory(dir.File("folder")));
  log.SetLogFile(dir.File("folder"));
  EXPECT_NO_THROW(log.ClearLog());
  EXPECT_TRUE(DirectoryExists(dir.File("folder")));
}

}  // namespace
}  // namespace ztl
