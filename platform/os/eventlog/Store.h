#pragma once
// The event logs' store: each log a SQLite database, opened by a handle
// with its statements prepared once, and a few idle databases kept open for
// the next handle of the same log. Relies on SQLite (WAL mode) and on the
// services' error type (os/OsError.h); knows nothing of handles or records'
// layout. Internal to the platform library.
#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl::os::eventlog {

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// The Windows code for a failed SQLite call.
DWORD ErrorOf(int rc);

// A log's database as one handle uses it, with its statements prepared once.
class LogDatabase {
 public:
  // Opens (creating) the database at path; throws OsError on
  // failure.
  explicit LogDatabase(const String& path);

  // Opens a backup of a log (a copy ClearEventLogW wrote) for reading only.
  // A file that is no such copy, a live log's database among them (its WAL
  // belongs to the log's writers), fails with ERROR_EVENTLOG_FILE_CORRUPT; a
  // missing or unreadable one with the code its errno gives.
  struct Backup {};
  LogDatabase(const String& path, Backup);

  const String& Path() const { return path_; }

  // Whether the log's tables are there and the file is in WAL mode.
  bool HasTables();

  // Whether path still names the file this database has open: a log
  // removed or replaced since is opened anew.
  bool StillAtPath() const;
  // Whether no transaction is left open, so that another handle may take
  // the database over.
  bool Idle() const { return sqlite3_get_autocommit(db_.get()) != 0; }

  sqlite3* Db() const { return db_.get(); }

  void Exec(const char* sql);

  struct Range {
    DWORD oldest = 0;
    DWORD newest = 0;
    int64_t clears = 0;
    DWORD Count() const { return oldest == 0 ? 0 : newest - oldest + 1; }
  };
  Range ReadRange();

  // Stores a record; returns the number the log gave it.
  DWORD Insert(const std::vector<BYTE>& record);

  // A read transaction's ends, prepared as a reader may read many times.
  void Begin() { Run(begin_.get()); }
  void Commit() noexcept;

  sqlite3_stmt* Forwards() const { return forwards_.get(); }
  sqlite3_stmt* Backwards() const { return backwards_.get(); }

 private:
  void Run(sqlite3_stmt* statement);
  void PrepareStatements();

  Statement Prepare(const char* sql);

  const String path_;
  std::pair<dev_t, ino_t> file_{};
  Database db_;
  Statement insert_, range_, forwards_, backwards_, begin_, commit_;
};

// The databases no handle uses, kept open for the next handle of the same
// log, as the Windows service keeps its logs open: a handle opened to read a
// log once then neither reads the schema again nor sets up the log's WAL,
// and finds the pages it reads in the database's cache. Only a few are
// kept, each with its file open; they are closed when the process exits.
class IdleDatabases {
 public:
  IdleDatabases() { idle_.reserve(kMaxIdle); }

  // An idle database of the log at path, or a newly opened one; throws the
  // Windows code.
  std::unique_ptr<LogDatabase> Take(const String& path);

  // Keeps a database a handle is done with; the oldest idle one is closed
  // when there are too many. One left inside a transaction is closed.
  void Give(std::unique_ptr<LogDatabase> db) noexcept;

  // Closes the idle databases and keeps none from now on.
  void CloseAll();

 private:
  // A child forked from the process that opened the databases must neither
  // use nor close them, as SQLite connections do not survive fork() (the
  // copies share their descriptors and the WAL's shared memory with the
  // parent's): they are left as they are. Called with the lock held.
  void ForgetForkedFrom();

  static constexpr size_t kMaxIdle = 4;
  std::mutex lock_;
  std::vector<std::unique_ptr<LogDatabase>> idle_;  // oldest first
  pid_t owner_ = ::getpid();
  bool closed_ = false;
};

// The process's idle databases.
IdleDatabases& Idle();

}  // namespace ztl::os::eventlog
