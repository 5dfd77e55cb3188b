
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Testing.h>

namespace ztl {
namespace {

using test::TestDir;
using test::WriteFileBytes;

using RunResult = test::CommandRun;

RunResult RunTool(const char* program, std::vector<String> arguments, bool withErrors = false) {
  arguments.insert(arguments.begin(), program);
  test::RunOptions options;
  options.errors = withErrors ? test::Sink::JoinsOutput : test::Sink::Dropped;
  return test::RunProgram(arguments, options);
}

RunResult RunMapInfo(const std::vector<String>& arguments, bool withErrors = false) {
  return RunTool(ZTL_MAPINFO_PATH, arguments, withErrors);
}

String Hex(uintptr_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
  return text;
}

// A map of one unit Main with one procedure Main.Run at 0x10, after the
// given preamble, with the given line of entries.
String OneUnitMap(const String& preamble, const String& entries) {
  return preamble +
         "Detailed map of segments\n\n"
         " 0001:00000000 00000100 C=CODE     S=.text    G=(none)   M=Main ACBP=A9\n\n"
         "Address Publics by Name\n"
         "  Address         Publics by Value\n\n\n"
         " 0001:00000010       Main.Run\n"
         " 0001:00000100\n\n"
         "Line numbers for Main(Main.pas) segment .text\n\n" +
         entries;
}

constexpr int SymbolizedFunctionLine = __LINE__ + 1;
__attribute__((noinline)) int SymbolizedFunction(int value) { return value * 3 + 1; }

String OwnMap() { return ChangeFileExt(ModuleFileNameOf(reinterpret_cast<const void*>(&SymbolizedFunction)), ".map"); }

TEST(ZtlMapInfo, SymbolizesAddressesOfThisProgram) {
  const auto function = reinterpret_cast<uintptr_t>(&SymbolizedFunction);
  // The load address, as a report gives it: the address less its module offset.
  const uintptr_t base = ModuleLoadBase(reinterpret_cast<const void*>(function));
  const String expected = "ZtlMapInfo_test\tztl::(anonymous namespace)::SymbolizedFunction(int)\t" +
                          IntToStr(SymbolizedFunctionLine) + "\n";
  for (const String& address : {Hex(function), "0X" + Hex(function + 1)}) {
    const RunResult result = RunMapInfo({"--base", "0x" + Hex(base), OwnMap(), address});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.substr(0, expected.size()), expected) << address;
  }
}

TEST(ZtlMapInfo, DefaultBaseIsTheLinkersCodeStart) {
  TestDir dir;
  const String map = dir.File("app.map");
  WriteFileBytes(map, OneUnitMap("", "    42 0001:00000010    43 0001:00000020\n"));
  const RunResult result = RunMapInfo({map, "401020", "0x0040101c", "zz", "401100", "400fff"});
  // "zz" is no address; the last two lie outside the map's code: refused,
  // with no row of empty fields.
  EXPECT_EQ(result.out, "Main\tMain.Run\t43\nMain\tMain.Run\t42\n");
  EXPECT_EQ(result.status, 1);
  const RunResult errors = RunMapInfo({map, "zz", "401100"}, true);
  EXPECT_NE(errors.out.find("zz: not a hexadecimal number"), String::npos) << errors.out;
  EXPECT_NE(errors.out.find("401100: outside the code of"), String::npos) << errors.out;
  EXPECT_EQ(RunMapInfo({"--units", map}).out, "Main\n");
}

TEST(ZtlMapInfo, MissingUnreadableAndNonMapFilesAreRefusedWithTheReason) {
  TestDir dir;
  WriteFileBytes(dir.File("notes.txt"), "not a map\n");
  ASSERT_EQ(::mkfifo(dir.File("fifo.map").c_str(), 0600), 0);  // refused, not waited on
  const std::pair<String, String> cases[] = {{dir.File("none.map"), "No such file"},
                                             {"/proc/self/mem", "/proc/self/mem"},
                                             {dir.File("notes.txt"), "is not a map file"},
                                             {dir.File("fifo.map"), "is not a regular file"}};
  for (const auto& [path, reason] : cases) {
    const RunResult result = RunMapInfo({path, "401000"}, true);
    EXPECT_EQ(result.status, 1) << path;
    EXPECT_NE(result.out.find(reason), String::npos) << result.out;
    EXPECT_EQ(RunMapInfo({"--units", path}).status, 1) << path;
  }
  EXPECT_EQ(RunMapInfo({"--base"}).status, 2);
}

TEST(ZtlMapInfo, BothToolsAnswerHelpOnStandardOutput) {
  for (const char* tool : {ZTL_MAPINFO_PATH, ZTL_MKMAP_PATH}) {
    const RunResult result = RunTool(tool, {"--help"});
    EXPECT_EQ(result.status, 0) << tool;
    EXPECT_TRUE(result.out.starts_with("usage: ztl-")) << result.out;
  }
}

// The address a report prints ("in module X at OFFSET") is pasted as it is.
TEST(ZtlMapInfo, AReportsModuleOffsetGivesTheReportsLine) {
  char message[1024] = {};
  try {
    RaiseAt(EConvertError("pasted"), reinterpret_cast<void*>(&SymbolizedFunction));
  } catch (const Exception&) {
    ExceptionErrorMessage(ExceptObject(), ExceptAddr(), message, sizeof message);
  }
  const String text = message;
  const size_t at = text.find(" at ");
  ASSERT_NE(at, String::npos) << text;
  const String offset = text.substr(at + 4, text.find('.', at) - at - 4);
  const RunResult result = RunMapInfo({"--module-offset", OwnMap(), offset});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "ZtlMapInfo_test\tztl::(anonymous namespace)::SymbolizedFunction(int)\t" +
                               IntToStr(SymbolizedFunctionLine) + "\n");
}

// A throw's offset is the return address of its call: the call's line
// follows, marked, where it differs; a byte before without a line adds none.
TEST(ZtlMapInfo, AModuleOffsetAfterACallOnAnotherLineAlsoGivesTheCallsLine) {
  TestDir dir;
  const String map = dir.File("app.map");
  WriteFileBytes(map, OneUnitMap("Code at module offset 1000\n\n",
                                 "    42 0001:00000010    43 0001:00000020    44 0001:00000030\n"));
  const RunResult result = RunMapInfo({"--module-offset", map, "1020", "1025", "1010"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "Main\tMain.Run\t43\n"
            "Main\tMain.Run\t42\t(the call returning here: a raise's report names this line)\n"
            "Main\tMain.Run\t43\n"
            "Main\tMain.Run\t42\n");
}

// Only mangled names are demangled: a C function named "d" is no "double".
extern "C" __attribute__((noinline, used)) int d(int value) { return value + 1; }

TEST(ZtlMapInfo, TheMapKeepsUnmangledNamesAsTheyAre) {
  const String map = test::ReadFileBytes(OwnMap());
  EXPECT_NE(map.find("       d\r\n"), String::npos);
  EXPECT_EQ(map.find("       double\r\n"), String::npos);
}

// Truncated, binary and huge-line maps: one line per address, and no crash.
TEST(ZtlMapInfo, SurvivesHostileMaps) {
  TestDir dir;
  const String whole = test::ReadFileBytes(OwnMap());
  ASSERT_GT(whole.size(), 1000u);
  std::mt19937 random(20240601);
  std::vector<String> maps = {whole.substr(0, whole.size() / 2), whole.substr(0, whole.find("Line numbers for") + 30),
                              String(3 << 20, 'A') + "\n" + whole,
                              "Detailed map of segments\n\n" + String(1 << 20, ' ')};
  String binary(1 << 16, '\0');
  for (char& c : binary) c = static_cast<char>(random());
  maps.push_back(binary);
  maps.push_back("Detailed map of segments\n" + binary + "\nAddress Publics by Value\n" + binary);
  for (size_t i = 0; i < maps.size(); ++i) {
    const String path = dir.File("hostile" + IntToStr(static_cast<int64_t>(i)) + ".map");
    WriteFileBytes(path, maps[i]);
    // What has no segments header is no map and is refused; the rest is read.
    const bool isMap = maps[i].find("Detailed map of segments\r\n") != String::npos ||
                       maps[i].find("Detailed map of segments\n") != String::npos;
    // Each place gets its row or its refusal.
    const RunResult result = RunMapInfo({"--base", "0", path, "1", "1000", "ffffffff", "123456789abcdef0"}, true);
    EXPECT_TRUE(result.status == 0 || result.status == 1) << i;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), isMap ? 4 : 1) << i << result.out;
    EXPECT_EQ(RunMapInfo({"--units", path}).status, isMap ? 0 : 1) << i;
  }
}

}  // namespace
}  // namespace ztl
