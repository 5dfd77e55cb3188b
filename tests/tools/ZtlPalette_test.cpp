// ztl-palette, run as a separate program on the built component library.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"

namespace {

using Outcome = ztl::test::CommandRun;

// Runs the tool with arguments (quoted for the shell) and no input.
Outcome Palette(const std::string& arguments) {
  return ztl::test::RunCommandLine(std::string(ZTL_PALETTE_PATH) + " " + arguments);
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

TEST(ZtlPalette, WritesEachPaletteBitmapAsAnIndexedPng) {
  ztl::test::TestDir dir;
  const Outcome run = Palette(kLibrary + " --bitmaps '" + dir.Path() + "'");
  ASSERT_EQ(run.status, 0) << run.out;
  for (const char* name : {"TZTEXCEPTIONLOG", "TZTAPPLOG", "TZTDATASETLOG", "TZTFILELOG", "TZTNTEVENTLOG",
                           "TZTREGISTRYLOG", "TZTLCHECKPROCESSOR", "TZTSHELLLOG"}) {
    // IHDR is the first chunk: width and height (big-endian), bit depth, colour type.
    const std::string png = ztl::test::ReadFileBytes(dir.File(std::string(name) + ".png"));
    ASSERT_GT(png.size(), 26u) << name;
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n") << name;
    EXPECT_EQ(png.substr(12, 12), std::string("IHDR\0\0\0\x18\0\0\0\x18", 12)) << name << ": 24 x 24";
    EXPECT_EQ(int(png[24]), std::string(name) == "TZTLCHECKPROCESSOR" ? 8 : 4) << name << ": bits per pixel";
    EXPECT_EQ(int(png[25]), 3) << name << ": indexed, with the bitmap's colour table";
  }
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
