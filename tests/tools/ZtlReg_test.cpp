// ztl-reg, run as a separate program on a test's own prefix.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/Registry.h>

namespace {

using Outcome = ztl::test::CommandRun;

// Runs the tool with arguments (quoted for the shell) and no input.
Outcome Reg(const std::string& arguments) {
  return ztl::test::RunCommandLine(std::string(ZTL_REG_PATH) + " " + arguments);
}

TEST(ZtlReg, AddsQueriesAndDeletesAsRegDoes) {
  ztl::test::TestDir dir;
  EXPECT_EQ(Reg("add 'HKCU\\Software\\Tool' /v Count /t REG_DWORD /d 42").status, 0);
  EXPECT_EQ(Reg("add 'HKCU\\Software\\Tool' /v Name /d 'two words' /f").status, 0);
  const Outcome query = Reg("query 'hkcu\\software\\tool'");
  EXPECT_EQ(query.status, 0);
  EXPECT_EQ(query.out,
            "\nHKEY_CURRENT_USER\\software\\tool\n    Count    REG_DWORD    0x2a\n"
            "    Name    REG_SZ    two words\n\n");
  EXPECT_EQ(Reg("add 'HKCU\\Software\\Tool' /v Count /t REG_DWORD /d 7").status, 1);  // exists, no /f, no answer
  EXPECT_EQ(Reg("query 'HKCU\\Software\\Tool' /v Missing").status, 1);
  EXPECT_EQ(Reg("query 'HKCU\\Software\\Nothing'").status, 1);
  EXPECT_EQ(Reg("delete 'HKCU\\Software\\Tool' /v Count /f").status, 0);
  EXPECT_EQ(Reg("query 'HKCU\\Software\\Tool' /v Count").status, 1);
  EXPECT_EQ(Reg("add 'HKCU\\Software\\Tool' /v Bad /t REG_DWORD /d twelve").status, 2);
  EXPECT_EQ(Reg("frobnicate HKCU").status, 2);
  EXPECT_EQ(Reg("--help").status, 0);
}

TEST(ZtlReg, ExportThenImportIntoAnEmptyPrefixReproducesTheTree) {
  std::string exported;
  std::string before;
  {
    ztl::test::TestDir source;
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\MixedCase\\Inner Key", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char16_t text[] = u"line\r\nbreak \"quoted\" back\\slash";
    const BYTE odd[] = {'x', 0, 'y'};  // a string stored without its terminator, odd length
    const uint64_t big = 0x0123456789ABCDEFull;
    const std::u16string longBinary(100, u'\xABCD');
    ASSERT_EQ(RegSetValueExW(key, u"Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), 0);
    ASSERT_EQ(RegSetValueExW(key, u"Odd", 0, REG_SZ, odd, sizeof odd), 0);
    ASSERT_EQ(RegSetValueExW(key, u"Big", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&big), 8), 0);
    ASSERT_EQ(RegSetValueExW(key, u"Long", 0, REG_BINARY, reinterpret_cast<const BYTE*>(longBinary.data()), 200), 0);
    ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(u"%PATH%"), 14), 0);
    ASSERT_EQ(RegSetValueExW(key, u"Custom", 0, 0x1234, odd, 2), 0);
    RegCloseKey(key);
    const std::string file = source.File("tree.reg");
    ASSERT_EQ(Reg("export 'HKLM\\Software\\MixedCase' '" + file + "'").status, 0);
    before = Reg("query 'HKLM\\Software\\MixedCase' /s").out;
    exported = ztl::test::ReadFileBytes(file);
    EXPECT_EQ(Reg("export 'HKLM\\Software\\MixedCase' '" + file + "'").status, 1);  // exists, no /y
  }
  ztl::test::TestDir target;
  const std::string file = target.File("tree.reg");
  ztl::test::WriteFileBytes(file, exported);
  ASSERT_EQ(Reg("import '" + file + "'").status, 0);
  EXPECT_EQ(Reg("query 'HKLM\\Software\\MixedCase' /s").out, before);
  EXPECT_NE(before.find("HKEY_LOCAL_MACHINE\\Software\\MixedCase\\Inner Key"), std::string::npos);
  ASSERT_EQ(Reg("export 'HKLM\\Software\\MixedCase' '" + file + "' /y").status, 0);
  EXPECT_EQ(ztl::test::ReadFileBytes(file), exported);  // types, data and spelling: byte for byte
  ztl::test::WriteFileBytes(file, "not a registry file\n");
  EXPECT_EQ(Reg("import '" + file + "'").status, 1);
}

}  // namespace
