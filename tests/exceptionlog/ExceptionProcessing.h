#pragma once
// The fixture of the exception logger's processing tests: a clean application
// state and fixed date and time texts for each test, loggers that write into
// the test's own folder, and exceptions raised inside the message loop.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "tests/support/TestDir.h"
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Testing.h>

namespace ztl::test {

template <typename E>
std::function<void()> Raise(String message = "raised") {
  return [message] { throw E(message); };
}

class ExceptionProcessing : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetApplicationState();
    savedSettings_ = FormatSettings();
    // Fixed date and time texts: the formats are literals.
    FormatSettings().ShortDateFormat = "'07.12.2026'";
    FormatSettings().LongTimeFormat = "'08:20:55'";
  }
  void TearDown() override {
    FormatSettings() = savedSettings_;
    ResetApplicationState();
  }

  // A logger that writes to its own file and tells the user nothing.
  std::unique_ptr<TZTExceptionLog> NewLog(const String& file = "errors.log") {
    auto log = std::make_unique<TZTExceptionLog>(nullptr);
    SetOrdProp(log.get(), "Active", 1);
    log->SetLogFile(dir_.File(file));
    log->SetErrorDialog(edNone);
    return log;
  }

  // Runs raise inside the application's message loop; then, while the
  // processing shows a window, the actions posted by whileShown.
  static void RaiseInLoop(const std::function<void()>& raise, const std::function<void()>& whileShown = {}) {
    Application->QueueCall(raise);
    if (whileShown) whileShown();
    Application->ProcessMessages();
  }

  static std::vector<TShownWindow> Shown() { return HeadlessWidgetSet().Shown(); }
  String LogText(const String& file = "errors.log") const { return ReadFileBytes(dir_.File(file)); }
  bool LogExists(const String& file = "errors.log") const { return FileExists(dir_.File(file)); }

  TestDir dir_;
  TFormatSettings savedSettings_;
};

}  // namespace ztl::test
