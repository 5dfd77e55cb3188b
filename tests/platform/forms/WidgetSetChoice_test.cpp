// Which widget set a program gets: the environment and the display decide;
// only the GTK one brings GUI libraries into the process.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include "tests/support/Xvfb.h"

namespace ztl::test {
namespace {

// Runs the helper with the environment changes ("NAME=value", or "NAME" to
// remove it) and returns what it printed on its output, its errors with it
// when withErrors.
std::string RunAll(const std::vector<std::string>& environment, bool withErrors = true) {
  RunOptions options;
  options.environment = environment;
  options.errors = withErrors ? Sink::JoinsOutput : Sink::Dropped;
  return RunProgram({HelperProgram("widgetset_name_helper")}, options).out;
}

// The widget set's name alone: the last line of the standard output (the
// toolkit may talk first).
std::string NameWith(const std::vector<std::string>& environment) {
  std::string out = RunAll(environment, false);
  const size_t start = out.size() > 1 ? out.rfind('\n', out.size() - 2) : std::string::npos;
  return start == std::string::npos ? out : out.substr(start + 1);
}

// Whether the helper had a GUI library loaded when it had its widget set.
bool LoadedGui(const std::vector<std::string>& environment) {
  return RunAll(environment, false).find("gui libraries: loaded\n") != std::string::npos;
}

TEST(WidgetSetChoice, ADisplayBringsGtkUnlessTheEnvironmentSaysHeadless) {
  Xvfb server(640, 480);
  ASSERT_TRUE(server.Running());
  const std::string display = "DISPLAY=" + server.Display();
  const std::vector<std::string> chosen = {"ZTL_WIDGETSET", display};
#if ZTL_TEST_WITH_GTK
  const bool gtk = true;
#else
  const bool gtk = false;
#endif
  EXPECT_EQ(NameWith(chosen), gtk ? "gtk3\n" : "headless\n");
  EXPECT_EQ(LoadedGui(chosen), gtk);
  EXPECT_EQ(NameWith({"ZTL_WIDGETSET=headless", display}), "headless\n");
  EXPECT_FALSE(LoadedGui({"ZTL_WIDGETSET=headless", display})) << "the desktop module is left unloaded";
  EXPECT_EQ(NameWith({"ZTL_WIDGETSET=gtk3", display}), gtk ? "gtk3\n" : "headless\n");
}

TEST(WidgetSetChoice, WithoutADisplayItIsHeadlessAndAskingForGtkSaysWhy) {
  EXPECT_EQ(NameWith({"ZTL_WIDGETSET", "DISPLAY"}), "headless\n");
  EXPECT_FALSE(LoadedGui({"ZTL_WIDGETSET", "DISPLAY"}));
  const std::string asked = RunAll({"DISPLAY", "ZTL_WIDGETSET=gtk3"});
  EXPECT_NE(asked.find("ZTL_WIDGETSET=gtk3"), std::string::npos) << asked;
  EXPECT_EQ(asked.substr(asked.size() - 9), "headless\n");
  EXPECT_NE(RunAll({"DISPLAY", "ZTL_WIDGETSET=qt"}).find("names no widget set"), std::string::npos);
}

TEST(WidgetSetChoice, WithoutItsModuleADisplayStaysHeadlessAndAskingForGtkSaysWhy) {
  namespace fs = std::filesystem;
  Xvfb server(640, 480);
  ASSERT_TRUE(server.Running());
  TestDir dir;
  for (const char* library : {ZTL_PLATFORM_LIBRARY, ZTL_LOGGER_LIBRARY})
    fs::copy_file(library, fs::path(dir.Path()) / fs::path(library).filename());
  const std::string libraries = "LD_LIBRARY_PATH=" + dir.Path(), display = "DISPLAY=" + server.Display();
  EXPECT_EQ(NameWith({"ZTL_WIDGETSET", libraries, display}), "headless\n");
  EXPECT_FALSE(LoadedGui({"ZTL_WIDGETSET", libraries, display}));
  const std::string asked = RunAll({"ZTL_WIDGETSET=gtk3", libraries, display});
  EXPECT_NE(asked.find("ZTL_WIDGETSET=gtk3: The GTK widget set's module " + dir.Path() + "/libztl_gtk.so"),
            std::string::npos)
      << asked;
  EXPECT_NE(asked.find("cannot be loaded: it, or a library it needs, is missing: using headless\n"), std::string::npos)
      << asked;
  EXPECT_EQ(asked.substr(asked.size() - 9), "headless\n");
}

}  // namespace
}  // namespace ztl::test
