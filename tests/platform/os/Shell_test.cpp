#include <ztlogger/platform/os/Shell.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/platform/os/FakePrograms.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/WideText.h>

namespace ztl {
namespace {

using test::FakePrograms;
using test::TestDir;

INT Open(const String& file, const String& directory = {}, const char16_t* verb = u"open",
         const char16_t* parameters = nullptr) {
  const std::u16string wideFile = oswide::FromUtf8(file);
  const std::u16string wideDirectory = oswide::FromUtf8(directory);
  const HINSTANCE result = ShellExecuteW(nullptr, verb, wideFile.c_str(), parameters,
                                         directory.empty() ? nullptr : wideDirectory.c_str(), SW_SHOWNORMAL);
  return static_cast<INT>(reinterpret_cast<intptr_t>(result));
}

TEST(ShellExecute, OpensAUrlAsOneArgument) {
  TestDir dir;
  FakePrograms programs(dir);
  programs.Add("xdg-open");
  const String url = "https://example.org/support?a=1&b=$(id);rm -rf ~ `x`";
  EXPECT_GT(Open(url), 32);
  EXPECT_EQ(programs.Arguments("xdg-open"), std::vector<String>{url});
}

TEST(ShellExecute, TakesAWebAddressWithoutScheme) {
  TestDir dir;
  FakePrograms programs(dir);
  programs.Add("xdg-open");
  EXPECT_GT(Open("www.example.org/help", {}, nullptr), 32);  // no verb means "open"
  EXPECT_EQ(programs.Arguments("xdg-open"), std::vector<String>{"http://www.example.org/help"});
}

TEST(ShellExecute, OpensFilesByTheirFullPath) {
  TestDir dir;
  FakePrograms programs(dir);
  programs.Add("xdg-open");
  test::WriteFileBytes(dir.File("-rf report.txt"), "x");  // a name that looks like an option
  EXPECT_GT(Open("-rf report.txt", dir.Path(), u"OPEN"), 32);
  EXPECT_EQ(programs.Arguments("xdg-open"), std::vector<String>{dir.File("-rf report.txt")});
}

TEST(ShellExecute, MissingFilesAndFolders) {
  TestDir dir;
  FakePrograms programs(dir);
  programs.Add("xdg-open");
  SetLastError(0);
  EXPECT_EQ(Open(dir.File("missing.txt")), SE_ERR_FNF);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(dir.File("no folder/missing.txt")), SE_ERR_PNF);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Open(""), SE_ERR_FNF);
  EXPECT_FALSE(programs.Ran("xdg-open"));
}

TEST(ShellExecute, OtherVerbsParametersAndNoOpenerAreNotAssociated) {
  TestDir dir;
  {
    FakePrograms programs(dir);
    programs.Add("xdg-open");
    EXPECT_EQ(Open("https://example.org", {}, u"print"), SE_ERR_NOASSOC);
    EXPECT_EQ(Open("https://example.org", {}, u"open", u"--flag"), SE_ERR_NOASSOC);
    EXPECT_FALSE(programs.Ran("xdg-open"));
  }
  TestDir empty;
  FakePrograms nothing(empty, false);
  SetLastError(0);
  EXPECT_EQ(Open("https://example.org"), SE_ERR_NOASSOC);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace ztl
