// The source position of an exception, from the map file: in the report, in
// GetFormattedSource and in the error dialog.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "tests/exceptionlog/ExceptionProcessing.h"
#include "tests/support/TestDir.h"
#include <ztlogger/exceptionlog/LogDlg.h>
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Testing.h>

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

// ---------------------------------------------------------------- call stacks

// The lines of the call stack section of a text report: what follows the
// "Call stack:" line up to the section's closing blank.
std::vector<String> StackLines(const String& report) {
  std::vector<String> lines;
  const size_t start = report.find("\r\nCall stack:");
  if (start == String::npos) return lines;
  const size_t end = report.find(" \r\n", start);
  size_t at = start + std::string_view("\r\nCall stack:").size();
  while (at < end && report.compare(at, 2, "\r\n") == 0) {
    const size_t next = std::min(report.find("\r\n", at + 2), end);
    lines.push_back(report.substr(at + 2, next - at - 2));
    at = next;
  }
  return lines;
}

TEST_F(SourceLine, CallStackIsOffByDefaultAndCountedPerLogger) {
  auto first = NewLog();
  EXPECT_FALSE(first->CallStack());
  EXPECT_FALSE(StackCaptureActive());
  first->SetCallStack(true);
  {
    auto second = NewLog("second.log");
    second->SetCallStack(true);
    first->SetCallStack(false);
    EXPECT_TRUE(StackCaptureActive()) << "the second logger still asks";
  }
  EXPECT_FALSE(StackCaptureActive()) << "a freed logger no longer asks";
  first->SetFormats({lfSourceLine});
  RaiseAtOffset(0x1010);
  EXPECT_EQ(LogText().find("Call stack"), String::npos);
}

TEST_F(SourceLine, TheCallStackFollowsTheSourceLineOneFramePerLine) {
  auto log = LogWithMap(OrdersMap(true, true));
  log->SetFormats({lfSourceLine});
  log->SetCallStack(true);
  RaiseAtOffset(0x1010);
  const String report = LogText();
  const String source = "\r\nUnit: Orders\r\nProcedure: Orders.Post\r\nLine No: 42";
  ASSERT_EQ(report.rfind("\r\n" + source + " \r\nCall stack:\r\n", 0), 0u) << report;
  EXPECT_EQ(log->GetFormattedSource(), source) << "the frames leave the exception's own analysis alone";

  const std::vector<String> lines = StackLines(report);
  ASSERT_GE(lines.size(), 3u) << report;
  const String program = ExtractFileName(ModuleFileNameOf(reinterpret_cast<void*>(&StackLines)));
  bool programFrame = false, libraryFrame = false;
  for (const String& line : lines) {
    // Address, then module and offset, then what the map names.
    const size_t blank = line.find(' ');
    ASSERT_NE(blank, String::npos) << line;
    const String module = line.substr(blank + 1, line.find('+') - blank - 1);
    if (module == program) {
      // The map's one unit holds the first 2000 bytes of code; frames
      // elsewhere are named by the program's line tables, not taken for
      // the unit before them.
      const uintptr_t address = std::stoull(line.substr(0, blank), nullptr, 16);
      EXPECT_EQ(line.find(" Orders") != String::npos, address - 1 - MainModuleCodeBase() < 0x2000) << line;
      programFrame = programFrame || line.find(" ExceptionSourceLine_test ") != String::npos;
    } else if (!module.empty() && module != "?") {
      libraryFrame = true;
      EXPECT_EQ(line.find("Orders"), String::npos) << "no map for " << line;
    }
  }
  EXPECT_TRUE(programFrame);
  EXPECT_TRUE(libraryFrame);
}

TEST_F(SourceLine, TheXMLCallStackHasOneElementPerFrame) {
  auto log = NewLog("errors.xml");
  log->SetFormatting(ztlfXML);
  log->SetFormats({lfExceptionClassName});
  log->SetCallStack(true);
  RaiseAtOffset(0x1010);
  const String xml = LogText("errors.xml");
  const size_t open = xml.find("</CLASSNAME>\r\n    <CALLSTACK>\r\n      <FRAME>");
  const size_t close = xml.find("</FRAME>\r\n    </CALLSTACK>\r\n  </ERROR>");
  ASSERT_NE(open, String::npos) << xml;
  ASSERT_NE(close, String::npos) << xml;
  size_t frames = 0;
  for (size_t at = xml.find("<FRAME>", open); at < close; at = xml.find("<FRAME>", at + 1)) ++frames;
  EXPECT_GE(frames, 3u);
}

}  // namespace
}  // namespace ztl
