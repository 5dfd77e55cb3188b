// Without a display, what a program would have shown in a box reaches the
// standard error stream, one block a box.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/forms/WidgetSet.h>

namespace ztl::test {
namespace {

TEST(HeadlessBoxes, AFaultInAnEventHandlerAndAMessageBoxReachStandardError) {
  TestDir dir;
  const std::string helper =
      (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "headless_box_helper").string();
  const std::string errors = dir.File("errors.txt");
  // The standard error apart from the output, in a file.
  const CommandRun run = RunCommandLine("(env -u DISPLAY ZTL_WIDGETSET=headless " + ShellQuoted(helper) + " 2>" +
                                        ShellQuoted(errors) + ")");
  ASSERT_EQ(run.status, 0) << run.out;
  // The loop went on after the fault; the box was closed with nobody there.
  EXPECT_EQ(run.out, "answer " + std::to_string(IDNO) + "\n");

  const std::string text = ReadFileBytes(errors);
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
