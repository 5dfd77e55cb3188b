// Event entries to syslog: the RFC 5424 line, and what ReportEventW sends
// while a log's option is on, read from a datagram socket of the test's own.
#include <ztlogger/platform/os/eventlog/Syslog.h>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/eventlog/Forward.h>

namespace {

TEST(Syslog, LineHasEachFieldInPlaceWithHeadersSanitisedAndValuesEscaped) {
  setenv("TZ", "ZTL-02:30", 1);  // 2 hours 30 minutes east of UTC
  tzset();
  ztl::os::SyslogMessage message;
  message.severity = 3;
  message.seconds = 86400;
  message.microseconds = 42;
  message.hostName = "host";
  message.appName = "My Tool \xC3\xA9" + std::string(60, 'x');
  message.procId = "77";
  message.msgId = "1000";
  message.sdId = "event@32473";
  message.params = {{"value", "a\"b\\c]d"}};
  message.text = "text with \"quotes\" ]";
  EXPECT_EQ(ztl::os::SyslogLine(message),
            "<11>1 1970-01-02T02:30:00.000042+02:30 host My_Tool___" + std::string(38, 'x') +
                " 77 1000 [event@32473 value=\"a\\\"b\\\\c\\]d\"] text with \"quotes\" ]");
  unsetenv("TZ");
  tzset();
  message = {};
  const std::string line = ztl::os::SyslogLine(message);
  EXPECT_EQ(line.substr(0, 4), "<14>");
  EXPECT_EQ(line.substr(line.size() - 10), " - - - - -") << "absent fields and no structured data";
}

TEST(Syslog, LongTextIsCutToTheLimitBetweenCharacters) {
  ztl::os::SyslogMessage message;
  for (int i = 0; i < 40000; ++i) message.text += "\xC3\xA9";
  const std::string line = ztl::os::SyslogLine(message);
  ASSERT_LE(line.size(), ztl::os::kMaxSyslogLine);
  EXPECT_GT(line.size(), ztl::os::kMaxSyslogLine - 2);
  EXPECT_EQ(line.substr(line.size() - 2), "\xC3\xA9");
}

// A log's entries while a datagram socket in the test's folder stands for
// the syslog socket.
class SyslogForwarding : public ::testing::Test {
 protected:
  void SetUp() override {
    socketPath_ = dir_.File("log.sock");
    setenv("ZTL_SYSLOG_SOCKET", socketPath_.c_str(), 1);
    source_ = RegisterEventSourceW(nullptr, u"Forwarded");
    ASSERT_NE(source_, nullptr);
  }
  void TearDown() override {
    if (source_) DeregisterEventSource(source_);
    if (receiver_ >= 0) ::close(receiver_);
    unsetenv("ZTL_SYSLOG_SOCKET");
  }
  void Listen() {
    receiver_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(receiver_, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath_.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(receiver_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  }
  BOOL Report(WORD type, std::u16string first, std::u16string second) {
    LPCWSTR strings[] = {first.c_str(), second.c_str()};
    return ReportEventW(source_, type, 3, 7, nullptr, 2, 0, strings, nullptr);
  }
  // The datagram waiting, or "" when none: the send is over when
  // ReportEventW returns.
  std::string Received() {
    char buffer[4096];
    const ssize_t size = ::recv(receiver_, buffer, sizeof buffer, MSG_DONTWAIT);
    return size > 0 ? std::string(buffer, static_cast<size_t>(size)) : std::string();
  }

  ztl::test::TestDir dir_;
  std::string socketPath_;
  HANDLE source_ = nullptr;
  int receiver_ = -1;
};

TEST_F(SyslogForwarding, EntriesGoOutWhileTheOptionIsOnFromTheNextEntryOfTheSameHandle) {
  Listen();
  ASSERT_TRUE(Report(EVENTLOG_WARNING_TYPE, u"off", u"yet"));
  EXPECT_EQ(Received(), "");

  ASSERT_EQ(ztl::os::SetEventLogForwarding(u"Application", true), ERROR_SUCCESS);
  ASSERT_TRUE(Report(EVENTLOG_AUDIT_SUCCESS, u"ann", u"bob"));
  const std::string line = Received();
  EXPECT_EQ(line.substr(0, 6), "<13>1 ") << line;
  EXPECT_NE(line.find(" Forwarded " + std::to_string(::getpid()) +
                      " 7 [event@32473 log=\"Application\" category=\"3\" record=\"2\"] ann bob"),
            std::string::npos)
      << line;

  ASSERT_EQ(ztl::os::SetEventLogForwarding(u"Application", false), ERROR_SUCCESS);
  ASSERT_TRUE(Report(EVENTLOG_ERROR_TYPE, u"off", u"again"));
  EXPECT_EQ(Received(), "");
  EXPECT_EQ(ztl::os::EventLogForwarding(u"Application").failures, 0u);
}

TEST_F(SyslogForwarding, AFailedSendKeepsTheEntryAndIsCountedUntilTurnedOnAgain) {
  ASSERT_EQ(ztl::os::SetEventLogForwarding(u"Application", true), ERROR_SUCCESS);
  ASSERT_TRUE(Report(EVENTLOG_ERROR_TYPE, u"nobody", u"listens"));
  ASSERT_TRUE(Report(EVENTLOG_ERROR_TYPE, u"still", u"nobody"));
  DWORD records = 0;
  ASSERT_TRUE(GetNumberOfEventLogRecords(source_, &records));
  EXPECT_EQ(records, 2u);
  ztl::os::SyslogForwarding state = ztl::os::EventLogForwarding(u"Application");
  EXPECT_TRUE(state.on);
  EXPECT_EQ(state.failures, 2u);
  EXPECT_EQ(state.lastError, ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(ztl::os::SetEventLogForwarding(u"Application", true), ERROR_SUCCESS);
  state = ztl::os::EventLogForwarding(u"Application");
  EXPECT_EQ(state.failures, 0u);
  EXPECT_EQ(state.lastError, 0u);
}

}  // namespace
