// ztl-palette, run as a separate program on the built component library.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "tests/support/TestDir.h"

namespace {

struct Outcome {
  int status;
  std::string out;
};

// Runs ztl-palette with arguments (quoted for the shell) and no input.
Outcome Palette(const std::string& arguments) {
  FILE* pipe = popen((std::string(ZTL_PALETTE_PATH) + " " + arguments + " </dev/null 2>&1").c_str(), "r");
  Outcome run{-1, {}};
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

const std::string kLibrary = std::string("'") + ZTL_COMPONENT_LIBRARY + "'";

TEST(ZtlPalette, ListsTheZTLoggerPageWithItsSevenComponentsInOrder) {
  const Outcome run = Palette(kLibrary);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "ZTLogger\n  TZTExceptionLog\n  TZTAppLog\n  TZTDatasetLog\n  TZTFileLog\n  TZTNTEventLog\n"
            "  TZTRegistryLog\n  TZTLCheckProcessor\n");
}

TEST(ZtlPalette, ListsPublishedPropertiesWithTypesAndDeclaredDefaults) {
  const Outcome run = Palette(kLibrary + " --properties tztfilelog");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("TZTFileLog\n"), std::string::npos);
  EXPECT_NE(run.out.find("  Active: Boolean\n"), std::string::npos);
  EXPECT_NE(run.out.find("  Options: set of TFileNotificationOption\n      default [foFile,foFolder]"),
            std::string::npos);
  EXPECT_NE(run.out.find("  Formatting: TZTLogFormatting\n      default ztlfText"), std::string::npos);
  EXPECT_NE(run.out.find("  SendTo: TZTLSendTo\n  SendTo.EMail: String\n"), std::string::npos);
  EXPECT_LT(run.out.find("  Active:"), run.out.find("  Folder:")) << "inherited properties first";
  EXPECT_EQ(Palette(kLibrary + " --properties TZTLogBase").status, 1) << "not on the palette";
}

// Width, height, bit depth and colour type from the IHDR chunk; the number of
// PLTE entries.
struct PngHeader {
  uint32_t width = 0, height = 0;
  int depth = 0, colourType = -1;
  size_t colours = 0;
};
uint32_t BigEndian(const std::string& s, size_t at) {
  return (uint32_t(uint8_t(s[at])) << 24) | (uint32_t(uint8_t(s[at + 1])) << 16) | (uint32_t(uint8_t(s[at + 2])) << 8) |
         uint8_t(s[at + 3]);
}
PngHeader ReadPng(const std::string& bytes) {
  PngHeader h;
  if (bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return h;
  for (size_t at = 8; at + 8 <= bytes.size();) {
    const uint32_t length = BigEndian(bytes, at);
    const std::string type = bytes.substr(at + 4, 4);
    if (type == "IHDR") {
      h.width = BigEndian(bytes, at + 8);
      h.height = BigEndian(bytes, at + 12);
      h.depth = uint8_t(bytes[at + 16]);
      h.colourType = uint8_t(bytes[at + 17]);
    } else if (type == "PLTE") {
      h.colours = length / 3;
    }
    at += 12 + length;
  }
  return h;
}

TEST(ZtlPalette, WritesEachPaletteBitmapAsAnIndexedPng) {
  ztl::test::TestDir dir;
  const Outcome run = Palette(kLibrary + " --bitmaps '" + dir.Path() + "'");
  ASSERT_EQ(run.status, 0) << run.out;
  std::map<std::string, int> depths;
  for (const char* name : {"TZTEXCEPTIONLOG", "TZTAPPLOG", "TZTDATASETLOG", "TZTFILELOG", "TZTNTEVENTLOG",
                           "TZTREGISTRYLOG", "TZTLCHECKPROCESSOR", "TZTSHELLLOG"}) {
    const PngHeader h = ReadPng(ztl::test::ReadFileBytes(dir.File(std::string(name) + ".png")));
    SCOPED_TRACE(name);
    EXPECT_EQ(h.width, 24u);
    EXPECT_EQ(h.height, 24u);
    EXPECT_EQ(h.colourType, 3) << "indexed";
    EXPECT_EQ(h.colours, size_t{1} << h.depth) << "the bitmap's full colour table";
    depths[name] = h.depth;
  }
  EXPECT_EQ(depths["TZTLCHECKPROCESSOR"], 8);
  EXPECT_EQ(depths["TZTSHELLLOG"], 4);
  EXPECT_TRUE(ztl::test::ReadFileBytes(dir.File("ZTL_FAILED.png")).empty()) << "not a palette bitmap";
}

TEST(ZtlPalette, RefusesWhatIsNoPackageAndWrongCommandLines) {
  ztl::test::TestDir dir;
  ztl::test::WriteFileBytes(dir.File("notes.so"), "not a module\n");
  Outcome run = Palette(std::string("'") + ZTL_PLATFORM_LIBRARY + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("exports no ZTL_Register"), std::string::npos) << run.out;
  run = Palette("'" + dir.File("notes.so") + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("not a loadable module"), std::string::npos) << run.out;
  EXPECT_EQ(Palette("'" + dir.File("missing.so") + "'").status, 1);
  EXPECT_EQ(Palette("").status, 2);
  EXPECT_EQ(Palette(kLibrary + " --colours x").status, 2);
  EXPECT_EQ(Palette("--help").status, 0);
}

}  // namespace
