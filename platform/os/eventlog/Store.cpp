// The event logs' store (see Store.h): opening a log's database (creating
// its tables in WAL mode), its statements, and the cache of idle databases
// that survives neither fork() nor the process's exit. Relies on SQLite, and
// on the prefix (os/Prefix.h) for the logs' folder and a link-free path.
#include <ztlogger/platform/os/eventlog/Store.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <ztlogger/platform/os/FileMapping.h>
#include <ztlogger/platform/os/OsError.h>
#include <ztlogger/platform/os/Prefix.h>
#include <ztlogger/platform/os/Testing.h>
#include <ztlogger/platform/os/WinConstants.h>
#include <ztlogger/platform/os/eventlog/Api.h>

// Each log is a database "eventlog/<name>.db" (the name folded to lower case,
// characters other than ASCII letters, digits, '-', '_' and blank written as
// "%XXXX"). The table "records" holds each record as the bytes ReadEventLogW
// returns, but for its number: the number is the row's key, given out by
// SQLite's AUTOINCREMENT, which never hands out a number twice, and written
// into the bytes as they are read. A record is one row inserted in one
// transaction, so a reader sees it whole or not at all, and a writer killed
// midway leaves nothing of it. "state" counts the clears, so that a handle
// opened before a clear can tell that its log changed. The databases run in
// WAL mode: readers never wait for writers, writers wait for each other.
//
// The logs' folder is shared by the prefix's users: its owner's, 0755, so
// that the logs (0644, as SQLite makes them) are read by all and written by
// their owner; another user's write fails with ERROR_ACCESS_DENIED. A
// database that is a link is refused, never followed.

namespace ztl::os {
namespace {

namespace fs = std::filesystem;

// How long a writer waits for another writer of the same log; readers do
// not wait for writers at all.
constexpr int kWriterWaitMs = 5000;

// The writer's wait tests set; 0 for kWriterWaitMs.
std::atomic<int> writerWaitMs{0};

// Whether the file at path is a database in the rollback journal's format,
// as a log's copy is written: a live log's is in WAL mode. Reads the header
// through the services' opener, so that a FIFO is never waited on; throws
// OsError for a file that cannot be read.
bool IsBackupFile(const String& path) {
  const int fd = OpenFileForReading(path);
  if (fd < 0) {
    if (errno == ENODEV) return false;
    throw OsError{errno == EISDIR ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno)};
  }
  unsigned char header[100];
  const ssize_t got = ::pread(fd, header, sizeof header, 0);
  ::close(fd);
  static constexpr char kMagic[] = "SQLite format 3";  // with its null, 16 bytes
  return got == static_cast<ssize_t>(sizeof header) && std::memcmp(header, kMagic, sizeof kMagic) == 0 &&
         header[18] == 1 && header[19] == 1;
}

}  // namespace

void SetEventLogWriterWaitForTesting(int milliseconds) { writerWaitMs = milliseconds; }

namespace eventlog {

// The Windows code for a failed SQLite call.
DWORD ErrorOf(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_NOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH: return ERROR_ACCESS_DENIED;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return ERROR_LOCK_VIOLATION;
    case SQLITE_FULL: return ERROR_DISK_FULL;
    case SQLITE_CANTOPEN: return ERROR_PATH_NOT_FOUND;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return ERROR_EVENTLOG_FILE_CORRUPT;
    default: return ERROR_INVALID_FUNCTION;
  }
}

namespace {

// Makes the folder of a log where missing: a store folder of the prefix,
// checked, or any other folder as given.
void MakeLogFolder(const String& path) {
  const String folder = fs::path(path).parent_path();
  const int failed = MakeStoreFolder(folder, 0755);
  if (failed == EXDEV) {
    std::error_code ignored;
    fs::create_directories(folder, ignored);
  } else if (failed != 0) {
    throw OsError{failed == EACCES ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(failed)};
  }
}

// Refuses a log's name that holds a link or no regular file (a FIFO, a
// device): no log.
void CheckLogFile(const String& path) {
  const int fd = OpenBeneathPrefix(path, O_PATH);
  if (fd < 0) {
    if (errno == ELOOP || errno == EXDEV) throw OsError{ERROR_ACCESS_DENIED};
    return;
  }
  struct stat named {};
  const bool regular = ::fstat(fd, &named) == 0 && S_ISREG(named.st_mode);
  ::close(fd);
  if (!regular) throw OsError{ERROR_EVENTLOG_FILE_CORRUPT};
}

// The error of a failed open: a folder or file the caller may not write, or
// a link, is ERROR_ACCESS_DENIED.
DWORD OpenErrorOf(sqlite3* db, int rc) {
  if (db == nullptr) return ErrorOf(rc);
  const int extended = sqlite3_extended_errcode(db);
  if (extended == SQLITE_CANTOPEN_SYMLINK) return ERROR_ACCESS_DENIED;
  if ((extended & 0xFF) == SQLITE_CANTOPEN && sqlite3_system_errno(db) == EACCES) return ERROR_ACCESS_DENIED;
  return ErrorOf(rc);
}

}  // namespace

LogDatabase::LogDatabase(const String& path) : path_(path) {
  MakeLogFolder(path);
  CheckLogFile(path);
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK) throw OsError{OpenErrorOf(raw, rc)};
  const int wait = writerWaitMs;
  sqlite3_busy_timeout(db_.get(), wait ? wait : kWriterWaitMs);
  // A log made before is only read here, so that opening it never waits
  // for a writer: its WAL mode is kept in the file.
  if (!HasTables()) {
    Exec("PRAGMA journal_mode=WAL");
    Exec("BEGIN IMMEDIATE");
    try {
      Exec(
          "CREATE TABLE IF NOT EXISTS records(number INTEGER PRIMARY KEY AUTOINCREMENT, record BLOB NOT NULL);"
          "CREATE TABLE IF NOT EXISTS state(id INTEGER PRIMARY KEY CHECK (id = 1), clears INTEGER NOT NULL);"
          "INSERT OR IGNORE INTO state VALUES (1, 0)");
      Exec("COMMIT");
    } catch (const OsError&) {
      sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }
  Exec("PRAGMA synchronous=NORMAL");
  PrepareStatements();
}

LogDatabase::LogDatabase(const String& path, Backup) : path_(path) {
  if (!IsBackupFile(path)) throw OsError{ERROR_EVENTLOG_FILE_CORRUPT};
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK) throw OsError{ErrorOf(rc)};
  try {
    Statement check = Prepare("SELECT count(*) FROM sqlite_master WHERE name IN ('records', 'state')");
    if (sqlite3_step(check.get()) != SQLITE_ROW || sqlite3_column_int(check.get(), 0) != 2)
      throw OsError{ERROR_EVENTLOG_FILE_CORRUPT};
    PrepareStatements();
  } catch (const OsError& failure) {
    // Whatever SQLite makes of a file that is no log's copy, it is no backup.
    throw OsError{failure.code == ERROR_NOT_ENOUGH_MEMORY ? failure.code : ERROR_EVENTLOG_FILE_CORRUPT};
  }
}

void LogDatabase::PrepareStatements() {
  insert_ = Prepare("INSERT INTO records(record) VALUES (?)");
  // Each aggregate on its own: SQLite answers a lone min() or max() of
  // the key from the tree's ends, but scans the table for both together.
  range_ = Prepare(
      "SELECT (SELECT min(number) FROM records), (SELECT max(number) FROM records), (SELECT clears FROM state)");
  forwards_ = Prepare("SELECT number, record FROM records WHERE number >= ? ORDER BY number");
  backwards_ = Prepare("SELECT number, record FROM records WHERE number <= ? ORDER BY number DESC");
  begin_ = Prepare("BEGIN");
  commit_ = Prepare("COMMIT");
  struct stat info;
  if (::stat(path_.c_str(), &info) == 0) file_ = {info.st_dev, info.st_ino};
}

bool LogDatabase::HasTables() {
  Statement check = Prepare(
      "SELECT (SELECT count(*) FROM sqlite_master WHERE name IN ('records', 'state')) = 2, "
      "(SELECT journal_mode FROM pragma_journal_mode) = 'wal'");
  const int rc = sqlite3_step(check.get());
  if (rc != SQLITE_ROW) throw OsError{ErrorOf(rc)};
  return sqlite3_column_int(check.get(), 0) != 0 && sqlite3_column_int(check.get(), 1) != 0;
}

bool LogDatabase::StillAtPath() const {
  struct stat info;
  return ::stat(path_.c_str(), &info) == 0 && std::make_pair(info.st_dev, info.st_ino) == file_;
}

void LogDatabase::Exec(const char* sql) {
  const int rc = sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw OsError{ErrorOf(rc)};
}

LogDatabase::Range LogDatabase::ReadRange() {
  Range range;
  sqlite3_stmt* s = range_.get();
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    range.oldest = static_cast<DWORD>(sqlite3_column_int64(s, 0));
    range.newest = static_cast<DWORD>(sqlite3_column_int64(s, 1));
    range.clears = sqlite3_column_int64(s, 2);
  }
  sqlite3_reset(s);
  if (rc != SQLITE_ROW) throw OsError{ErrorOf(rc)};
  return range;
}

DWORD LogDatabase::Insert(const std::vector<BYTE>& record) {
  sqlite3_stmt* s = insert_.get();
  sqlite3_bind_blob(s, 1, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
  const int rc = sqlite3_step(s);
  sqlite3_reset(s);
  sqlite3_clear_bindings(s);
  if (rc != SQLITE_DONE) throw OsError{ErrorOf(rc)};
  return static_cast<DWORD>(sqlite3_last_insert_rowid(db_.get()));
}

void LogDatabase::Commit() noexcept {
  sqlite3_step(commit_.get());
  sqlite3_reset(commit_.get());
}

void LogDatabase::Run(sqlite3_stmt* statement) {
  const int rc = sqlite3_step(statement);
  sqlite3_reset(statement);
  if (rc != SQLITE_DONE) throw OsError{ErrorOf(rc)};
}

Statement LogDatabase::Prepare(const char* sql) {
  sqlite3_stmt* statement = nullptr;
  const int rc = sqlite3_prepare_v3(db_.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
  if (rc != SQLITE_OK) throw OsError{ErrorOf(rc)};
  return Statement(statement);
}

std::unique_ptr<LogDatabase> IdleDatabases::Take(const String& path) {
  std::unique_ptr<LogDatabase> stale;  // closed outside the lock
  {
    std::lock_guard guard(lock_);
    ForgetForkedFrom();
    for (auto it = idle_.begin(); it != idle_.end(); ++it) {
      if ((*it)->Path() != path) continue;
      std::unique_ptr<LogDatabase> db = std::move(*it);
      idle_.erase(it);
      if (db->StillAtPath()) return db;
      stale = std::move(db);
      break;
    }
  }
  return std::make_unique<LogDatabase>(path);
}

void IdleDatabases::Give(std::unique_ptr<LogDatabase> db) noexcept {
  if (!db->Idle()) return;
  std::unique_ptr<LogDatabase> evicted;  // closed outside the lock
  std::lock_guard guard(lock_);
  ForgetForkedFrom();
  if (closed_) return;
  if (idle_.size() == kMaxIdle) {
    evicted = std::move(idle_.front());
    idle_.erase(idle_.begin());
  }
  idle_.push_back(std::move(db));  // within the reserved room
}

void IdleDatabases::CloseAll() {
  std::vector<std::unique_ptr<LogDatabase>> closing;
  std::lock_guard guard(lock_);
  ForgetForkedFrom();
  closed_ = true;
  closing.swap(idle_);
}

void IdleDatabases::ForgetForkedFrom() {
  if (owner_ == ::getpid()) return;
  for (auto& db : idle_) static_cast<void>(db.release());
  idle_.clear();
  owner_ = ::getpid();
}

IdleDatabases& Idle() {
  // Never destroyed, as handles may still be closed while the process exits;
  // the databases themselves are closed at exit, so that the last one of a
  // log writes its WAL back and removes it.
  static IdleDatabases* idle = [] {
    auto* databases = new IdleDatabases;
    std::atexit([] { Idle().CloseAll(); });
    return databases;
  }();
  return *idle;
}

}  // namespace eventlog
}  // namespace ztl::os
