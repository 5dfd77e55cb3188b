#include <ztlogger/platform/os/SysInfo.h>

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "tests/support/ChildChecks.h"
#include "tests/support/TestDir.h"

namespace ztl {
namespace {

// Facts of an imaginary machine; each test sets what it needs.
class FakeFacts : public SystemFacts {
 public:
  TVersionFacts version{VER_PLATFORM_WIN32_NT, 5, 1, 2600, " Service Pack 3 "};
  WORD level = 15;
  TMemoryFacts memory;
  String host = "fake-host.example.org";
  String user = "tester";

  TVersionFacts Version() const override { return version; }
  WORD ProcessorLevel() const override { return level; }
  TMemoryFacts Memory() const override { return memory; }
  String HostName() const override { return host; }
  String UserName() const override { return user; }
};

constexpr uint64_t GiB = uint64_t{1} << 30;

uint64_t MeminfoBytes(const char* key) {
  std::ifstream in("/proc/meminfo");
  String name;
  uint64_t kb = 0;
  String unit;
  while (in >> name >> kb) {
    std::getline(in, unit);
    if (name == String(key) + ":") return kb * 1024;
  }
  return 0;
}

String Narrow(const std::u16string& wide) {
  String out;
  for (char16_t c : wide) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

// ---- Names ---------------------------------------------------------------

TEST(ComputerName, IsTheHostNamesFirstLabelUpperCased) {
  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  String expected = String(names.nodename).substr(0, String(names.nodename).find('.')).substr(0, 15);
  for (char& c : expected) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  WCHAR buffer[16] = {};
  DWORD size = 16;
  ASSERT_TRUE(GetComputerNameW(buffer, &size));
  EXPECT_EQ(Narrow(buffer), expected);
  EXPECT_EQ(size, expected.size());
}

TEST(ComputerName, KeepsAtMostFifteenCharactersOfTheFirstLabel) {
  FakeFacts facts;
  facts.host = "build-server-0042.lab.example.org";
  ScopedSystemFacts scope(facts);
  WCHAR buffer[16];
  DWORD size = 16;
  ASSERT_TRUE(GetComputerNameW(buffer, &size));
  EXPECT_EQ(std::u16string(buffer), u"BUILD-SERVER-00");
  EXPECT_EQ(size, 15u);
}

TEST(ComputerName, ABufferTooSmallFailsWithTheSizeNeeded) {
  FakeFacts facts;
  facts.host = "alpha";
  ScopedSystemFacts scope(facts);
  WCHAR buffer[8] = {u'x', u'x', u'x', u'x', u'x', u'x', u'x', u'x'};

  DWORD size = 5;  // no room for the null
  SetLastError(0);
  EXPECT_FALSE(GetComputerNameW(buffer, &size));
  EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(buffer[0], u'x');

  size = 6;
  EXPECT_TRUE(GetComputerNameW(buffer, &size));
  EXPECT_EQ(std::u16string(buffer), u"ALPHA");
  EXPECT_EQ(size, 5u);

  SetLastError(0);
  EXPECT_FALSE(GetComputerNameW(buffer, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(UserName, SizeQueryThenTheEffectiveUsersName) {
  const passwd* entry = getpwuid(geteuid());
  ASSERT_NE(entry, nullptr);
  const String expected = entry->pw_name;

  DWORD size = 0;
  SetLastError(0);
  EXPECT_FALSE(GetUserNameW(nullptr, &size));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_EQ(size, expected.size() + 1);

  std::u16string buffer(size, u'x');
  ASSERT_TRUE(GetUserNameW(buffer.data(), &size));
  EXPECT_EQ(size, expected.size() + 1);  // the null counted, unlike the computer name
  EXPECT_EQ(buffer.back(), u'\0');
  EXPECT_EQ(Narrow(buffer.c_str()), expected);
}

TEST(UserName, CountsUtf16UnitsOfAName) {
  FakeFacts facts;
  facts.user = "J\xC3\xBCrgen\xF0\x9D\x94\x98";  // "Jürgen" and one character beyond the BMP
  ScopedSystemFacts scope(facts);
  DWORD size = 0;
  EXPECT_FALSE(GetUserNameW(nullptr, &size));
  EXPECT_EQ(size, 9u);  // 6 + a surrogate pair + null
  std::u16string buffer(size, u'\0');
  DWORD tooSmall = 8;
  EXPECT_FALSE(GetUserNameW(buffer.data(), &tooSmall));
  EXPECT_EQ(tooSmall, 9u);
  ASSERT_TRUE(GetUserNameW(buffer.data(), &size));
  EXPECT_EQ(buffer, std::u16string(u"J\u00FCrgen\U0001D518") + u'\0');
}

TEST(UserName, AnAccountWithoutANameFailsWithoutASize) {
  FakeFacts facts;
  facts.user = "";
  ScopedSystemFacts scope(facts);
  DWORD size = 0;
  SetLastError(0);
  EXPECT_FALSE(GetUserNameW(nullptr, &size));
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(GetLastError(), ERROR_NONE_MAPPED);
  WCHAR buffer[8] = {u'x'};
  size = 8;
  EXPECT_FALSE(GetUserNameW(buffer, &size));
  EXPECT_EQ(size, 0u);
}

// ---- Memory --------------------------------------------------------------

TEST(MemoryStatus, ExMatchesTheKernelsFigures) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  EXPECT_EQ(status.ullTotalPhys, MeminfoBytes("MemTotal"));
  const double available = static_cast<double>(MeminfoBytes("MemAvailable"));
  EXPECT_NEAR(static_cast<double>(status.ullAvailPhys), available, static_cast<double>(status.ullTotalPhys) * 0.05);
  EXPECT_EQ(status.ullTotalPageFile, status.ullTotalPhys + MeminfoBytes("SwapTotal"));
  EXPECT_LE(status.ullAvailPageFile, status.ullTotalPageFile);
  EXPECT_LE(status.dwMemoryLoad, 100u);
  EXPECT_GT(status.ullTotalVirtual, status.ullTotalPhys / 1024);
  EXPECT_LT(status.ullAvailVirtual, status.ullTotalVirtual);
  EXPECT_EQ(status.ullAvailExtendedVirtual, 0u);
}

TEST(MemoryStatus, ExRequiresItsRecordLength) {
  MEMORYSTATUSEX status{};
  status.dwLength = 56;
  SetLastError(0);
  EXPECT_FALSE(GlobalMemoryStatusEx(&status));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(status.ullTotalPhys, 0u);
}

TEST(MemoryStatus, TheLoadIsTheShareOfPhysicalMemoryInUse) {
  FakeFacts facts;
  facts.memory.TotalPhys = 1000;
  facts.memory.AvailPhys = 251;  // 74.9 % in use: rounded down
  ScopedSystemFacts scope(facts);
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  EXPECT_EQ(status.dwMemoryLoad, 74u);

  facts.memory.TotalPhys = 0;
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  EXPECT_EQ(status.dwMemoryLoad, 0u);
}

TEST(MemoryStatus, TheOldCallCapsEveryFigureAtFourGiB) {
  FakeFacts facts;
  facts.memory = {16 * GiB, 12 * GiB, 20 * GiB, 3 * GiB, 128 * 1024 * GiB, 2 * GiB};
  ScopedSystemFacts scope(facts);
  MEMORYSTATUS status{};
  status.dwLength = 32;
  GlobalMemoryStatus(&status);
  EXPECT_EQ(status.dwLength, 56u);
  EXPECT_EQ(status.dwMemoryLoad, 25u);  // from the true figures
  EXPECT_EQ(status.dwTotalPhys, 0xFFFFFFFFu);
  EXPECT_EQ(status.dwTotalPhys >> 10, 4194303u);
  EXPECT_EQ(status.dwAvailPhys, 0xFFFFFFFFu);
  EXPECT_EQ(status.dwTotalPageFile, 0xFFFFFFFFu);
  EXPECT_EQ(status.dwAvailPageFile, 3 * GiB);
  EXPECT_EQ(status.dwTotalVirtual, 0xFFFFFFFFu);
  EXPECT_EQ(status.dwAvailVirtual, 2 * GiB);
}

// ---- Version record ------------------------------------------------------

TEST(VersionRecord, ParsesKernelReleases) {
  TVersionFacts v = VersionFromKernelRelease("6.1.0-28-amd64");
  EXPECT_EQ(v.Platform, VER_PLATFORM_POSIX);
  EXPECT_EQ(v.Major, 6);
  EXPECT_EQ(v.Minor, 1);
  EXPECT_EQ(v.Build, 0);
  EXPECT_EQ(v.CSDVersion, "28-amd64");

  v = VersionFromKernelRelease("5.15.167.4-microsoft-standard-WSL2");
  EXPECT_EQ(v.Major, 5);
  EXPECT_EQ(v.Minor, 15);
  EXPECT_EQ(v.Build, 167);
  EXPECT_EQ(v.CSDVersion, "4-microsoft-standard-WSL2");

  v = VersionFromKernelRelease("4.19");
  EXPECT_EQ(v.Major, 4);
  EXPECT_EQ(v.Minor, 19);
  EXPECT_EQ(v.Build, 0);
  EXPECT_EQ(v.CSDVersion, "");
}

TEST(VersionRecord, IsFilledFromThisKernelAtStartUp) {
  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  int major = -1, minor = -1;
  ASSERT_EQ(std::sscanf(names.release, "%d.%d", &major, &minor), 2);
  EXPECT_EQ(Win32Platform, 100);
  EXPECT_NE(Win32Platform, VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_NE(Win32Platform, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(Win32MajorVersion, major);
  EXPECT_EQ(Win32MinorVersion, minor);
  EXPECT_NE(String(names.release).find(Win32CSDVersion), String::npos);
}

TEST(VersionRecord, FollowsInstalledFactsAndComesBackAfter) {
  const int major = Win32MajorVersion;
  const String csd = Win32CSDVersion;
  {
    FakeFacts facts;
    ScopedSystemFacts scope(facts);
    EXPECT_EQ(Win32Platform, VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(Win32MajorVersion, 5);
    EXPECT_EQ(Win32MinorVersion, 1);
    EXPECT_EQ(Win32BuildNumber, 2600);
    EXPECT_EQ(Win32CSDVersion, " Service Pack 3 ");
    {
      FakeFacts inner;
      inner.version = {VER_PLATFORM_WIN32_WINDOWS, 4, 10, 0x040A08AE, "A"};
      ScopedSystemFacts innerScope(inner);
      EXPECT_EQ(Win32Platform, VER_PLATFORM_WIN32_WINDOWS);
      EXPECT_EQ(Win32BuildNumber, 0x040A08AE);
    }
    EXPECT_EQ(Win32Platform, VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(&CurrentSystemFacts(), &facts);
  }
  EXPECT_EQ(Win32Platform, VER_PLATFORM_POSIX);
  EXPECT_EQ(Win32MajorVersion, major);
  EXPECT_EQ(Win32CSDVersion, csd);
}

// ---- Processor -----------------------------------------------------------

TEST(SystemInfo, DescribesThisMachine) {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  EXPECT_EQ(info.dwPageSize, static_cast<DWORD>(sysconf(_SC_PAGESIZE)));
  EXPECT_EQ(info.dwNumberOfProcessors, static_cast<DWORD>(sysconf(_SC_NPROCESSORS_ONLN)));
  EXPECT_NE(info.dwActiveProcessorMask, 0u);
  EXPECT_LT(info.lpMinimumApplicationAddress, info.lpMaximumApplicationAddress);
  // This code and its stack lie inside the reported address range.
  EXPECT_LE(reinterpret_cast<uintptr_t>(info.lpMinimumApplicationAddress), reinterpret_cast<uintptr_t>(&info));
  EXPECT_GE(reinterpret_cast<uintptr_t>(info.lpMaximumApplicationAddress), reinterpret_cast<uintptr_t>(&info));
#if defined(__x86_64__)
  EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
  EXPECT_EQ(info.dwProcessorType, PROCESSOR_AMD_X8664);
  std::ifstream cpuinfo("/proc/cpuinfo");
  String line;
  int family = -1, model = -1;
  while (std::getline(cpuinfo, line) && (family < 0 || model < 0)) {
    if (line.rfind("cpu family", 0) == 0) family = std::stoi(line.substr(line.find(':') + 1));
    if (line.rfind("model\t", 0) == 0) model = std::stoi(line.substr(line.find(':') + 1));
  }
  EXPECT_EQ(info.wProcessorLevel, family);
  EXPECT_EQ(info.wProcessorRevision >> 8, model);
#endif
}

TEST(SystemInfo, ProcessorLevelComesFromTheFacts) {
  FakeFacts facts;
  for (WORD level : {3, 4, 5, 6, 15, 25}) {
    facts.level = level;
    ScopedSystemFacts scope(facts);
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    EXPECT_EQ(info.wProcessorLevel, level);
  }
}

// ---- Time ----------------------------------------------------------------

TEST(Time, SleepWaitsAtLeastTheTimeAsked) {
  const auto start = std::chrono::steady_clock::now();
  Sleep(30);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(Time, TheTimeStampCounterAdvancesAtAPlausibleRate) {
  const auto start = std::chrono::steady_clock::now();
  const ULONGLONG before = ReadTimeStampCounter();
  Sleep(100);
  const ULONGLONG after = ReadTimeStampCounter();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_GT(after, before);
  // A counter between 100 MHz and 10 GHz, however long the sleep took.
  const double hertz = static_cast<double>(after - before) / seconds;
  EXPECT_GT(hertz, 1e8);
  EXPECT_LT(hertz, 1e10);
}

// ---- Command line --------------------------------------------------------

TEST(CommandLine, ParametersOfAProgramStartedWithThem) {
  const String helper = test::HelperProgram("sysinfo_params_helper");
  ASSERT_TRUE(std::filesystem::exists(helper)) << helper;
  test::TestDir dir;
  const String output = dir.File("out.txt");
  const test::CommandRun run = test::RunProgram({helper, output, "two words", "", "\xC3\xBC"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(test::ReadFileBytes(output), "4\n" + helper + "\n" + output + "\ntwo words\n\n\xC3\xBC\n\n\n");
}

TEST(CommandLine, IndexesOutOfRangeGiveEmptyTexts) {
  EXPECT_EQ(ParamStr(0), std::filesystem::read_symlink("/proc/self/exe").string());
  EXPECT_EQ(ParamStr(-1), "");
  EXPECT_EQ(ParamStr(ParamCount() + 1), "");
}

}  // namespace
}  // namespace ztl
