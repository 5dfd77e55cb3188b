// Reports of exceptions whose message is not plain text: bytes that are not
// UTF-8, control characters and NUL bytes, as a message built from a file or a
// network reply may hold.
#include <gtest/gtest.h>

#include <memory>

#include "tests/core/LogFiles.h"
#include "tests/support/TestDir.h"
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {
namespace {

using test::ReadFileBytes;
using test::TestDir;

class ReportMessages : public ::testing::Test {
 protected:
  void SetUp() override { ResetApplicationState(); }
  void TearDown() override { ResetApplicationState(); }

  std::unique_ptr<TZTExceptionLog> NewLog(const String& file, TZTLogFormatting formatting) {
    auto log = std::make_unique<TZTExceptionLog>(nullptr);
    SetOrdProp(log.get(), "Active", 1);
    SetEnumProp(log.get(), "Formatting", formatting == ztlfXML ? "ztlfXML" : "ztlfText");
    log->SetLogFile(dir_.File(file));
    log->SetErrorDialog(edNone);
    log->SetFormats(TZTLFormats{lfMessage});
    return log;
  }

  static void RaiseInLoop(const String& message) {
    Application->QueueCall([message] { throw EConvertError(message); });
    Application->ProcessMessages();
  }

  TestDir dir_;
};

TEST_F(ReportMessages, XMLLogStaysWellFormedWhateverTheMessageHolds) {
  auto log = NewLog("errors.xml", ztlfXML);
  RaiseInLoop("stray \xFF byte, cut \xC3 sequence");
  RaiseInLoop("bell \x07 and escape \x1B");
  RaiseInLoop("t\xC3\xA9xt & <tags>");  // valid: kept as it is
  RaiseInLoop(String("nul \0 inside", 12));
  const String written = ReadFileBytes(dir_.File("errors.xml"));
  const test::ParsedXMLLog parsed = test::ParseXMLLog(written);
  ASSERT_TRUE(parsed.WellFormed) << parsed.Error;
  ASSERT_EQ(parsed.Elements.size(), 4u);
  EXPECT_NE(parsed.Elements[0].second.find("stray "), String::npos);
  EXPECT_NE(parsed.Elements[0].second.find(" byte, cut "), String::npos);
  EXPECT_NE(parsed.Elements[1].second.find(" and escape "), String::npos);
  EXPECT_NE(parsed.Elements[2].second.find("t\xC3\xA9xt & <tags>"), String::npos);
  EXPECT_NE(parsed.Elements[3].second.find(" inside"), String::npos);
}

TEST_F(ReportMessages, TextLogKeepsWhatFollowsANulByte) {
  auto log = NewLog("errors.log", ztlfText);
  RaiseInLoop(String("before\0after", 12));
  const String written = ReadFileBytes(dir_.File("errors.log"));
  EXPECT_NE(written.find("before"), String::npos);
  EXPECT_NE(written.find("after"), String::npos) << "the message was cut at its NUL byte";
}

}  // namespace
}  // namespace ztl
