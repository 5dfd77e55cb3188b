// The source position of an exception, from the map file: in the report, in
// GetFormattedSource and in the error dialog.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "exceptionlog/LogDlg.h"
#include "exceptionlog/LogError.h"
#include "platform/forms/HeadlessWidgetSet.h"
#include "platform/os/Modules.h"
#include "platform/rtl/ExceptionSupport.h"
#include "platform/rtl/Testing.h"
#include "tests/exceptionlog/ExceptionProcessing.h"
#include "tests/support/TestDir.h"

namespace ztl {
namespace {

using test::ExceptionProcessing;
using test::Raise;

// ---------------------------------------------------------------- source positions

// A map whose unit Orders covers the first 0x2000 bytes of code.
String OrdersMap(bool withSegments, bool withLines) {
  String text =
      " Start         Length     Name                   Class\r\n"
      " 0001:00000000 00010000H .text                   CODE\r\n\r\nDetailed map of segments\r\n\r\n";
  if (withSegments) text += " 0001:00000000 00002000 C=CODE     S=.text    G=(none)   M=Orders ACBP=A9\r\n";
  text +=
      "\r\n  Address         Publics by Name\r\n\r\n 0001:00000000       NotByValue\r\n\r\n"
      "  Address         Publics by Value\r\n\r\n\r\n"
      " 0001:00001000       Orders.Post\r\n 0001:00001800       Orders.Cancel\r\n\r\n";
  if (withLines) text += "Line numbers for Orders(Orders.pas) segment .text\r\n\r\n    41 0001:00001000    42 0001:00001010\r\n\r\n";
  return text;
}

class SourceLine : public ExceptionProcessing {
 protected:
  std::unique_ptr<TZTExceptionLog> LogWithMap(const String& map) {
    auto log = NewLog();
    test::WriteFileBytes(dir_.File("app.map"), map);
    log->MapFile()->SetMapFileName(dir_.File("app.map"));
    return log;
  }
  static void RaiseAtOffset(uint32_t offset, const std::function<void()>& whileShown = {}) {
    void* const address = reinterpret_cast<void*>(MainModuleCodeBase() + offset);
    RaiseInLoop([address] { RaiseAt(EAccessViolation("Access violation"), address); }, whileShown);
  }
};

TEST_F(SourceLine, NothingIsAnalysedUntilAnExceptionAsksForIt) {
  auto log = LogWithMap(OrdersMap(true, true));
  EXPECT_EQ(log->GetFormattedSource(), "");
  RaiseAtOffset(0x1010);  // neither lfSourceLine nor laShowSourceLine
  EXPECT_EQ(log->GetFormattedSource(), "");
}

TEST_F(SourceLine, TheLineSectionNamesUnitProcedureAndLine) {
  auto log = LogWithMap(OrdersMap(true, true));
  log->SetFormats({lfSourceLine});
  RaiseAtOffset(0x1010);
  const String expected = "\r\nUnit: Orders\r\nProcedure: Orders.Post\r\nLine No: 42";
  EXPECT_EQ(log->GetFormattedSource(), expected);
  EXPECT_EQ(LogText(), "\r\n" + expected + " \r\n");
}

TEST_F(SourceLine, OnlyAProcedureGivesOneLineWithItsBreak) {
  auto log = LogWithMap(OrdersMap(false, false));
  log->SetOptions({laShowSourceLine});
  log->SetFormats({});
  RaiseAtOffset(0x1004);
  EXPECT_EQ(log->GetFormattedSource(), "\r\nProcedure: Orders.Post\r\n");
}

TEST_F(SourceLine, AMissingMapStillAnalysesToASingleLineBreak) {
  auto log = NewLog();
  log->MapFile()->SetMapFileName(dir_.File("none.map"));
  log->SetFormats({lfSourceLine});
  RaiseInLoop(Raise<EConvertError>());
  EXPECT_EQ(log->GetFormattedSource(), "\r\n");
  EXPECT_EQ(LogText(), "\r\n\r\n \r\n");
}

TEST_F(SourceLine, WithoutAMapReaderTheSourceIsEmptyAndTheReportStillWritten) {
  auto log = NewLog();
  delete log->MapFile();
  log->SetMapFile(nullptr);
  log->SetFormats({lfSourceLine});
  RaiseInLoop(Raise<EConvertError>());
  EXPECT_EQ(log->GetFormattedSource(), "");
  EXPECT_EQ(LogText(), "\r\n \r\n");
}

TEST_F(SourceLine, TheDialogShowsTheSourceOnlyWithShowSourceLine) {
  auto log = LogWithMap(OrdersMap(true, true));
  log->SetErrorDialog(edExtended);
  String memo;
  auto inspect = [&](TCustomForm& form) { memo = dynamic_cast<TfrmZTLogErrorDialog&>(form).lblErrorText->Text(); };
  auto postInspect = [&] { HeadlessWidgetSet().PostInspect(inspect); };
  log->SetFormats({lfSourceLine});
  RaiseAtOffset(0x1010, postInspect);
  EXPECT_EQ(memo, "Access violation");

  log->SetOptions({laShowSourceLine});
  RaiseAtOffset(0x1010, postInspect);
  EXPECT_EQ(memo, "Access violation\r\nUnit: Orders\r\nProcedure: Orders.Post\r\nLine No: 42");
}

}  // namespace
}  // namespace ztl
