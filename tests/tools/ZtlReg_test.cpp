// ztl-reg, run as a separate program on a test's own prefix.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/registry/Api.h>

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

// Names with line breaks cannot be written to a .reg file: export writes
// everything else, names what it left out and fails. Import keeps a CR that
// ends no line.
TEST(ZtlReg, ExportNamesWhatAFileCannotHoldAndImportKeepsEveryCharacter) {
  ztl::test::TestDir dir;
  HKEY key, odd;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Breaks", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyExW(key, u"key\nwith break", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &odd, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(odd);
  const DWORD one = 1;
  for (const char16_t* name : {u"plain", u"line\nbreak", u"carriage\rreturn"})
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_SUCCESS);
  RegCloseKey(key);
  const std::string file = dir.File("breaks.reg");
  const Outcome exported = Reg("export 'HKCU\\Software\\Breaks' '" + file + "'");
  EXPECT_NE(exported.status, 0);
  EXPECT_NE(exported.out.find("\"line\\nbreak\""), std::string::npos) << exported.out;
  EXPECT_NE(exported.out.find("\"carriage\\rreturn\""), std::string::npos) << exported.out;
  EXPECT_NE(exported.out.find("key\\nwith break"), std::string::npos) << exported.out;
  ASSERT_EQ(Reg("delete 'HKCU\\Software\\Breaks' /f").status, 0);
  ASSERT_EQ(Reg("import '" + file + "'").status, 0);
  EXPECT_EQ(Reg("query 'HKCU\\Software\\Breaks' /v plain").status, 0);

  ztl::test::WriteFileBytes(file,
                            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Lone]\r\n"
                            "\"carriage\rreturn\"=dword:00000002\r\n");
  ASSERT_EQ(Reg("import '" + file + "'").status, 0);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Lone", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD value = 0, size = 4;
  EXPECT_EQ(RegQueryValueExW(key, u"carriage\rreturn", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  RegCloseKey(key);
}

}  // namespace
