#pragma once
// The fixture of the log delivery tests: a log component that mails through a
// Simple MAPI stand-in, with its own temporary folder (TMPDIR) and no display.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "tests/core/MapiDouble.h"
#include "tests/platform/os/FakePrograms.h"
#include "tests/support/TestDir.h"
#include <ztlogger/core/LogBase.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/Testing.h>

namespace ztl::test {

class LogDelivery : public ::testing::Test {
 protected:
  LogDelivery()
      : temp_(MakeFolder(dir_.File("tmp"))), tmpdir_("TMPDIR", temp_), noDisplay_("DISPLAY", std::nullopt) {
    ResetApplicationState();
    HeadlessWidgetSet().SetScreenSize(24, 16);
    log_ = std::make_unique<TZTLogBase>(nullptr);
    // Most cases look at recipients and texts: no screenshot unless asked.
    SendTo().SetAttachScreenShot(false);
    SendTo().SetResolveNames(false);
  }

  static String MakeFolder(const String& path) {
    mkdir(path.c_str(), 0700);
    return path;
  }

  TZTLSendTo& SendTo() { return *log_->SendTo(); }

  const TSentMail& SendOnce() {
    log_->SendLogByMail();
    EXPECT_EQ(mapi_.Sent().size(), 1u);
    return mapi_.Sent().back();
  }

  std::vector<String> TempFiles() const {
    std::vector<String> names;
    for (const auto& entry : std::filesystem::directory_iterator(temp_)) names.push_back(entry.path().string());
    return names;
  }

  const std::vector<TShownWindow>& Shown() { return HeadlessWidgetSet().Shown(); }

  test::TestDir dir_;
  String temp_;
  test::ScopedEnv tmpdir_;
  test::ScopedEnv noDisplay_;
  MapiDouble mapi_;
  std::unique_ptr<TZTLogBase> log_;
};

}  // namespace ztl::test
