// The system information blocks of an exception report, in both log forms,
// on imaginary machines put in through the system facts.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/ChildChecks.h"
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/os/Windows.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {
namespace {

constexpr uint64_t KiB = 1024;
constexpr uint64_t GiB = uint64_t{1} << 30;

class FakeMachine : public SystemFacts {
 public:
  TVersionFacts version{VER_PLATFORM_WIN32_NT, 5, 1, 2600, ""};
  WORD level = 6;
  TMemoryFacts memory;
  String host = "workstation";
  String user = "alice";
  std::vector<TDisplayDeviceFacts> displays;

  TVersionFacts Version() const override { return version; }
  WORD ProcessorLevel() const override { return level; }
  TMemoryFacts Memory() const override { return memory; }
  String HostName() const override { return host; }
  String UserName() const override { return user; }
  std::vector<TDisplayDeviceFacts> DisplayDevices() const override { return displays; }
};

// A component in each log form; the facts are installed per test.
class Collectors : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetApplicationState();
    text_ = new TZTExceptionLog(Application);
    xml_ = new TZTExceptionLog(Application);
    xml_->SetFormatting(ztlfXML);
  }

  // The block of both forms: the text form is the XML form after the separator.
  template <typename Collect>
  void ExpectBlock(Collect collect, const String& block) {
    EXPECT_EQ(collect(*xml_), block);
    EXPECT_EQ(collect(*text_), "======\r\n" + block);
  }

  TZTExceptionLog* text_ = nullptr;
  TZTExceptionLog* xml_ = nullptr;
};

String OSInfoOf(const TVersionFacts& version, TZTExceptionLog& log) {
  FakeMachine machine;
  machine.version = version;
  ScopedSystemFacts scope(machine);
  return log.GetOSInfo();
}

// ---- Operating system ------------------------------------------------------

struct OSRow {
  TVersionFacts Version;
  const char* Block;  // without the separator; empty for an empty block
};

class OSInfoRows : public Collectors, public ::testing::WithParamInterface<OSRow> {};

TEST_P(OSInfoRows, NameAndBuild) {
  const OSRow& row = GetParam();
  const String block = row.Block;
  EXPECT_EQ(OSInfoOf(row.Version, *xml_), block);
  EXPECT_EQ(OSInfoOf(row.Version, *text_), block.empty() ? String() : "======\r\n" + block);
}

constexpr int W9x = VER_PLATFORM_WIN32_WINDOWS;
constexpr int NT = VER_PLATFORM_WIN32_NT;

INSTANTIATE_TEST_SUITE_P(
    WindowsFamily, OSInfoRows,
    ::testing::Values(
        // The high word of a 95/98/ME build number holds the version: only the low word counts.
        OSRow{{W9x, 4, 0, 0x040003B6, "B"}, "Microsoft Windows 95 OSR 2(build 950)"},
        OSRow{{W9x, 4, 9, 0x04090457, " \tB\r\n"}, "Microsoft Windows 95 OSR 2(build 1111)"},
        OSRow{{W9x, 4, 0, 0x040003B6, "b"}, "Microsoft Windows 95(build 950)"},
        OSRow{{W9x, 4, 0, 0x040003B6, " C "}, "Microsoft Windows 95(build 950)"},
        OSRow{{W9x, 4, 0, 0x040003B6, "BB"}, "Microsoft Windows 95(build 950)"},
        OSRow{{W9x, 4, 10, 0x040A08AE, " A "}, "Microsoft Windows 98 SE(build 2222)"},
        OSRow{{W9x, 4, 89, 0x045907CE, "A"}, "Microsoft Windows 98 SE(build 1998)"},
        OSRow{{W9x, 4, 10, 0x040A07CE, "a"}, "Microsoft Windows 98(build 1998)"},
        OSRow{{W9x, 4, 10, 0x040A07CE, "B"}, "Microsoft Windows 98(build 1998)"},
        OSRow{{W9x, 4, 90, 0x045A0BB8, "A"}, "Microsoft Winsows ME(build 3000)"},
        OSRow{{W9x, 4, 91, 0x045B0BB8, ""}, "(build 3000)"},
        OSRow{{NT, 4, 0, 1381, "Service Pack 6"}, "Microsoft Windows NT 4.0(build 1381)"},
        OSRow{{NT, 4, 7, 1381, ""}, "Microsoft Windows NT 4.0(build 1381)"},
        OSRow{{NT, 5, 0, 2195, ""}, "Microsoft Windows 2000(build 2195)"},
        OSRow{{NT, 5, 1, 2600, "Service Pack 3"}, "Microsoft Windows XP(build 2600)"},
        OSRow{{NT, 5, 2, 3790, ""}, "Microsoft Windows 2003(build 3790)"},
        OSRow{{NT, 5, 3, 3800, ""}, "(build 3800)"},
        OSRow{{NT, 6, 1, 7601, "Service Pack 1"}, "(build 7601)"},
        OSRow{{NT, 3, 51, 1057, ""}, "(build 1057)"},
        // The NT family's build number is used whole.
        OSRow{{NT, 10, 0, 0x40001, ""}, "(build 262145)"}));

INSTANTIATE_TEST_SUITE_P(OtherPlatforms, OSInfoRows,
                         ::testing::Values(OSRow{{VER_PLATFORM_WIN32s, 5, 1, 2600, "A"}, ""},
                                           OSRow{{VER_PLATFORM_POSIX, 6, 1, 42, "amd64"}, ""},
                                           OSRow{{3, 4, 0, 950, "B"}, ""}));

TEST_F(Collectors, ThisMachinesOSBlockIsEmpty) {
  EXPECT_EQ(text_->GetOSInfo(), "");
  EXPECT_EQ(xml_->GetOSInfo(), "");
}

// ---- Processor -------------------------------------------------------------

TEST_F(Collectors, ProcessorLevels) {
  const std::pair<WORD, const char*> levels[] = {{3, "80386"}, {4, "80486"},  {5, "Pentium"}, {6, "Pentium Pro"},
                                                 {15, "15"},   {0, "0"},      {2, "2"},       {7, "7"},
                                                 {25, "25"},   {65535, "65535"}};
  for (const auto& [level, block] : levels) {
    SCOPED_TRACE(level);
    FakeMachine machine;
    machine.level = level;
    ScopedSystemFacts scope(machine);
    ExpectBlock([](TZTExceptionLog& log) { return log.GetCPUInfo(false); }, block);
  }
}

// ---- Memory ----------------------------------------------------------------

TEST_F(Collectors, MemoryFiguresInKilobytesBeyondFourGiB) {
  FakeMachine machine;
  machine.memory.TotalPageFile = 40 * GiB + 1023;  // the remainder is dropped
  machine.memory.AvailPageFile = 20 * GiB + 5 * KiB;
  machine.memory.TotalVirtual = uint64_t{1} << 47;
  machine.memory.AvailVirtual = (uint64_t{1} << 47) - 300 * KiB * KiB;
  machine.memory.TotalPhys = 32 * GiB;
  machine.memory.AvailPhys = 8 * GiB;
  ScopedSystemFacts scope(machine);
  ExpectBlock([](TZTExceptionLog& log) { return log.GetMemoryInfo(); },
              "Total pagefile: 41943040 Kb\r\n"
              "Available pagefile: 20971525 Kb\r\n"
              "Total virtual memory: 137438953472 Kb\r\n"
              "Available virtual memory: 137438646272 Kb\r\n"
              "Total memory: 33554432 Kb\r\n"
              "Available memory: 8388608 Kb\r\n"
              "Memory in use: 75%");
}

TEST_F(Collectors, MemoryFiguresAtTheThirtyTwoBitEdgeAndNothingInUse) {
  FakeMachine machine;
  machine.memory.TotalPhys = 0xFFFFFFFFu;
  machine.memory.AvailPhys = 0xFFFFFFFFu;
  machine.memory.TotalPageFile = 0x100000000u;
  machine.memory.AvailPageFile = 1023;
  machine.memory.TotalVirtual = 0;
  machine.memory.AvailVirtual = 1024;
  ScopedSystemFacts scope(machine);
  ExpectBlock([](TZTExceptionLog& log) { return log.GetMemoryInfo(); },
              "Total pagefile: 4194304 Kb\r\n"
              "Available pagefile: 0 Kb\r\n"
              "Total virtual memory: 0 Kb\r\n"
              "Available virtual memory: 1 Kb\r\n"
              "Total memory: 4194303 Kb\r\n"
              "Available memory: 4194303 Kb\r\n"
              "Memory in use: 0%");
}

uint64_t MeminfoKb(const String& key) {
  std::ifstream in("/proc/meminfo");
  String name, unit;
  uint64_t kb = 0;
  while (in >> name >> kb) {
    std::getline(in, unit);
    if (name == key + ":") return kb;
  }
  return 0;
}

TEST_F(Collectors, ThisMachinesTotalMemory) {
  const String block = text_->GetMemoryInfo();
  EXPECT_NE(block.find("\r\nTotal memory: " + IntToStr(static_cast<int64_t>(MeminfoKb("MemTotal"))) + " Kb\r\n"),
            String::npos)
      << block;
  EXPECT_EQ(block.find("Total memory: 4194303 Kb"), String::npos) << "a capped figure";
}

// ---- Computer and user -----------------------------------------------------

TEST_F(Collectors, ComputerAndUser) {
  FakeMachine machine;
  machine.host = "build-server-0042.lab.example.org";
  machine.user = "J\xC3\xBCrgen";
  ScopedSystemFacts scope(machine);
  ExpectBlock([](TZTExceptionLog& log) { return log.GetComputerInfo(); },
              "Computer: BUILD-SERVER-00\r\nUser Name: J\xC3\xBCrgen");
}

TEST_F(Collectors, ComputerWithoutAUserKeepsItsLineBreak) {
  FakeMachine machine;
  machine.user = "";
  ScopedSystemFacts scope(machine);
  ExpectBlock([](TZTExceptionLog& log) { return log.GetComputerInfo(); }, "Computer: WORKSTATION\r\n");
}

String CommandOutput(const char* command) { return Trim(test::RunCommandLine(command, false).out); }

TEST_F(Collectors, ThisComputerAndUser) {
  String host = CommandOutput("hostname");
  ASSERT_FALSE(host.empty());
  host = UpperCase(host.substr(0, host.find('.'))).substr(0, 15);
  const String user = CommandOutput("id -un");
  ASSERT_FALSE(user.empty());
  EXPECT_EQ(text_->GetComputerInfo(), "======\r\nComputer: " + host + "\r\nUser Name: " + user);
}

// ---- Active form and control -----------------------------------------------

// A form that is not a TForm: the screen has an active custom form but no
// active TForm.
class TPanelWindow : public TCustomForm {
 public:
  explicit TPanelWindow(TComponent* AOwner) : TCustomForm(AOwner) {}
};

TEdit* AddEdit(TCustomForm* form, const String& name) {
  auto* edit = new TEdit(form);
  edit->SetName(name);
  edit->SetParent(form);
  edit->SetTabStop(true);
  return edit;
}

TEST_F(Collectors, FormAndControl) {
  auto* form = new TForm(Application);
  form->SetName("frmOrders");
  form->SetCaption("Orders, open");
  TEdit* edit = AddEdit(form, "edtCustomer");
  form->Show();
  ASSERT_EQ(Screen->ActiveControl(), edit);
  ExpectBlock([](TZTExceptionLog& log) { return log.GetActiveControlDetails(); },
              "Active Form: frmOrders, Orders, open\r\nActive Control: edtCustomer");
}

TEST_F(Collectors, FormWithoutAControl) {
  auto* form = new TForm(Application);
  form->SetName("frmAbout");
  form->Show();
  ASSERT_EQ(Screen->ActiveForm(), form);
  ASSERT_EQ(Screen->ActiveControl(), nullptr);
  ExpectBlock([](TZTExceptionLog& log) { return log.GetActiveControlDetails(); }, "Active Form: frmAbout, ");
}

TEST_F(Collectors, ControlWithoutAForm) {
  auto* window = new TPanelWindow(Application);
  window->SetName("Toolbox");
  window->SetCaption("Tools");
  AddEdit(window, "edtSearch");
  window->Show();
  ASSERT_EQ(Screen->ActiveForm(), nullptr);
  ASSERT_NE(Screen->ActiveControl(), nullptr);
  ExpectBlock([](TZTExceptionLog& log) { return log.GetActiveControlDetails(); }, "Active Control: edtSearch");
}

TEST_F(Collectors, NeitherFormNorControl) {
  ASSERT_EQ(Screen->ActiveCustomForm(), nullptr);
  EXPECT_EQ(text_->GetActiveControlDetails(), "");
  EXPECT_EQ(xml_->GetActiveControlDetails(), "");
}

// ---- Display devices -------------------------------------------------------

TEST_F(Collectors, TwoDisplayDevices) {
  FakeMachine machine;
  machine.displays = {
      {"\\\\.\\DISPLAY1", "Intel(R) UHD Graphics 620", DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | DISPLAY_DEVICE_PRIMARY_DEVICE,
       "PCI\\VEN_8086&DEV_5917", "", {}},
      // Listed whatever its state.
      {"\\\\.\\DISPLAY2", "Intel(R) UHD Graphics 620", 0, "PCI\\VEN_8086&DEV_5917", "", {}},
  };
  ScopedSystemFacts scope(machine);
  ExpectBlock([](TZTExceptionLog& log) { return log.GetVideoCardInfo(); },
              "Device: \\\\.\\DISPLAY1  Name: Intel(R) UHD Graphics 620\r\n"
              "Device: \\\\.\\DISPLAY2  Name: Intel(R) UHD Graphics 620");
}

TEST_F(Collectors, NoDisplayDevices) {
  FakeMachine machine;
  ScopedSystemFacts scope(machine);
  EXPECT_EQ(text_->GetVideoCardInfo(), "");
  EXPECT_EQ(xml_->GetVideoCardInfo(), "");
}

// ---- Application -----------------------------------------------------------

String HelperPath() { return test::HelperProgram("exceptionlog_details_helper"); }

// Runs the details helper with the given parameters; returns what it printed:
// the text form, a null, the XML form.
String DetailsFromHelper(std::vector<String> parameters) {
  parameters.insert(parameters.begin(), HelperPath());
  const test::CommandRun run = test::RunProgram(parameters);
  if (run.status != 0) return "helper failed: " + run.out + run.err;
  return run.out;
}

TEST(ApplicationDetails, WithoutParametersTheBlockEndsWithTheTitle) {
  const String block = "EXE file name: " + HelperPath() + "\r\nApplication Title:Order Entry";
  EXPECT_EQ(DetailsFromHelper({}), "======\r\n" + block + String(1, '\0') + block);
}

TEST(ApplicationDetails, EachParameterOnItsOwnLine) {
  const String block = "EXE file name: " + HelperPath() +
                       "\r\nApplication Title:Order Entry\r\nParameters: \r\n/import\r\nC:\\data\\orders 2024.csv";
  EXPECT_EQ(DetailsFromHelper({"/import", "C:\\data\\orders 2024.csv"}), "======\r\n" + block + String(1, '\0') + block);
}

TEST(ApplicationDetails, AnEmptyParameterIsAnEmptyLine) {
  const String block = "EXE file name: " + HelperPath() + "\r\nApplication Title:Order Entry\r\nParameters: \r\n\r\n-v";
  EXPECT_EQ(DetailsFromHelper({"", "-v"}), "======\r\n" + block + String(1, '\0') + block);
}

// ---- Clock rate ------------------------------------------------------------

// The time-stamp counter's rate in MHz, measured here over wall-clock time.
double ReferenceMHz() {
  const auto start = std::chrono::steady_clock::now();
  const ULONGLONG first = ReadTimeStampCounter();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const ULONGLONG last = ReadTimeStampCounter();
  const double micros = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  return static_cast<double>(last - first) / micros;
}

TEST_F(Collectors, ClockRateTakesHalfASecondAndIsThisMachines) {
  const double reference = ReferenceMHz();
  const auto start = std::chrono::steady_clock::now();
  const String block = text_->GetCPUInfo(true);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(510));
  ASSERT_EQ(block.substr(0, 8), "======\r\n");
  const double mhz = StrToFloat(block.substr(8));
  // Sleep may overrun, so the figure can only be too high.
  EXPECT_GT(mhz, reference * 0.97) << block;
  EXPECT_LT(mhz, reference * 2.0) << block;

  const String xml = xml_->GetCPUInfo(true);
  EXPECT_EQ(xml.find("======"), String::npos);
  EXPECT_GT(StrToFloat(xml), reference * 0.97);
}

int NiceOfThisThread() {
  errno = 0;
  return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
}

// Lowers the priorities, measures, and checks both are back, in the services
// and in the system.
int MeasureAtLowPriority() {
  CHILD_CHECK(SetPriorityClass(GetCurrentProcess(), BELOW_NORMAL_PRIORITY_CLASS));
  CHILD_CHECK(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST));
  const int nice = NiceOfThisThread();
  TZTExceptionLog log(nullptr);
  const String block = log.GetCPUInfo(true);
  CHILD_CHECK(block.size() > 8 && StrToFloat(block.substr(8)) > 1.0);
  CHILD_CHECK(GetPriorityClass(GetCurrentProcess()) == BELOW_NORMAL_PRIORITY_CLASS);
  CHILD_CHECK(GetThreadPriority(GetCurrentThread()) == THREAD_PRIORITY_LOWEST);
  CHILD_CHECK(NiceOfThisThread() == nice);
  return 0;
}

// Priority changes happen in a child process, as one that dropped its rights
// cannot undo them.
TEST(ClockRate, LeavesThePrioritiesAsTheyWere) {
  test::ExpectPassesInChild(MeasureAtLowPriority);
}

TEST(ClockRate, LeavesThePrioritiesAsTheyWereWhenRaisingThemIsRefused) {
  test::ExpectPassesInChild([] {
    if (geteuid() == 0) CHILD_CHECK(setuid(65534) == 0);
    return MeasureAtLowPriority();
  });
}

}  // namespace
}  // namespace ztl
