#include <ztlogger/platform/os/eventlog/Api.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/SysInfo.h>
#include <ztlogger/platform/os/Testing.h>
#include <ztlogger/platform/os/registry/Api.h>

namespace {

using Bytes = std::vector<BYTE>;

std::u16string TextAt(const Bytes& record, size_t offset) {
  std::u16string text;
  for (size_t i = offset; i + 1 < record.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(record[i] | record[i + 1] << 8);
    if (c == 0) break;
    text += c;
  }
  return text;
}

EVENTLOGRECORD Head(const Bytes& record) {
  EVENTLOGRECORD head;
  std::memcpy(&head, record.data(), sizeof head);
  return head;
}

class EventLog : public ::testing::Test {
 protected:
  void TearDown() override {
    for (HANDLE h : handles) CloseEventLog(h);
  }
  HANDLE Open(const char16_t* log = u"Application") {
    HANDLE h = OpenEventLogW(nullptr, log);
    EXPECT_NE(h, nullptr) << GetLastError();
    handles.push_back(h);
    return h;
  }
  HANDLE Source(const char16_t* source) {
    HANDLE h = RegisterEventSourceW(nullptr, source);
    EXPECT_NE(h, nullptr) << GetLastError();
    handles.push_back(h);
    return h;
  }
  static BOOL Report(HANDLE h, std::vector<std::u16string> strings, DWORD id = 7, const Bytes& data = {},
                     PSID sid = nullptr) {
    std::vector<LPCWSTR> pointers;
    for (const auto& s : strings) pointers.push_back(s.c_str());
    return ReportEventW(h, EVENTLOG_WARNING_TYPE, 3, id, sid, static_cast<WORD>(pointers.size()),
                        static_cast<DWORD>(data.size()), pointers.data(),
                        data.empty() ? nullptr : const_cast<BYTE*>(data.data()));
  }
  // One record read by seek.
  static Bytes Seek(HANDLE h, DWORD number) {
    BYTE probe;
    DWORD read = 0, needed = 0;
    EXPECT_FALSE(ReadEventLogW(h, EVENTLOG_SEEK_READ | EVENTLOG_FORWARDS_READ, number, &probe, 0, &read, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    Bytes record(needed);
    EXPECT_TRUE(
        ReadEventLogW(h, EVENTLOG_SEEK_READ | EVENTLOG_FORWARDS_READ, number, record.data(), needed, &read, &needed));
    EXPECT_EQ(read, record.size());
    return record;
  }
  static DWORD Count(HANDLE h) {
    DWORD count = 0;
    EXPECT_TRUE(GetNumberOfEventLogRecords(h, &count));
    return count;
  }
  static DWORD Oldest(HANDLE h) {
    DWORD oldest = 0;
    EXPECT_TRUE(GetOldestEventLogRecord(h, &oldest));
    return oldest;
  }

  ztl::test::TestDir dir;
  std::vector<HANDLE> handles;
};

// The fields, strings, SID, data, padding and trailing length of records
// as the record layout places them.
TEST_F(EventLog, RecordsHaveTheRecordLayout) {
  HANDLE source = Source(u"LayoutTest");
  const BYTE sid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};  // S-1-5-32-544
  const Bytes data = {1, 2, 3, 4, 5};
  const DWORD before = static_cast<DWORD>(std::time(nullptr));
  ASSERT_TRUE(Report(source, {}));
  std::vector<std::u16string> many;
  for (int i = 0; i < 40; ++i) many.push_back(u"s" + std::u16string(static_cast<size_t>(i), u'x'));
  ASSERT_TRUE(Report(source, many, 0xC0000100u));
  ASSERT_TRUE(Report(source, {u"one", u""}, 9, data, const_cast<BYTE*>(sid)));
  const DWORD after = static_cast<DWORD>(std::time(nullptr));

  char16_t computer[256];
  DWORD size = 256;
  ASSERT_TRUE(GetComputerNameW(computer, &size));
  HANDLE log = Open();
  ASSERT_EQ(Count(log), 3u);
  const DWORD first = Oldest(log);
  EXPECT_EQ(first, 1u);
  for (DWORD n = 0; n < 3; ++n) {
    const Bytes record = Seek(log, first + n);
    const EVENTLOGRECORD head = Head(record);
    EXPECT_EQ(head.Length, record.size());
    EXPECT_EQ(head.Length % 4, 0u);
    DWORD trailing;
    std::memcpy(&trailing, record.data() + record.size() - 4, 4);
    EXPECT_EQ(trailing, head.Length);
    EXPECT_EQ(head.Reserved, 0x654C664Cu);
    EXPECT_EQ(head.RecordNumber, first + n);
    EXPECT_GE(head.TimeGenerated, before);
    EXPECT_LE(head.TimeGenerated, after);
    EXPECT_EQ(head.EventType, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(head.EventCategory, 3);
    EXPECT_EQ(TextAt(record, 56), u"LayoutTest");
    const size_t computerAt = 56 + (std::u16string(u"LayoutTest").size() + 1) * 2;
    EXPECT_EQ(TextAt(record, computerAt), std::u16string(computer, size));
    EXPECT_EQ(head.UserSidOffset % 4, 0u);
    EXPECT_GE(head.UserSidOffset, computerAt + (size + 1) * 2);
    EXPECT_LT(head.UserSidOffset, computerAt + (size + 1) * 2 + 4);
  }
  const EVENTLOGRECORD bare = Head(Seek(log, first));
  EXPECT_EQ(bare.NumStrings, 0);
  EXPECT_EQ(bare.UserSidLength, 0u);
  EXPECT_EQ(bare.StringOffset, bare.UserSidOffset);
  EXPECT_EQ(bare.DataLength, 0u);
  EXPECT_EQ(bare.DataOffset, bare.StringOffset);
  EXPECT_EQ(bare.Length, bare.DataOffset + 4);

  const Bytes manyRecord = Seek(log, first + 1);
  const EVENTLOGRECORD manyHead = Head(manyRecord);
  EXPECT_EQ(manyHead.EventID, 0xC0000100u);
  ASSERT_EQ(manyHead.NumStrings, 40);
  size_t at = manyHead.StringOffset;
  for (const auto& expected : many) {
    EXPECT_EQ(TextAt(manyRecord, at), expected);
    at += (expected.size() + 1) * 2;
  }
  EXPECT_EQ(manyHead.DataOffset, at);

  const Bytes full = Seek(log, first + 2);
  const EVENTLOGRECORD head = Head(full);
  EXPECT_EQ(head.UserSidLength, sizeof sid);
  EXPECT_EQ(std::memcmp(full.data() + head.UserSidOffset, sid, sizeof sid), 0);
  EXPECT_EQ(head.StringOffset, head.UserSidOffset + sizeof sid);
  EXPECT_EQ(TextAt(full, head.StringOffset), u"one");
  EXPECT_EQ(TextAt(full, head.StringOffset + 8), u"");
  EXPECT_EQ(head.DataOffset, head.StringOffset + 10);
  ASSERT_EQ(head.DataLength, data.size());
  EXPECT_EQ(Bytes(full.begin() + head.DataOffset, full.begin() + head.DataOffset + 5), data);
  EXPECT_EQ(head.Length, ((head.DataOffset + 5 + 3) & ~3u) + 4);
}

TEST_F(EventLog, ReadsWholeRecordsSequentiallyBothWays) {
  HANDLE source = Source(u"ReadTest");
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(Report(source, {u"entry " + std::u16string(1, u'0' + i)}, 100 + i));
  HANDLE log = Open();
  const DWORD size = static_cast<DWORD>(Seek(Open(), 1).size());  // all five are the same size

  // Two and a half records' room gives two whole ones, then two, then one.
  std::vector<BYTE> buffer(size * 5 / 2);
  DWORD read = 0, needed = 0;
  std::vector<DWORD> ids;
  while (ReadEventLogW(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0, buffer.data(),
                       static_cast<DWORD>(buffer.size()), &read, &needed)) {
    EXPECT_LE(read, 2 * size);
    for (DWORD at = 0; at < read; at += size) ids.push_back(Head(Bytes(buffer.begin() + at, buffer.end())).EventID);
  }
  EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
  EXPECT_EQ(ids, (std::vector<DWORD>{100, 101, 102, 103, 104}));

  HANDLE backwards = Open();
  ids.clear();
  while (ReadEventLogW(backwards, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ, 0, buffer.data(), size, &read,
                       &needed))
    ids.push_back(Head(Bytes(buffer.begin(), buffer.end())).EventID);
  EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
  EXPECT_EQ(ids, (std::vector<DWORD>{104, 103, 102, 101, 100}));

  // A seek backwards from record 3 reads 3, then 2 and 1 in one buffer.
  ASSERT_TRUE(ReadEventLogW(log, EVENTLOG_SEEK_READ | EVENTLOG_BACKWARDS_READ, 3, buffer.data(), size, &read, &needed));
  EXPECT_EQ(Head(Bytes(buffer.begin(), buffer.end())).RecordNumber, 3u);
}

TEST_F(EventLog, ReportsTheErrorsOfBadReads) {
  HANDLE source = Source(u"ErrorTest");
  ASSERT_TRUE(Report(source, {u"only"}));
  HANDLE log = Open();
  BYTE buffer[4096];
  DWORD read = 77, needed = 77;
  for (DWORD flags : {0u, 1u, 2u, 4u, 3u | 4u, 1u | 12u}) {
    EXPECT_FALSE(ReadEventLogW(log, flags, 1, buffer, sizeof buffer, &read, &needed)) << flags;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << flags;
  }
  EXPECT_EQ(read, 77u);
  EXPECT_FALSE(ReadEventLogW(nullptr, 6, 1, buffer, sizeof buffer, &read, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReadEventLogW(log, 6, 0, buffer, sizeof buffer, &read, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(ReadEventLogW(log, 6, 2, buffer, sizeof buffer, &read, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  ASSERT_TRUE(ReadEventLogW(log, 5, 0, buffer, sizeof buffer, &read, &needed));
  EXPECT_EQ(needed, 0u);
  EXPECT_FALSE(ReadEventLogW(log, 5, 0, buffer, sizeof buffer, &read, &needed));
  EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
  EXPECT_FALSE(ReadEventLogW(log, 6, 1, buffer, 56, &read, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(read, 0u);
  EXPECT_GT(needed, 56u);
}

TEST_F(EventLog, OpensLocalLogsOnly) {
  EXPECT_EQ(OpenEventLogW(u"\\\\faraway-server", u"Application"), nullptr);
  EXPECT_EQ(GetLastError(), RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(OpenEventLogW(nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  char16_t computer[256];
  DWORD size = 256;
  ASSERT_TRUE(GetComputerNameW(computer, &size));
  HANDLE own = OpenEventLogW(computer, u"System");
  ASSERT_NE(own, nullptr);
  EXPECT_TRUE(CloseEventLog(own));
  EXPECT_FALSE(CloseEventLog(own));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegisterEventSourceW(nullptr, u"Security"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  // An unknown name opens Application, which gets what an unknown source writes.
  ASSERT_TRUE(Report(Source(u"NoSuchSource"), {u"x"}));
  EXPECT_EQ(Count(Open(u"NoSuchLog")), 1u);
  EXPECT_EQ(Count(Open(u"System")), 0u);
}

TEST_F(EventLog, RoutesSourcesThroughTheirRegistryKeys) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Custom\\MyApp", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_TRUE(Report(Source(u"MyApp"), {u"routed"}));
  EXPECT_EQ(Count(Open(u"Custom")), 1u);
  EXPECT_EQ(Count(Open(u"Application")), 0u);
  const auto names = ztl::os::EventLogNames();
  EXPECT_EQ(names, (std::vector<ztl::String>{"Application", "Custom", "Security", "System"}));
}

TEST_F(EventLog, ClearingKeepsNumbersAndTellsOtherReaders) {
  HANDLE source = Source(u"ClearTest");
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Report(source, {u"before"}));
  HANDLE reader = Open();
  HANDLE clearer = Open();
  const std::string backup = dir.File("backup.db");
  const std::u16string backupName(backup.begin(), backup.end());
  ASSERT_TRUE(ClearEventLogW(clearer, backupName.c_str()));
  EXPECT_FALSE(ClearEventLogW(clearer, backupName.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(Count(clearer), 0u);
  EXPECT_EQ(Oldest(clearer), 0u);
  ASSERT_TRUE(Report(source, {u"after"}));
  EXPECT_EQ(Oldest(clearer), 4u);
  BYTE buffer[4096];
  DWORD read, needed;
  EXPECT_FALSE(ReadEventLogW(reader, 5, 0, buffer, sizeof buffer, &read, &needed));
  EXPECT_EQ(GetLastError(), ERROR_EVENTLOG_FILE_CHANGED);
  EXPECT_TRUE(ReadEventLogW(clearer, 5, 0, buffer, sizeof buffer, &read, &needed));
}

// A backup opens read-only, with the records the log held when cleared; what
// is no backup, a live log's database included, is refused.
TEST_F(EventLog, BackupsOpenForReadingOnly) {
  HANDLE source = Source(u"BackupTest");
  for (const char16_t* text : {u"one", u"two", u"three"}) ASSERT_TRUE(Report(source, {text}));
  const std::string backup = dir.File("backup.db");
  const std::u16string backupName(backup.begin(), backup.end());
  ASSERT_TRUE(ClearEventLogW(Open(), backupName.c_str()));
  ASSERT_TRUE(Report(source, {u"after the clear"}));

  HANDLE copy = OpenBackupEventLogW(nullptr, backupName.c_str());
  ASSERT_NE(copy, nullptr) << GetLastError();
  handles.push_back(copy);
  EXPECT_EQ(Count(copy), 3u);
  EXPECT_EQ(Oldest(copy), 1u);
  const Bytes second = Seek(copy, 2);
  EXPECT_EQ(TextAt(second, Head(second).StringOffset), u"two");
  EXPECT_FALSE(Report(copy, {u"into the copy"}));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(ClearEventLogW(copy, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Count(copy), 3u);

  ztl::test::WriteFileBytes(dir.File("text.db"), std::string(200, 'x'));
  const std::string live = dir.Prefix() + "/eventlog/application.db";
  for (const std::string& path : {dir.File("text.db"), live}) {
    const std::u16string name(path.begin(), path.end());
    EXPECT_EQ(OpenBackupEventLogW(nullptr, name.c_str()), nullptr) << path;
    EXPECT_EQ(GetLastError(), ERROR_EVENTLOG_FILE_CORRUPT) << path;
  }
  const std::string missing = dir.File("missing.db");
  EXPECT_EQ(OpenBackupEventLogW(nullptr, std::u16string(missing.begin(), missing.end()).c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenBackupEventLogW(nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// A log's database outlives its handles: a handle opened later reads on
// from where the log is, and a log removed meanwhile starts again empty.
TEST_F(EventLog, ReopenedLogsReadTheirFileAsItIsNow) {
  HANDLE first = Source(u"ReopenTest");
  ASSERT_TRUE(Report(first, {u"kept"}));
  ASSERT_TRUE(CloseEventLog(first));
  handles.clear();
  HANDLE again = Open();
  EXPECT_EQ(Count(again), 1u);
  ASSERT_TRUE(Report(again, {u"more"}));
  EXPECT_EQ(Head(Seek(again, 2)).RecordNumber, 2u);
  ASSERT_TRUE(CloseEventLog(again));
  handles.clear();

  std::error_code ignored;
  std::filesystem::remove_all(ztl::os::EventLogFolder(), ignored);
  HANDLE fresh = Open();
  EXPECT_EQ(Count(fresh), 0u);
  ASSERT_TRUE(Report(fresh, {u"anew"}));
  EXPECT_EQ(Oldest(fresh), 1u);
}

// A file whose numbers have gaps (rows removed behind the log's back) still
// gives each record the number it is stored under, whichever way and however
// many records a buffer holds.
TEST_F(EventLog, ReadsTheStoredNumbersAcrossGaps) {
  HANDLE source = Source(u"GapTest");
  for (int i = 0; i < 7; ++i) ASSERT_TRUE(Report(source, {u"entry"}));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((ztl::os::EventLogFolder() + "/application.db").c_str(), &db), SQLITE_OK);
  const int rc = sqlite3_exec(db, "DELETE FROM records WHERE number IN (2, 4, 5)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK);

  HANDLE log = Open();
  const DWORD size = static_cast<DWORD>(Seek(log, 1).size());
  auto numbers = [&](DWORD flags, DWORD room) {
    std::vector<BYTE> buffer(room);
    std::vector<DWORD> found;
    DWORD read = 0, needed = 0;
    HANDLE reader = Open();
    while (ReadEventLogW(reader, EVENTLOG_SEQUENTIAL_READ | flags, 0, buffer.data(), room, &read, &needed))
      for (DWORD at = 0; at < read; at += size)
        found.push_back(Head(Bytes(buffer.begin() + at, buffer.end())).RecordNumber);
    EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
    return found;
  };
  const std::vector<DWORD> stored{1, 3, 6, 7};
  for (DWORD room : {size, 2 * size, 10 * size}) {
    EXPECT_EQ(numbers(EVENTLOG_FORWARDS_READ, room), stored) << room;
    EXPECT_EQ(numbers(EVENTLOG_BACKWARDS_READ, room), std::vector<DWORD>(stored.rbegin(), stored.rend())) << room;
  }
  EXPECT_EQ(Head(Seek(log, 3)).RecordNumber, 3u);
  BYTE probe;
  DWORD read = 0, needed = 0;
  EXPECT_FALSE(ReadEventLogW(log, EVENTLOG_SEEK_READ | EVENTLOG_FORWARDS_READ, 4, &probe, 0, &read, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(needed, size);
}

TEST_F(EventLog, RefusesOversizedEntries) {
  HANDLE source = Source(u"LimitTest");
  EXPECT_FALSE(Report(source, {std::u16string(31840, u'a')}));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(Report(source, {}, 1, Bytes(61441)));
  EXPECT_EQ(GetLastError(), RPC_S_INVALID_BOUND);
  BYTE badSid[8] = {9};
  EXPECT_FALSE(Report(source, {}, 1, {}, badSid));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_SID);
  EXPECT_TRUE(Report(source, {std::u16string(31839, u'a')}, 1, Bytes(61440)));
}

// A record must fit the largest buffer a read takes (0x7FFFF bytes): eight
// strings of the longest length fit, nine do not and leave the log as it
// was, still readable.
TEST_F(EventLog, RefusesRecordsLargerThanAReadTakes) {
  HANDLE source = Source(u"BoundTest");
  const std::vector<std::u16string> eight(8, std::u16string(31839, u'b'));
  ASSERT_TRUE(Report(source, eight));
  std::vector<std::u16string> nine = eight;
  nine.push_back(eight.front());
  EXPECT_FALSE(Report(source, nine));
  EXPECT_EQ(GetLastError(), RPC_S_INVALID_BOUND);
  HANDLE reader = Open();
  ASSERT_EQ(Count(reader), 1u);
  Bytes buffer(0x7FFFF);
  DWORD read = 0, needed = 0;
  ASSERT_TRUE(ReadEventLogW(reader, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0, buffer.data(),
                            static_cast<DWORD>(buffer.size()), &read, &needed))
      << GetLastError();
  EXPECT_EQ(Head(buffer).NumStrings, 8);
  EXPECT_EQ(Head(buffer).Length, read);
}

// While another connection holds the log's write lock, handles opened anew
// (more than the idle ones kept) count and read at once, and a writer gives
// up after its wait with the lock's error.
TEST_F(EventLog, ReadersGoOnWhileAnotherWrites) {
  ASSERT_TRUE(Report(Source(u"LockTest"), {u"before"}));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((ztl::os::EventLogFolder() + "/application.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  ztl::os::SetEventLogWriterWaitForTesting(50);
  for (int i = 0; i < 6; ++i) {
    HANDLE reader = Open();
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(Count(reader), 1u);
    EXPECT_EQ(TextAt(Seek(reader, 1), Head(Seek(reader, 1)).StringOffset), u"before");
  }
  HANDLE writer = Source(u"LockTest");
  EXPECT_FALSE(Report(writer, {u"during"}));
  EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ztl::os::SetEventLogWriterWaitForTesting(0);
  EXPECT_TRUE(Report(writer, {u"after"}));
}

}  // namespace
