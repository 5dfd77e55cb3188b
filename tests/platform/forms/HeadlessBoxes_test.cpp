// Without a display, what a program would have shown in a box reaches the
// standard error stream, one block a box.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/RunCommand.h"
#include <ztlogger/platform/forms/WidgetSet.h>

namespace ztl::test {
namespace {

TEST(HeadlessBoxes, AFaultInAnEventHandlerAndAMessageBoxReachStandardError) {
  RunOptions headless;
  headless.environment = {"DISPLAY", "ZTL_WIDGETSET=headless"};
  const CommandRun run = RunProgram({HelperProgram("headless_box_helper")}, headless);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  // The loop went on after the fault; the box was closed with nobody there.
  EXPECT_EQ(run.out, "answer " + std::to_string(IDNO) + "\n");

  const std::string& text = run.err;
  // The shown exception: the application's title, the fault's message.
  const std::string fault = "Stock Keeper\nAccess violation at address ";
  ASSERT_EQ(text.compare(0, fault.size(), fault), 0) << text;
  const size_t faultEnd = text.find("\n\n");
  ASSERT_NE(faultEnd, std::string::npos) << text;
  EXPECT_NE(text.substr(0, faultEnd).find(": read of address 0000000000000000."), std::string::npos) << text;
  // Then the program's own box, after a blank line, and nothing else.
  EXPECT_EQ(text.substr(faultEnd + 2), "Closing\nSave the counts?\n\n");
}

}  // namespace
}  // namespace ztl::test
