// Event entries forwarded to a real syslog daemon: rsyslogd, started on a
// socket in the test's own folder, parses each RFC 5424 message and writes
// its fields to a file, one line a message.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/SysInfo.h>
#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/rtl/Registry.h>

namespace {

namespace fs = std::filesystem;
using ztl::test::RunCommandLine;
using ztl::test::ShellQuoted;

std::string FindRsyslogd() {
  std::string path = RunCommandLine("command -v rsyslogd || command -v /usr/sbin/rsyslogd", false).out;
  while (!path.empty() && path.back() == '\n') path.pop_back();
  return path;
}

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 200; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

// rsyslogd in the foreground on dir's "log.sock", writing the parsed fields
// of the user facility's messages to "fields.log"; stopped on destruction.
class Rsyslogd {
 public:
  Rsyslogd(const std::string& program, const ztl::test::TestDir& dir)
      : socket_(dir.File("log.sock")), pidFile_(dir.File("rsyslogd.pid")), output_(dir.File("fields.log")) {
    const std::string config = dir.File("rsyslog.conf");
    ztl::test::WriteFileBytes(
        config, "global(workDirectory=\"" + dir.Path() +
                    "\")\n"
                    "module(load=\"imuxsock\" SysSock.Use=\"off\")\n"
                    "input(type=\"imuxsock\" Socket=\"" +
                    socket_ +
                    "\" UseSpecialParser=\"off\")\n"
                    "template(name=\"fields\" type=\"string\" string=\"%app-name%|%msgid%|%syslogseverity%|"
                    "%structured-data%|%procid%|%hostname%|%msg%\\n\")\n"
                    "if $syslogfacility-text == \"user\" then action(type=\"omfile\" file=\"" +
                    output_ + "\" template=\"fields\")\n");
    RunCommandLine("(" + ShellQuoted(program) + " -n -f " + ShellQuoted(config) + " -i " + ShellQuoted(pidFile_) +
                   " >" + ShellQuoted(dir.File("rsyslogd.out")) + " 2>&1 </dev/null &)");
    started_ = WaitFor([&] { return fs::exists(socket_) && fs::exists(pidFile_); });
    if (!started_) failure_ = ztl::test::ReadFileBytes(dir.File("rsyslogd.out"));
  }
  ~Rsyslogd() {
    const std::string pid = ztl::test::ReadFileBytes(pidFile_);
    if (pid.empty()) return;
    RunCommandLine("kill " + ShellQuoted(pid.substr(0, pid.find('\n'))));
    if (!WaitFor([&] { return !fs::exists(pidFile_); }))
      RunCommandLine("kill -9 " + ShellQuoted(pid.substr(0, pid.find('\n'))));
  }
  bool Started() const { return started_; }
  const std::string& Failure() const { return failure_; }
  const std::string& Socket() const { return socket_; }

  // The lines written, once there are count of them.
  std::vector<std::string> Lines(size_t count) const {
    std::vector<std::string> lines;
    WaitFor([&] {
      lines.clear();
      std::istringstream text(ztl::test::ReadFileBytes(output_));
      for (std::string line; std::getline(text, line);) lines.push_back(line);
      return lines.size() >= count;
    });
    return lines;
  }

 private:
  const std::string socket_, pidFile_, output_;
  bool started_ = false;
  std::string failure_;
};

class SyslogEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string program = FindRsyslogd();
    if (program.empty()) GTEST_SKIP() << "rsyslogd is not installed (Debian package rsyslog, see scripts/deps)";
    daemon_ = std::make_unique<Rsyslogd>(program, dir_);
    ASSERT_TRUE(daemon_->Started()) << daemon_->Failure();
    setenv("ZTL_SYSLOG_SOCKET", daemon_->Socket().c_str(), 1);
    ASSERT_EQ(Evt("forward on Application").status, 0);
  }
  void TearDown() override {
    unsetenv("ZTL_SYSLOG_SOCKET");
    daemon_.reset();
  }
  static ztl::test::CommandRun Evt(const std::string& arguments) {
    return RunCommandLine(std::string(ZTL_EVT_PATH) + " " + arguments);
  }
  static void Report(const char16_t* source, WORD type, WORD category, DWORD id, std::vector<std::u16string> strings) {
    HANDLE h = RegisterEventSourceW(nullptr, source);
    ASSERT_NE(h, nullptr);
    std::vector<LPCWSTR> pointers;
    for (const auto& s : strings) pointers.push_back(s.c_str());
    EXPECT_TRUE(
        ReportEventW(h, type, category, id, nullptr, static_cast<WORD>(pointers.size()), 0, pointers.data(), nullptr));
    DeregisterEventSource(h);
  }

  ztl::test::TestDir dir_;
  std::unique_ptr<Rsyslogd> daemon_;
};

TEST_F(SyslogEndToEnd, EntriesOfReportEventWAndOfTheToolArriveWithTheirFields) {
  Report(u"In Process", EVENTLOG_WARNING_TYPE, 5, 3001, {u"first", u"second"});
  ASSERT_EQ(Evt("write --source Tool --id 42 --type error --category 9 'say \"hi\" ]' x").status, 0);
  const std::vector<std::string> lines = daemon_->Lines(2);
  ASSERT_EQ(lines.size(), 2u);
  const std::string host = ztl::CurrentSystemFacts().HostName();
  EXPECT_EQ(lines[0], "In_Process|3001|4|[event@32473 log=\"Application\" category=\"5\" record=\"1\"]|" +
                          std::to_string(::getpid()) + "|" + host + "|first second");
  EXPECT_EQ(lines[1].substr(0, lines[1].find("]|") + 1),
            "Tool|42|3|[event@32473 log=\"Application\" category=\"9\" record=\"2\"]");
  EXPECT_EQ(lines[1].substr(lines[1].rfind('|')), "|say \"hi\" ] x");
#if defined(ZTL_TEST_MESSAGES_SECOND)
  // A source with a message file: its text, with the strings inserted.
  ztl::TRegistry registry;
  registry.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(registry.OpenKey("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tool", true));
  registry.WriteString("EventMessageFile", ztl::String(ZTL_TEST_MESSAGES_FIRST) + ";" + ZTL_TEST_MESSAGES_SECOND);
  Report(u"Tool", EVENTLOG_AUDIT_SUCCESS, 0, 1000, {u"ann", u"a \"b\""});
  const std::vector<std::string> more = daemon_->Lines(3);
  ASSERT_EQ(more.size(), 3u);
  EXPECT_EQ(more[2].substr(0, 12), "Tool|1000|5|") << more[2];
  EXPECT_EQ(more[2].substr(more[2].rfind('|')), "|User ann logged on from a \"b\".");
#endif
}

}  // namespace
