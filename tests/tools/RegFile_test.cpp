// The .reg reader and writer of ztl-reg as a unit, on a test's own prefix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <ztl-reg/RegFile.h>
#include "tests/support/TestDir.h"

namespace {

using namespace ztl::regtool;

// The older REGEDIT4 form keeps strings in hex as 8-bit text, continued over
// lines: they are read as UTF-16, and written back in the newer form.
TEST(RegFile, ReadsRegedit4HexStringsAndWritesTheNewerForm) {
  ztl::test::TestDir dir;
  const std::string raw =
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Old]\r\n"
      "\"Path\"=hex(2):25,50,41,\\\r\n  54,48,25,00\r\n"
      "\"Count\"=dword:0000002a\r\n";
  Importer importer;
  std::string problem;
  ASSERT_TRUE(importer.Run(RegFileText(raw), problem)) << problem;

  Key key;
  ASSERT_EQ(key.Open(*ParseKey("HKCU\\Software\\Old"), KEY_READ), ERROR_SUCCESS);
  std::string text;
  std::vector<std::string> skipped;
  ExportKey(key.Handle(), *ParseKey("HKCU\\Software\\Old"), text, skipped);
  EXPECT_TRUE(skipped.empty());
  EXPECT_EQ(text,
            "[HKEY_CURRENT_USER\\Software\\Old]\r\n"
            "\"Path\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00\r\n"
            "\"Count\"=dword:0000002a\r\n\r\n");
  // The file's bytes read back as the same text.
  EXPECT_EQ(RegFileText(RegFileBytes(text)), ztl::unicode::Utf8ToUtf16(text));
}

}  // namespace
