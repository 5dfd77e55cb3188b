// The two worked reports, byte for byte. A helper program writes them, so
// that the application has no command-line parameters, as in the examples.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/core/LogFiles.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {
namespace {

using test::ReadFileBytes;
using test::TestDir;

String HelperPath() { return test::HelperProgram("exceptionlog_report_helper"); }

// Runs the helper for one form; returns its exit status.
int RunHelper(const String& logFile, const char* form) {
  test::RunOptions options;
  options.environment = {"ZTL_REPORT_LOG=" + logFile, "ZTL_REPORT_FORM=" + String(form)};
  return test::RunProgram({HelperPath()}, options).status;
}

const String kMessage =
    "Message: Exception EAccessViolation in module exceptionlog_report_helper at 0000000012345678. "
    "Access violation at address 12345678";

TEST(WorkedReport, TextFormWithTheDefaultSections) {
  TestDir dir;
  ASSERT_TRUE(FileExists(HelperPath()));
  ASSERT_EQ(RunHelper(dir.File("errors.log"), "text"), 0);
  const String expected =
      "\r\n"
      "07.12.2026 \r\n"
      "08:20:55 \r\n"
      "Phys.addr: 0000000012345678 \r\n" +
      kMessage + " \r\n" +
      "======\r\n"
      "EXE file name: " + HelperPath() + "\r\n" +
      "Application Title:Order Entry \r\n"
      "======\r\n"
      "Active Form: frmOrders, Orders\r\n"
      "Active Control: edtCustomer \r\n"
      "======\r\n"
      "Computer: ORDERDESK\r\n"
      "User Name: clerk \r\n"
      "======\r\n"
      "\r\n";
  EXPECT_EQ(ReadFileBytes(dir.File("errors.log")), expected);
}

TEST(WorkedReport, XMLFormWithTheDefaultSections) {
  TestDir dir;
  ASSERT_EQ(RunHelper(dir.File("errors.xml"), "xml"), 0);
  const String expected = test::kXMLHeader +
                          "  <ERROR>\r\n"
                          "    <DATE>07.12.2026</DATE>\r\n"
                          "    <TIME>08:20:55</TIME>\r\n"
                          "    <ADDRESS>Phys.addr: 0000000012345678</ADDRESS>\r\n"
                          "    <MESSAGE>" + kMessage + "</MESSAGE>\r\n" +
                          "    <APPLICATION>EXE file name: " + HelperPath() + "\r\n" +
                          "Application Title:Order Entry</APPLICATION>\r\n"
                          "    <CONTROL>Active Form: frmOrders, Orders\r\n"
                          "Active Control: edtCustomer</CONTROL>\r\n"
                          "    <MACHINE>Computer: ORDERDESK\r\n"
                          "User Name: clerk</MACHINE>\r\n"
                          "  </ERROR>\r\n" +
                          test::kXMLEnd;
  const String written = ReadFileBytes(dir.File("errors.xml"));
  EXPECT_EQ(written, expected);
  EXPECT_TRUE(test::ParseXMLLog(written).WellFormed);
}

}  // namespace
}  // namespace ztl
