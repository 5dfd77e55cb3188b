#include <ztlogger/ntlog/LogNT.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/Testing.h>
#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/Registry.h>

namespace ztl {
namespace {

class NTEventLog : public ::testing::Test {
 protected:
  void TearDown() override { os::SetEventLogTimeForTesting(0); }
  // A log component reading Application and writing under "Tester".
  std::unique_ptr<TZTNTEventLog> Make(const String& source = "Tester") {
    auto log = std::make_unique<TZTNTEventLog>(nullptr);
    log->SetSource(source);
    return log;
  }
  static void Write(const String& source, std::initializer_list<std::u16string> strings, uint32_t id = 1000) {
    const std::u16string name(source.begin(), source.end());
    HANDLE handle = RegisterEventSourceW(nullptr, name.c_str());
    ASSERT_NE(handle, nullptr);
    std::vector<LPCWSTR> pointers;
    for (const auto& s : strings) pointers.push_back(s.c_str());
    ASSERT_TRUE(ReportEventW(handle, EVENTLOG_INFORMATION_TYPE, 0, id, nullptr, static_cast<WORD>(pointers.size()), 0,
                             pointers.data(), nullptr));
    DeregisterEventSource(handle);
  }
  static void RegisterMessageFiles(const String& source, const String& files) {
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + source, true));
    registry.WriteString("EventMessageFile", files);
  }
  test::TestDir dir;
};

TEST_F(NTEventLog, StartsClosedWithNoRecord) {
  auto log = Make("");
  EXPECT_FALSE(log->Active());
  EXPECT_EQ(log->Log(), "Application");
  EXPECT_EQ(log->Server(), "");
  EXPECT_EQ(log->Source(), "");
  EXPECT_EQ(log->EventCount(), 0u);
  log->Open();
  EXPECT_EQ(log->EventSource(), "");
  EXPECT_EQ(log->EventID(), 0u);
  EXPECT_EQ(log->EventSID(), nullptr);
  EXPECT_EQ(log->EventTime(), 0.0);
  EXPECT_EQ(log->GetEventString(0), "");
  EXPECT_EQ(log->EventMessageText(), "");
}

TEST_F(NTEventLog, ReadsRecordsByPositionFromTheOldest) {
  auto log = Make();
  log->WriteToEventLog("first", EVENTLOG_WARNING_TYPE, 0x10005, 41);  // while closed
  log->WriteToEventLog(String(2000, 'w'), EVENTLOG_ERROR_TYPE, 2, 42);
  log->Open();
  ASSERT_EQ(log->EventCount(), 2u);
  log->ReadEvent(0);
  EXPECT_EQ(log->EventSource(), "Tester");
  EXPECT_FALSE(log->EventComputer().empty());
  EXPECT_EQ(log->EventID(), 41u);
  EXPECT_EQ(log->EventType(), EVENTLOG_WARNING_TYPE);
  ASSERT_EQ(log->EventStringCount(), 1u);
  EXPECT_EQ(log->GetEventString(0), "first");
  EXPECT_EQ(log->GetEventString(1), "");
  EXPECT_NE(log->EventSID(), nullptr);
  log->ReadEvent(1);
  EXPECT_EQ(log->GetEventString(0), String(2000, 'w'));  // the whole value

  // The current position is not read again: a log cleared meanwhile does
  // not show.
  HANDLE other = OpenEventLogW(nullptr, u"Application");
  ASSERT_TRUE(ClearEventLogW(other, nullptr));
  CloseEventLog(other);
  log->ReadEvent(1);
  EXPECT_EQ(log->EventID(), 42u);
  EXPECT_THROW(log->ReadEvent(0), EOSError);
  EXPECT_EQ(log->EventID(), 42u);
}

TEST_F(NTEventLog, FailedReadsRaiseAndKeepTheRecord) {
  auto log = Make();
  log->WriteToEventLog("only", EVENTLOG_INFORMATION_TYPE, 0, 7);
  EXPECT_THROW(log->ReadEvent(0), EOSError);  // closed
  log->Open();
  log->ReadEvent(0);
  try {
    log->ReadEvent(1);
    FAIL() << "read past the end";
  } catch (const EOSError& error) {
    EXPECT_NE(error.ErrorCode(), 0u);
  }
  EXPECT_EQ(log->GetEventString(0), "only");
}

TEST_F(NTEventLog, OpeningAnotherServerRaisesAndStaysClosed) {
  auto log = Make();
  log->SetServer("\\\\faraway-server");
  try {
    log->Open();
    FAIL() << "opened a remote log";
  } catch (const EOSError& error) {
    EXPECT_EQ(error.ErrorCode(), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_NE(error.Message().find("The RPC server is unavailable."), String::npos);
  }
  EXPECT_FALSE(log->Active());
}

TEST_F(NTEventLog, EventTimeIsUniversalDays) {
  auto log = Make();
  os::SetEventLogTimeForTesting(86400);
  log->WriteToEventLog("midnight", EVENTLOG_INFORMATION_TYPE, 0, 1);
  os::SetEventLogTimeForTesting(86400 + 43200);
  log->WriteToEventLog("noon", EVENTLOG_INFORMATION_TYPE, 0, 1);
  log->Open();
  log->ReadEvent(0);
  EXPECT_EQ(log->EventTime(), 25570.0);
  log->ReadEvent(1);
  EXPECT_EQ(log->EventTime(), 25570.5);
}

TEST_F(NTEventLog, ChangingTheLogReopens) {
  auto log = Make();
  log->WriteToEventLog("x", EVENTLOG_INFORMATION_TYPE, 0, 5);
  log->Open();
  log->ReadEvent(0);
  log->SetLog("Application");
  EXPECT_EQ(log->EventID(), 5u);  // same name: still open with its record
  log->SetLog("System");
  EXPECT_TRUE(log->Active());
  EXPECT_EQ(log->EventID(), 0u);  // reopened: no current record
  log->ReadEvent(0);
  EXPECT_EQ(log->EventID(), 5u);
  log->Close();
  EXPECT_EQ(log->EventID(), 0u);
  EXPECT_EQ(log->EventCount(), 0u);
}

class NTEventLogMessages : public NTEventLog {
 protected:
  void SetUp() override {
#if !defined(ZTL_TEST_MESSAGES_SECOND)
    GTEST_SKIP() << "message files not built: the mingw-w64 binutils are missing (scripts/deps installs them)";
#endif
  }
};

#if defined(ZTL_TEST_MESSAGES_SECOND)
// Only the second of the source's files holds id 1000; the environment
// names its folder.
TEST_F(NTEventLogMessages, ComposesTheTextFromTheFileThatHasIt) {
  const String second = ZTL_TEST_MESSAGES_SECOND;
  const String folder = second.substr(0, second.rfind('/'));
  setenv("ZTL_TEST_MESSAGE_FOLDER", folder.c_str(), 1);
  RegisterMessageFiles("Tester",
                       String(ZTL_TEST_MESSAGES_FIRST) + ";%ZTL_TEST_MESSAGE_FOLDER%" + second.substr(folder.size()));
  Write("Tester", {u"ann", u"host"});
  Write("Tester", {u"bob"});
  Write("Tester", {u"disk"}, 0xC0000100u);
  Write("Tester", {}, 4242);
  auto log = Make();
  log->Open();
  log->ReadEvent(0);
  EXPECT_EQ(log->EventMessageText(), "User ann logged on from host.");
  log->ReadEvent(1);
  EXPECT_EQ(log->EventMessageText(), "User bob logged on from %2.");
  log->ReadEvent(2);
  EXPECT_EQ(log->EventMessageText(), "Bad thing: disk");  // %0 left no line break: nothing is cut
  log->ReadEvent(3);
  EXPECT_EQ(log->EventMessageText(), "");
  unsetenv("ZTL_TEST_MESSAGE_FOLDER");
}

TEST_F(NTEventLogMessages, WrongValueTypeRaises) {
  TRegistry registry;
  registry.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(registry.OpenKey("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tester", true));
  registry.WriteInteger("EventMessageFile", 3);
  Write("Tester", {u"x"});
  auto log = Make();
  log->Open();
  log->ReadEvent(0);
  EXPECT_THROW(log->EventMessageText(), ERegistryException);
}
#endif

}  // namespace
}  // namespace ztl
