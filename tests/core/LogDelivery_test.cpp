// Delivery of the log by mail (against a Simple MAPI stand-in) and by web;
// the attachments have a file of their own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <set>

#include "tests/core/LogDelivery.h"
#include "tests/core/MapiDouble.h"
#include "tests/platform/os/FakePrograms.h"
#include "tests/support/TestDir.h"
#include <ztlogger/core/LogBase.h>
#include <ztlogger/core/LogCnst.h>
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/Graphics.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/Jpeg.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl {
namespace {

using test::MapiDouble;
using test::TSentMail;
using test::TText;
using test::LogDelivery;

// ---- Recipients ----------------------------------------------------------

TEST_F(LogDelivery, PrefixesGiveTheRecipientClassWhateverTheirCase) {
  SendTo().SetEMail("a;CC:b;bcc:c;cC:d;Bcc:e");
  const TSentMail& mail = SendOnce();
  ASSERT_EQ(mail.RecipCount, 5u);
  ASSERT_EQ(mail.Recipients.size(), 5u);
  const std::pair<ULONG, String> expected[] = {
      {MAPI_TO, "a"}, {MAPI_CC, "b"}, {MAPI_BCC, "c"}, {MAPI_CC, "d"}, {MAPI_BCC, "e"}};
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const auto& recipient = mail.Recipients[i];
    EXPECT_EQ(recipient.Class, expected[i].first);
    EXPECT_EQ(recipient.Name, TText(expected[i].second));
    EXPECT_EQ(recipient.Address, TText(expected[i].second));
    EXPECT_EQ(recipient.Reserved, 0u);
    EXPECT_EQ(recipient.EIDSize, 0u);
    EXPECT_EQ(recipient.EntryID, nullptr);
  }
}

TEST_F(LogDelivery, SplittingKeepsEmptyRecipientsAndSpacesButNoTrailingEmptyOne) {
  SendTo().SetEMail("a,,b; CC:c;x@y.z,");
  const TSentMail& mail = SendOnce();
  ASSERT_EQ(mail.Recipients.size(), 5u);
  EXPECT_EQ(mail.Recipients[0].Name, TText("a"));
  EXPECT_EQ(mail.Recipients[1].Name, TText(""));  // between two separators
  EXPECT_EQ(mail.Recipients[1].Class, MAPI_TO);
  EXPECT_EQ(mail.Recipients[2].Name, TText("b"));
  // The space stays, so the prefix is not recognised.
  EXPECT_EQ(mail.Recipients[3].Name, TText(" CC:c"));
  EXPECT_EQ(mail.Recipients[3].Class, MAPI_TO);
  EXPECT_EQ(mail.Recipients[4].Name, TText("x@y.z"));
}

TEST_F(LogDelivery, OnlyTheWholePrefixCounts) {
  SendTo().SetEMail("CC;BCC;CCa:b;BC:c;CC:;cc:BCC:d");
  const TSentMail& mail = SendOnce();
  ASSERT_EQ(mail.Recipients.size(), 6u);
  const std::pair<ULONG, String> expected[] = {{MAPI_TO, "CC"},   {MAPI_TO, "BCC"}, {MAPI_TO, "CCa:b"},
                                               {MAPI_TO, "BC:c"}, {MAPI_CC, ""},    {MAPI_CC, "BCC:d"}};
  for (size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(mail.Recipients[i].Class, expected[i].first);
    EXPECT_EQ(mail.Recipients[i].Name, TText(expected[i].second));
  }
}

TEST_F(LogDelivery, WithoutRecipientsThereIsNoArray) {
  SendTo().SetEMail("");
  const TSentMail& mail = SendOnce();
  EXPECT_EQ(mail.RecipCount, 0u);
  EXPECT_TRUE(mail.RecipsNull);
  EXPECT_TRUE(mapi_.ResolveCalls().empty());
}

// ---- Name resolution -----------------------------------------------------

TEST_F(LogDelivery, ResolvedNamesCarryTheEntryOfTheMailSystem) {
  SendTo().SetResolveNames(true);
  SendTo().SetEMail("ann;CC:bob");
  const TSentMail& mail = SendOnce();
  ASSERT_EQ(mapi_.ResolveCalls().size(), 2u);
  for (const auto& call : mapi_.ResolveCalls()) {
    EXPECT_EQ(call.Session, 0u);
    EXPECT_EQ(call.UIParam, 0u);
    EXPECT_EQ(call.Flags, 0u);
    EXPECT_EQ(call.Reserved, 0u);
  }
  // The prefix is gone before the name is looked up.
  EXPECT_EQ(mapi_.ResolveCalls()[0].Name, TText("ann"));
  EXPECT_EQ(mapi_.ResolveCalls()[1].Name, TText("bob"));
  ASSERT_EQ(mail.Recipients.size(), 2u);
  const String names[] = {"ann", "bob"};
  for (size_t i = 0; i < 2; ++i) {
    const auto& recipient = mail.Recipients[i];
    EXPECT_EQ(recipient.Name, TText(MapiDouble::DisplayName(names[i])));
    EXPECT_EQ(recipient.Address, TText(MapiDouble::DisplayName(names[i])));
    EXPECT_EQ(recipient.EIDSize, MapiDouble::EntryId(names[i]).size());
    EXPECT_TRUE(recipient.FromLiveEntry) << "the entry was released before the send";
  }
  EXPECT_EQ(mail.Recipients[1].Class, MAPI_CC);
  // Every entry is given back after the send, and nothing else.
  EXPECT_EQ(mapi_.EntriesHandedOut(), 2);
  EXPECT_EQ(mapi_.EntriesOutstanding(), 0u);
  EXPECT_EQ(mapi_.ForeignFrees(), 0);
}

TEST_F(LogDelivery, UnknownAndAmbiguousNamesAreRetriedWithTheDialog) {
  SendTo().SetResolveNames(true);
  SendTo().SetEMail("unknown;ambiguous;picked");
  mapi_.SetResolveRule([](const String& name, FLAGS flags) -> ULONG {
    if (name == "picked") return flags == MAPI_DIALOG ? SUCCESS_SUCCESS : MAPI_E_AMBIGUOUS_RECIPIENT;
    return name == "unknown" ? MAPI_E_UNKNOWN_RECIPIENT : MAPI_E_AMBIGUOUS_RECIPIENT;
  });
  const TSentMail& mail = SendOnce();
  ASSERT_EQ(mapi_.ResolveCalls().size(), 6u);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(mapi_.ResolveCalls()[i].Flags, i % 2 ? MAPI_DIALOG : 0u) << i;
  EXPECT_EQ(mapi_.ResolveCalls()[1].Name, TText("unknown"));
  ASSERT_EQ(mail.Recipients.size(), 3u);
  // Unresolved: only the class is left.
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(mail.Recipients[i].Class, MAPI_TO);
    EXPECT_EQ(mail.Recipients[i].Name, std::nullopt);
    EXPECT_EQ(mail.Recipients[i].Address, std::nullopt);
    EXPECT_EQ(mail.Recipients[i].EntryID, nullptr);
  }
  EXPECT_EQ(mail.Recipients[2].Name, TText(MapiDouble::DisplayName("picked")));
  EXPECT_EQ(mapi_.EntriesOutstanding(), 0u);
}

TEST_F(LogDelivery, OtherResolutionFailuresAreNotRetriedNorReported) {
  SendTo().SetResolveNames(true);
  SendTo().SetEMail("BCC:x");
  mapi_.SetResolveRule([](const String&, FLAGS) -> ULONG { return MAPI_E_FAILURE; });
  const TSentMail& mail = SendOnce();
  EXPECT_EQ(mapi_.ResolveCalls().size(), 1u);
  ASSERT_EQ(mail.Recipients.size(), 1u);
  EXPECT_EQ(mail.Recipients[0].Class, MAPI_BCC);
  EXPECT_EQ(mail.Recipients[0].Name, std::nullopt);
  EXPECT_TRUE(Shown().empty());
}

// ---- Texts and flags -----------------------------------------------------

TEST_F(LogDelivery, TheBodyNamesTheRecipientsAndTheLog) {
  SendTo().SetEMail("a@example.org;CC:b@example.org");
  SendTo().SetEMailSubject("Crash in \xC3\xBC" "ber");
  log_->SetLogFile("/var/log/app.log");
  const TSentMail& mail = SendOnce();
  EXPECT_EQ(mail.Subject, TText("Crash in \xC3\xBC" "ber"));
  String body = DefaultEMailBody;
  body.replace(body.find("%s"), 2, "a@example.org;CC:b@example.org");
  body.replace(body.find("%s"), 2, "/var/log/app.log");
  EXPECT_EQ(mail.NoteText, TText(body));
}

TEST_F(LogDelivery, TheMessageLeavesEverythingElseZero) {
  SendTo().SetEMail("a");
  const TSentMail& mail = SendOnce();
  EXPECT_EQ(mail.Session, 0u);
  EXPECT_EQ(mail.UIParam, reinterpret_cast<ULONG_PTR>(Application->Handle()));
  EXPECT_EQ(mail.CallReserved, 0u);
  EXPECT_EQ(mail.Reserved, 0u);
  EXPECT_EQ(mail.MessageType, std::nullopt);
  EXPECT_EQ(mail.DateReceived, std::nullopt);
  EXPECT_EQ(mail.ConversationID, std::nullopt);
  EXPECT_EQ(mail.MessageFlags, 0u);
  EXPECT_EQ(mail.Originator, nullptr);
}

TEST_F(LogDelivery, FlagsFollowOpenBeforeSend) {
  log_->SendLogByMail();
  SendTo().SetEMailOpenBeforeSend(false);
  log_->SendLogByMail();
  ASSERT_EQ(mapi_.Sent().size(), 2u);
  EXPECT_EQ(mapi_.Sent()[0].Flags, 9u);
  EXPECT_EQ(mapi_.Sent()[1].Flags, 1u);
}

TEST_F(LogDelivery, ABodyTemplateThatDoesNotFitRaisesAndSendsNothing) {
  SendTo().SetAttachScreenShot(true);
  SendTo().SetEMailBody("%d and %s");
  EXPECT_THROW(log_->SendLogByMail(), EConvertError);
  EXPECT_TRUE(mapi_.Sent().empty());
  EXPECT_TRUE(TempFiles().empty());
}

// ---- Errors and clean-up -----------------------------------------------------

TEST_F(LogDelivery, EveryFailingCodeIsShownOnceInAnErrorBox) {
  const std::pair<ULONG, String> cases[] = {
      {1, "User cancelled request"}, {2, "General MAPI failure"}, {14, "Unknown recipient"},
      {18, "Text too large."},       {26, "Not supported"},       {7, "Unknown Error Code: 7"},
      {99, "Unknown Error Code: 99"}};
  SendTo().SetAttachScreenShot(true);
  for (const auto& [code, text] : cases) {
    SCOPED_TRACE(code);
    const size_t before = Shown().size();
    mapi_.SetSendResult(code);
    log_->SendLogByMail();
    ASSERT_EQ(Shown().size(), before + 1);
    const TShownWindow& box = Shown().back();
    EXPECT_EQ(box.Text, text);
    EXPECT_EQ(box.Icon, MB_ICONERROR);
    EXPECT_EQ(box.Buttons, std::vector<String>{"OK"});
    EXPECT_FALSE(box.Open);
    EXPECT_TRUE(TempFiles().empty());
  }
}

TEST_F(LogDelivery, SuccessShowsNothing) {
  SendTo().SetAttachScreenShot(true);
  log_->SendLogByMail();
  EXPECT_TRUE(Shown().empty());
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(LogDelivery, AnExceptionDuringTheSendStillCleansUp) {
  SendTo().SetAttachScreenShot(true);
  SendTo().SetResolveNames(true);
  SendTo().SetEMail("ann");
  mapi_.SetDuringSend([] { throw EOutOfMemory("no memory"); });
  EXPECT_THROW(log_->SendLogByMail(), EOutOfMemory);
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_EQ(mapi_.EntriesOutstanding(), 0u);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(LogDelivery, NoTemporaryFolderForTheScreenshotRaisesAndSendsNothing) {
  SendTo().SetAttachScreenShot(true);
  test::ScopedEnv missing("TMPDIR", dir_.File("no-such-folder"));
  EXPECT_THROW(log_->SendLogByMail(), EOSError);
  EXPECT_TRUE(mapi_.Sent().empty());
  EXPECT_TRUE(TempFiles().empty());
}

// Each code the mail system defines has a text of its own; the errors the
// desktop's mail services return read as what they mean; the rest are
// reported by number.
TEST(LogDeliveryErrors, EachKnownCodeHasItsOwnDescriptionAndTheRestTheirNumber) {
  TZTLogBase log(nullptr);
  const auto unknown = [](int code) { return "Unknown Error Code: " + std::to_string(code); };
  const int last = static_cast<int>(MAPI_E_NOT_SUPPORTED);
  std::set<String> texts;
  for (int code = static_cast<int>(MAPI_E_USER_ABORT); code <= last; ++code) {
    const String text = log.MAPIErrorDescription(code);
    EXPECT_FALSE(text.empty()) << code;
    if (text == unknown(code)) continue;
    EXPECT_EQ(text.find("Unknown Error Code"), String::npos) << code << ": " << text;
    EXPECT_TRUE(texts.insert(text).second) << code << " repeats " << text;
  }
  EXPECT_EQ(texts.size(), static_cast<size_t>(last - 1)) << "only code 7 is left undefined";
  EXPECT_EQ(log.MAPIErrorDescription(7), unknown(7));
  EXPECT_EQ(log.MAPIErrorDescription(MAPI_E_UNKNOWN_RECIPIENT), "Unknown recipient");
  EXPECT_EQ(log.MAPIErrorDescription(MAPI_E_ATTACHMENT_NOT_FOUND), "Attachment not found");
  EXPECT_EQ(log.MAPIErrorDescription(MAPI_E_INVALID_RECIPS), "Invalid recipients");
  for (int code : {0, last + 1, -5, INT32_MIN}) EXPECT_EQ(log.MAPIErrorDescription(code), unknown(code));
}

// ---- Web -------------------------------------------------------------------

TEST(LogDeliveryWeb, OpensTheSupportPageThroughTheShell) {
  test::TestDir dir;
  test::FakePrograms programs(dir);
  programs.Add("xdg-open");
  TZTLogBase log(nullptr);
  log.SendTo()->SetWWW("https://example.com/support?id=1&x=\xC3\xA4 b");
  log.SendLogByWWW();
  EXPECT_EQ(programs.Arguments("xdg-open"), std::vector<String>{"https://example.com/support?id=1&x=\xC3\xA4 b"});
}

TEST(LogDeliveryWeb, AnEmptyPageOpensNothingAndRaisesNothing) {
  test::TestDir dir;
  test::FakePrograms programs(dir);
  programs.Add("xdg-open");
  TZTLogBase log(nullptr);
  EXPECT_NO_THROW(log.SendLogByWWW());
  EXPECT_FALSE(programs.Ran("xdg-open"));
}

}  // namespace
}  // namespace ztl
