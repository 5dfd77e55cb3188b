// The event log calls: handles of open logs and registered sources, the
// records' layout as ReadEventLogW returns it, the logs and sources named in
// the registry, and the Windows error codes the callers see. Relies on the
// store (eventlog/Store.h) for the databases.
#include <ztlogger/platform/os/eventlog/Api.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <ztlogger/platform/os/HandleTable.h>
#include <ztlogger/platform/os/OsError.h>
#include <ztlogger/platform/os/Prefix.h>
#include <ztlogger/platform/os/SysInfo.h>
#include <ztlogger/platform/os/Testing.h>
#include <ztlogger/platform/os/eventlog/Forward.h>
#include <ztlogger/platform/os/eventlog/Store.h>
#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl::os {

using namespace eventlog;

namespace {

namespace fs = std::filesystem;

constexpr DWORD kFixedSize = sizeof(EVENTLOGRECORD);
constexpr size_t kMaxStringLength = 31839;
constexpr DWORD kMaxDataSize = 61440;
// The largest record: the largest buffer ReadEventLogW reads into, so that
// every record written can be read back.
constexpr uint64_t kMaxRecordSize = 0x7FFFF;
constexpr const char16_t* kStandingLogs[] = {u"Application", u"Security", u"System"};

// The time tests stamp on records; 0 when the clock's.
std::atomic<uint32_t> reportTime{0};

bool SameText(std::u16string_view a, std::u16string_view b) {
  auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

String LogFileName(std::u16string_view log) {
  String name;
  for (char16_t c : log) {
    if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'_' || c == u' ') {
      name += static_cast<char>(c);
    } else if (c >= u'A' && c <= u'Z') {
      name += static_cast<char>(c + 0x20);
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "%%%04X", static_cast<unsigned>(c));
      name += code;
    }
  }
  return name + ".db";
}

std::u16string EventLogKey(std::u16string_view log) {
  std::u16string path = EventLogKeyPath;
  if (!log.empty()) path.append(u"\\").append(log);
  return path;
}

// The names of the logs with a key in the registry.
std::vector<std::u16string> RegisteredLogs() {
  std::vector<std::u16string> logs;
  HKEY root = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EventLogKeyPath, 0, KEY_READ, &root) != ERROR_SUCCESS) return logs;
  for (DWORD index = 0;; ++index) {
    char16_t name[REG_MAX_KEY_NAME + 1];
    DWORD length = REG_MAX_KEY_NAME + 1;
    if (RegEnumKeyExW(root, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    logs.emplace_back(name, length);
  }
  RegCloseKey(root);
  return logs;
}

bool KeyExists(const std::u16string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// The log a name opens: its own when it is one, else "Application".
std::u16string LogForName(std::u16string_view name) {
  for (const char16_t* log : kStandingLogs)
    if (SameText(name, log)) return log;
  for (const std::u16string& log : RegisteredLogs())
    if (SameText(name, log)) return log;
  return u"Application";
}

// The log a source reports to.
std::u16string LogForSource(std::u16string_view source) {
  const std::vector<std::u16string> registered = RegisteredLogs();
  for (const std::u16string& log : registered)
    if (KeyExists(EventLogKey(log) + u"\\" + std::u16string(source))) return log;
  return LogForName(source);
}

std::u16string ComputerName() {
  char16_t name[256];
  DWORD size = 256;
  if (!GetComputerNameW(name, &size)) return u"";
  return std::u16string(name, size);
}

// Whether a server name names this computer.
bool IsLocalServer(LPCWSTR server) {
  if (server == nullptr || *server == 0) return true;
  std::u16string_view name(server);
  while (!name.empty() && name.front() == u'\\') name.remove_prefix(1);
  if (name.empty() || name == u"." || SameText(name, u"localhost") || name == u"127.0.0.1") return true;
  if (SameText(name, ComputerName())) return true;
  return SameText(name, unicode::Utf8ToUtf16(CurrentSystemFacts().HostName()));
}

// An open log or a registered source. It is no waitable object: a wait on it
// never ends by itself.
class EventLogHandle final : public KernelObject {
 public:
  EventLogHandle(std::u16string log, std::u16string source)
      : EventLogHandle(std::move(log), std::move(source), nullptr) {}
  // A handle to a log's backup, read-only, its database its own: never kept
  // among the idle ones, where a handle of a live log could take it.
  explicit EventLogHandle(std::unique_ptr<LogDatabase> backup)
      : EventLogHandle(u"", u"", std::move(backup)) {}
  ~EventLogHandle() override {
    if (!backup_) Idle().Give(std::move(database_));
  }
  int WaitDescriptor() const override { return -1; }
  bool Signaled() override { return false; }

  std::mutex lock;
  const bool backup_;
  const std::u16string log_;
  const std::u16string source_;
  const std::u16string computer_;
  std::unique_ptr<LogDatabase> database_;
  LogDatabase& db_;
  int64_t clears_ = 0;
  DWORD position_ = 0;  // next record of a sequential read; 0 before the first
  SyslogForwarder forwarder_{log_, source_};

 private:
  EventLogHandle(std::u16string log, std::u16string source, std::unique_ptr<LogDatabase> backup)
      : backup_(backup != nullptr),
        log_(std::move(log)),
        source_(std::move(source)),
        computer_(ComputerName()),
        database_(backup ? std::move(backup) : Idle().Take(EventLogFolder() + "/" + LogFileName(log_))),
        db_(*database_) {
    clears_ = db_.ReadRange().clears;
  }
};

// Ends a read transaction on every way out.
class ReadTransaction {
 public:
  explicit ReadTransaction(LogDatabase& db) : db_(db) { db_.Begin(); }
  ~ReadTransaction() { db_.Commit(); }
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;

 private:
  LogDatabase& db_;
};

std::shared_ptr<EventLogHandle> Lookup(HANDLE handle) {
  auto object = ReferenceHandleAs<EventLogHandle>(handle);
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

// A new handle of the object make gives, or nullptr with the last error set.
template <typename Make>
HANDLE OpenHandleOf(Make make) {
  try {
    HANDLE handle = InsertHandle(make());
    if (!handle) SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return handle;
  } catch (const OsError& failure) {
    const DWORD error = failure.code;
    SetLastError(error);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  return nullptr;
}

HANDLE OpenHandle(std::u16string log, std::u16string source) {
  return OpenHandleOf([&] { return std::make_shared<EventLogHandle>(std::move(log), std::move(source)); });
}

BOOL CloseLogHandle(HANDLE handle) {
  if (!ReferenceHandleAs<EventLogHandle>(handle) || !RemoveHandle(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

// The size of a SID as its own header tells it; 0 for one that is no SID.
DWORD SidLength(const void* sid) {
  const auto* bytes = static_cast<const BYTE*>(sid);
  if (bytes[0] != 1 || bytes[1] > 15) return 0;
  return 8 + 4 * DWORD{bytes[1]};
}

void Append(std::vector<BYTE>& out, const void* data, size_t size) {
  const auto* bytes = static_cast<const BYTE*>(data);
  out.insert(out.end(), bytes, bytes + size);
}

void AppendText(std::vector<BYTE>& out, std::u16string_view text) {
  Append(out, text.data(), text.size() * sizeof(char16_t));
  const char16_t terminator = 0;
  Append(out, &terminator, sizeof terminator);
}

void PadToDword(std::vector<BYTE>& out) { out.resize((out.size() + 3) & ~size_t{3}, 0); }

// The bytes of a record before its SID: the fixed part, the source's and the
// computer's names, the pad.
uint64_t RecordSizeBefore(std::u16string_view source, std::u16string_view computer) {
  const uint64_t names = (uint64_t{source.size()} + computer.size() + 2) * sizeof(char16_t);
  return (kFixedSize + names + 3) & ~uint64_t{3};
}

}  // namespace

void SetEventLogTimeForTesting(uint32_t seconds) { reportTime = seconds; }

String EventLogFolder() { return PlatformPrefix() + "/eventlog"; }

std::vector<String> EventLogNames() {
  std::vector<std::u16string> logs(std::begin(kStandingLogs), std::end(kStandingLogs));
  for (std::u16string& log : RegisteredLogs())
    if (std::none_of(logs.begin(), logs.end(), [&](const std::u16string& known) { return SameText(known, log); }))
      logs.push_back(std::move(log));
  std::vector<String> names;
  for (const std::u16string& log : logs) names.push_back(unicode::Utf16ToUtf8(log));
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace ztl::os

using namespace ztl::os;

namespace {

// The checks every opening call makes first, in Windows' order: its name,
// then the server; false with the last error set.
bool AcceptedCall(LPCWSTR server, bool nameGiven) {
  if (!nameGiven) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!IsLocalServer(server)) {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return false;
  }
  return true;
}

}  // namespace

HANDLE OpenEventLogW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName) {
  if (!AcceptedCall(lpUNCServerName, lpSourceName != nullptr)) return nullptr;
  return OpenHandle(LogForName(lpSourceName), lpSourceName);
}

HANDLE OpenBackupEventLogW(LPCWSTR lpUNCServerName, LPCWSTR lpFileName) {
  if (!AcceptedCall(lpUNCServerName, lpFileName != nullptr && *lpFileName != 0)) return nullptr;
  const std::string path = ztl::unicode::Utf16ToUtf8(lpFileName);
  return OpenHandleOf([&] {
    return std::make_shared<EventLogHandle>(std::make_unique<LogDatabase>(path, LogDatabase::Backup{}));
  });
}

BOOL CloseEventLog(HANDLE hEventLog) { return CloseLogHandle(hEventLog); }

HANDLE RegisterEventSourceW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName) {
  if (!AcceptedCall(lpUNCServerName, lpSourceName != nullptr)) return nullptr;
  std::u16string log = LogForSource(lpSourceName);
  if (log == u"Security") {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return OpenHandle(std::move(log), lpSourceName);
}

BOOL DeregisterEventSource(HANDLE hEventLog) { return CloseLogHandle(hEventLog); }

namespace {

// One figure of a log's current record range, for the two calls that ask
// for one.
template <typename Figure>
BOOL ReadRangeFigure(HANDLE hEventLog, LPDWORD out, Figure figure) {
  if (out == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto log = Lookup(hEventLog);
  if (!log) return FALSE;
  std::lock_guard guard(log->lock);
  try {
    *out = figure(log->db_.ReadRange());
    return TRUE;
  } catch (const OsError& failure) {
    const DWORD error = failure.code;
    SetLastError(error);
    return FALSE;
  }
}

}  // namespace

BOOL GetNumberOfEventLogRecords(HANDLE hEventLog, LPDWORD NumberOfRecords) {
  return ReadRangeFigure(hEventLog, NumberOfRecords, [](const auto& range) { return range.Count(); });
}

BOOL GetOldestEventLogRecord(HANDLE hEventLog, LPDWORD OldestRecord) {
  return ReadRangeFigure(hEventLog, OldestRecord, [](const auto& range) { return range.oldest; });
}

BOOL ReadEventLogW(HANDLE hEventLog, DWORD dwReadFlags, DWORD dwRecordOffset, LPVOID lpBuffer,
                   DWORD nNumberOfBytesToRead, DWORD* pnBytesRead, DWORD* pnMinNumberOfBytesNeeded) {
  const DWORD way = dwReadFlags & (EVENTLOG_SEQUENTIAL_READ | EVENTLOG_SEEK_READ);
  const DWORD direction = dwReadFlags & (EVENTLOG_FORWARDS_READ | EVENTLOG_BACKWARDS_READ);
  const bool badFlags = (dwReadFlags & ~DWORD{0xF}) != 0 || way == 0 || way == 3 || direction == 0 || direction == 12;
  if (badFlags || lpBuffer == nullptr || pnBytesRead == nullptr || pnMinNumberOfBytesNeeded == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto log = Lookup(hEventLog);
  if (!log) return FALSE;
  const bool forwards = direction == EVENTLOG_FORWARDS_READ;
  const bool seek = way == EVENTLOG_SEEK_READ;
  if (seek && dwRecordOffset == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard guard(log->lock);
  try {
    ReadTransaction transaction(log->db_);
    const LogDatabase::Range range = log->db_.ReadRange();
    if (range.clears != log->clears_) {
      SetLastError(ERROR_EVENTLOG_FILE_CHANGED);
      return FALSE;
    }
    DWORD start = seek ? dwRecordOffset : log->position_;
    if (seek && (range.oldest == 0 || start < range.oldest || start > range.newest)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (start == 0) start = forwards ? std::max<DWORD>(range.oldest, 1) : range.newest;
    if (range.oldest == 0 || start == 0 || start > range.newest || start < range.oldest) {
      SetLastError(ERROR_HANDLE_EOF);
      return FALSE;
    }
    sqlite3_stmt* s = forwards ? log->db_.Forwards() : log->db_.Backwards();
    auto* out = static_cast<BYTE*>(lpBuffer);
    const int64_t step = forwards ? 1 : -1;
    DWORD used = 0;
    DWORD needed = 0;
    DWORD last = 0;
    int64_t copied = 0;
    // Fills the buffer from start on. Unless keyed, each record's number is
    // taken as start plus the records before it, which the caller then
    // checks against the keys: reading each row's key costs more than the
    // check.
    auto fill = [&](bool keyed) {
      sqlite3_bind_int64(s, 1, start);
      used = needed = 0;
      copied = 0;
      int rc;
      while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        // The column's value once, then its bytes and size without a lock
        // each: the connection is this handle's alone, under its lock.
        sqlite3_value* record = sqlite3_column_value(s, 1);
        const void* bytes = sqlite3_value_blob(record);
        const auto size = static_cast<DWORD>(sqlite3_value_bytes(record));
        if (size < kFixedSize + 4) return SQLITE_CORRUPT;
        if (size > nNumberOfBytesToRead - used) {
          if (used == 0) needed = size;
          return rc;
        }
        const auto number = static_cast<DWORD>(keyed ? sqlite3_column_int64(s, 0) : int64_t{start} + step * copied);
        std::memcpy(out + used, bytes, size);
        std::memcpy(out + used + offsetof(EVENTLOGRECORD, RecordNumber), &number, sizeof number);
        used += size;
        last = number;
        ++copied;
      }
      return rc;
    };
    // The keys come strictly ordered, none short of start: they ran
    // on without a gap when the row after the last copied has the number
    // next in line, or when the copied rows reach the log's far end.
    auto contiguous = [&](int rc) {
      const int64_t next = int64_t{start} + step * copied;
      if (rc == SQLITE_ROW) return sqlite3_column_int64(s, 0) == next;
      return rc != SQLITE_DONE || next == (forwards ? int64_t{range.newest} + 1 : int64_t{range.oldest} - 1);
    };
    int rc = fill(false);
    if (!contiguous(rc)) {
      sqlite3_reset(s);
      rc = fill(true);
    }
    sqlite3_reset(s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw OsError{ErrorOf(rc)};
    if (needed != 0) {
      *pnBytesRead = 0;
      *pnMinNumberOfBytesNeeded = needed;
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    if (used == 0) {
      SetLastError(ERROR_HANDLE_EOF);
      return FALSE;
    }
    log->position_ = forwards ? last + 1 : last - 1;
    if (log->position_ == 0 && !forwards) log->position_ = DWORD{0xFFFFFFFF};
    *pnBytesRead = used;
    *pnMinNumberOfBytesNeeded = 0;
    return TRUE;
  } catch (const OsError& failure) {
    const DWORD error = failure.code;
    SetLastError(error);
    return FALSE;
  }
}

BOOL ClearEventLogW(HANDLE hEventLog, LPCWSTR lpBackupFileName) {
  auto log = Lookup(hEventLog);
  if (!log) return FALSE;
  if (log->backup_) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::lock_guard guard(log->lock);
  try {
    if (lpBackupFileName != nullptr) {
      const std::string backup = ztl::unicode::Utf16ToUtf8(lpBackupFileName);
      struct stat info;
      if (backup.empty() || ::stat(backup.c_str(), &info) == 0) {
        SetLastError(backup.empty() ? ERROR_INVALID_PARAMETER : ERROR_ALREADY_EXISTS);
        return FALSE;
      }
      sqlite3_stmt* raw = nullptr;
      int rc = sqlite3_prepare_v2(log->db_.Db(), "VACUUM INTO ?", -1, &raw, nullptr);
      std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> vacuum(raw, sqlite3_finalize);
      if (rc != SQLITE_OK) throw OsError{ErrorOf(rc)};
      sqlite3_bind_text(raw, 1, backup.c_str(), static_cast<int>(backup.size()), SQLITE_TRANSIENT);
      rc = sqlite3_step(raw);
      if (rc != SQLITE_DONE) throw OsError{rc == SQLITE_CANTOPEN ? ERROR_PATH_NOT_FOUND : ErrorOf(rc)};
    }
    log->db_.Exec("BEGIN IMMEDIATE");
    try {
      log->db_.Exec("DELETE FROM records; UPDATE state SET clears = clears + 1");
      log->db_.Exec("COMMIT");
    } catch (const OsError&) {
      sqlite3_exec(log->db_.Db(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    // The handle that cleared the log reads it on.
    log->clears_ = log->db_.ReadRange().clears;
    log->position_ = 0;
    return TRUE;
  } catch (const OsError& failure) {
    const DWORD error = failure.code;
    SetLastError(error);
    return FALSE;
  }
}

BOOL ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid, WORD wNumStrings,
                  DWORD dwDataSize, LPCWSTR* lpStrings, LPVOID lpRawData) {
  if ((wNumStrings != 0 && lpStrings == nullptr) || (dwDataSize != 0 && lpRawData == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (dwDataSize > kMaxDataSize) {
    SetLastError(RPC_S_INVALID_BOUND);
    return FALSE;
  }
  const DWORD sidLength = lpUserSid ? SidLength(lpUserSid) : 0;
  if (lpUserSid && sidLength == 0) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  auto log = Lookup(hEventLog);
  if (!log) return FALSE;
  // The record's size, summed as the strings are measured, so that an
  // oversized one is refused before anything is built.
  uint64_t size = RecordSizeBefore(log->source_, log->computer_) + sidLength;
  std::vector<std::u16string_view> strings;
  for (WORD i = 0; i < wNumStrings; ++i) {
    std::u16string_view text = lpStrings[i] ? std::u16string_view(lpStrings[i]) : std::u16string_view();
    if (text.size() > kMaxStringLength) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    size += (text.size() + 1) * sizeof(char16_t);
    if (size > kMaxRecordSize) break;
    strings.push_back(text);
  }
  size = ((size + dwDataSize + 3) & ~uint64_t{3}) + sizeof(DWORD);
  if (size > kMaxRecordSize) {
    SetLastError(RPC_S_INVALID_BOUND);
    return FALSE;
  }

  EVENTLOGRECORD head{};
  head.Reserved = ELF_LOG_SIGNATURE;
  const uint32_t fixedTime = reportTime;
  timespec now{};
  if (fixedTime) {
    now.tv_sec = fixedTime;
  } else {
    clock_gettime(CLOCK_REALTIME, &now);
  }
  head.TimeGenerated = static_cast<DWORD>(now.tv_sec);
  head.TimeWritten = head.TimeGenerated;
  head.EventID = dwEventID;
  head.EventType = wType;
  head.NumStrings = wNumStrings;
  head.EventCategory = wCategory;
  std::vector<BYTE> record;
  record.reserve(static_cast<size_t>(size));
  record.resize(kFixedSize);
  AppendText(record, log->source_);
  AppendText(record, log->computer_);
  PadToDword(record);
  head.UserSidOffset = static_cast<DWORD>(record.size());
  head.UserSidLength = sidLength;
  if (sidLength) Append(record, lpUserSid, sidLength);
  head.StringOffset = static_cast<DWORD>(record.size());
  for (std::u16string_view text : strings) AppendText(record, text);
  head.DataOffset = static_cast<DWORD>(record.size());
  head.DataLength = dwDataSize;
  if (dwDataSize) Append(record, lpRawData, dwDataSize);
  PadToDword(record);
  head.Length = static_cast<DWORD>(record.size() + sizeof(DWORD));
  Append(record, &head.Length, sizeof head.Length);
  std::memcpy(record.data(), &head, kFixedSize);

  std::lock_guard guard(log->lock);
  try {
    const DWORD number = log->db_.Insert(record);
    const StoredEvent stored{wType, wCategory, dwEventID, number, now.tv_sec, static_cast<int32_t>(now.tv_nsec / 1000)};
    log->forwarder_.Forward(stored, strings);
    return TRUE;
  } catch (const OsError& failure) {
    const DWORD error = failure.code;
    SetLastError(error);
    return FALSE;
  }
}
