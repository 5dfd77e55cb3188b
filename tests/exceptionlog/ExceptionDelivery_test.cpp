// The error dialog's buttons reach the logger's delivery: mail through Simple
// MAPI (a stand-in records it) and the support page through the shell.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

#include "tests/core/MapiDouble.h"
#include "tests/platform/os/FakePrograms.h"
#include "tests/support/TestDir.h"
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/classes/TypInfo.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/Testing.h>

namespace ztl {
namespace {

class ExceptionDelivery : public ::testing::Test {
 protected:
  ExceptionDelivery()
      : temp_(MakeFolder(dir_.File("tmp"))), tmpdir_("TMPDIR", temp_), noDisplay_("DISPLAY", std::nullopt) {
    ResetApplicationState();
    HeadlessWidgetSet().SetScreenSize(24, 16);
    log_ = std::make_unique<TZTExceptionLog>(nullptr);
    log_->SetActive(true);
    log_->SetLogFile(dir_.File("errors.log"));
    log_->SendTo()->SetResolveNames(false);
    log_->SendTo()->SetEMail("support@example.com");
    log_->SendTo()->SetWWW("https://example.com/support");
  }
  ~ExceptionDelivery() override {
    log_.reset();
    ResetApplicationState();
  }

  static String MakeFolder(const String& path) {
    mkdir(path.c_str(), 0700);
    return path;
  }

  // Raises in the loop; the user's actions run while the dialog is open.
  void RaiseWithUser(const std::function<void(THeadlessWidgetSet&)>& user) {
    Application->QueueCall([] { throw EConvertError("Order 17 has no customer"); });
    user(HeadlessWidgetSet());
    Application->ProcessMessages();
  }

  test::TestDir dir_;
  String temp_;
  test::ScopedEnv tmpdir_, noDisplay_;
  test::MapiDouble mapi_;
  std::unique_ptr<TZTExceptionLog> log_;
};

TEST_F(ExceptionDelivery, EmailWithTheBoxTickedAttachesAScreenshotForThatSendOnly) {
  log_->SendTo()->SetAttachScreenShot(false);
  bool afterSend = false;
  RaiseWithUser([&](THeadlessWidgetSet& ws) {
    ws.PostClick("cbAttachScreenshot");
    ws.PostClick("btnEmail");
    ws.PostInspect([&](TCustomForm&) { afterSend = log_->SendTo()->AttachScreenShot(); });
  });
  ASSERT_EQ(mapi_.Sent().size(), 1u);
  const test::TSentMail& mail = mapi_.Sent()[0];
  ASSERT_EQ(mail.Files.size(), 1u);
  EXPECT_TRUE(mail.Files[0].PathName->ends_with(".bmp")) << *mail.Files[0].PathName;
  EXPECT_TRUE(mail.Files[0].Bytes.has_value());
  EXPECT_NE(mail.NoteText->find(dir_.File("errors.log")), String::npos);
  // The setting is back as soon as the send returned.
  EXPECT_FALSE(afterSend);
  EXPECT_FALSE(log_->SendTo()->AttachScreenShot());
}

TEST_F(ExceptionDelivery, EmailWithoutTheBoxSendsNoScreenshotAndRestoresTheSetting) {
  log_->SendTo()->SetAttachScreenShot(true);
  RaiseWithUser([](THeadlessWidgetSet& ws) {
    ws.PostClick("btnEmail");
    ws.PostClick("btnEmail");
  });
  ASSERT_EQ(mapi_.Sent().size(), 2u);
  EXPECT_TRUE(mapi_.Sent()[0].Files.empty());
  EXPECT_TRUE(mapi_.Sent()[1].Files.empty());
  EXPECT_TRUE(log_->SendTo()->AttachScreenShot());
}

TEST_F(ExceptionDelivery, AHiddenCheckBoxNeverAddsAScreenshot) {
  log_->SendTo()->SetOptions({doEmail, doWeb});
  log_->SendTo()->SetAttachScreenShot(true);
  RaiseWithUser([](THeadlessWidgetSet& ws) { ws.PostClick("btnEmail"); });
  ASSERT_EQ(mapi_.Sent().size(), 1u);
  EXPECT_TRUE(mapi_.Sent()[0].Files.empty());
}

TEST_F(ExceptionDelivery, TheWebButtonAndTheLinkOpenTheSupportPage) {
  test::FakePrograms programs(dir_);
  programs.Add("xdg-open");
  RaiseWithUser([](THeadlessWidgetSet& ws) { ws.PostClick("lblProductSite"); });
  EXPECT_EQ(programs.Arguments("xdg-open"), std::vector<String>{"https://example.com/support"});
  EXPECT_TRUE(mapi_.Sent().empty());
}


}  // namespace
}  // namespace ztl
