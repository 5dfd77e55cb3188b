// The event log against its floors, side by side in one run:
// - ReportEventW of one entry (two strings) against a bare SQLite insert of a
//   record of the same size into a WAL database set up the same way. Goal:
//   within 1.5x. (The Windows service takes about 40,000 entries a second.)
// - ReadEventLogW of every record of a 10,000-record log with its message
//   text composed from a message module, against a bare SQLite select of the
//   same rows. Goal: within 2x.
// Rates are reported as items per second.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include <ztlogger/platform/os/EventLog.h>
#include <ztlogger/platform/os/FormatMessage.h>
#include <ztlogger/platform/os/MessageFiles.h>
#include <ztlogger/platform/os/Registry.h>

namespace {

constexpr int kRecords = 10000;

ztl::bench::ScratchDir& Scratch() {
  static ztl::bench::ScratchDir prefix(true);
  return prefix;
}

const std::u16string kUser = u"ann";
const std::u16string kHost = u"workstation-17";

BOOL ReportOne(HANDLE source) {
  LPCWSTR strings[] = {kUser.c_str(), kHost.c_str()};
  return ReportEventW(source, EVENTLOG_INFORMATION_TYPE, 0, 1000, nullptr, 2, 0, strings, nullptr);
}

// The log "Bench", with a source whose messages come from the module.
void RegisterSource() {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Bench\\BenchSource", 0,
                      nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    std::abort();
  RegCloseKey(key);
}

void BM_ReportEventW(benchmark::State& state) {
  Scratch();
  HANDLE source = RegisterEventSourceW(nullptr, u"ReportSource");  // to Application
  if (!source) std::abort();
  for (auto _ : state)
    if (!ReportOne(source)) std::abort();
  DeregisterEventSource(source);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReportEventW);

sqlite3* OpenBare(const std::string& name) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((Scratch().Path() + "/" + name).c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK)
    std::abort();
  sqlite3_exec(db,
               "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
               "CREATE TABLE IF NOT EXISTS records(number INTEGER PRIMARY KEY AUTOINCREMENT, record BLOB NOT NULL)",
               nullptr, nullptr, nullptr);
  return db;
}

void BM_SqliteInsert_Floor(benchmark::State& state) {
  sqlite3* db = OpenBare("insert.db");
  const std::vector<unsigned char> record(120, 7);  // about the size of the entry above
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO records(record) VALUES (?)", -1, &insert, nullptr);
  for (auto _ : state) {
    sqlite3_bind_blob(insert, 1, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
    if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SqliteInsert_Floor);

// A log of kRecords entries, filled once.
void FillBenchLog() {
  static bool filled = false;
  if (filled) return;
  Scratch();
  RegisterSource();
  HANDLE source = RegisterEventSourceW(nullptr, u"BenchSource");
  HANDLE log = OpenEventLogW(nullptr, u"Bench");
  DWORD count = 0;
  GetNumberOfEventLogRecords(log, &count);
  for (DWORD i = count; i < kRecords; ++i) ReportOne(source);
  CloseEventLog(log);
  DeregisterEventSource(source);
  filled = true;
}

void BM_ReadEventLogWithMessages(benchmark::State& state) {
  FillBenchLog();
  HMODULE module = LoadLibraryExW(u"" ZTL_BENCH_MESSAGES, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) std::abort();
  std::vector<BYTE> buffer(0x10000);
  for (auto _ : state) {
    HANDLE log = OpenEventLogW(nullptr, u"Bench");
    DWORD read = 0, needed = 0;
    size_t characters = 0;
    while (ReadEventLogW(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &read, &needed)) {
      for (DWORD at = 0; at < read;) {
        EVENTLOGRECORD head;
        std::memcpy(&head, buffer.data() + at, sizeof head);
        const auto* first = reinterpret_cast<const char16_t*>(buffer.data() + at + head.StringOffset);
        const DWORD_PTR inserts[] = {
            reinterpret_cast<DWORD_PTR>(first),
            reinterpret_cast<DWORD_PTR>(first + std::char_traits<char16_t>::length(first) + 1)};
        LPWSTR text = nullptr;
        characters += FormatMessageW(0x2900, module, head.EventID, 0, reinterpret_cast<LPWSTR>(&text), 0,
                                     reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(inserts)));
        LocalFree(text);
        at += head.Length;
      }
    }
    CloseEventLog(log);
    benchmark::DoNotOptimize(characters);
  }
  FreeLibrary(module);
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_ReadEventLogWithMessages)->Unit(benchmark::kMillisecond);

void BM_SqliteSelect_Floor(benchmark::State& state) {
  FillBenchLog();
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((Scratch().Path() + "/eventlog/bench.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
      SQLITE_OK)
    std::abort();
  for (auto _ : state) {
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT number, record FROM records WHERE number >= 1 ORDER BY number", -1, &select,
                       nullptr);
    size_t bytes = 0;
    while (sqlite3_step(select) == SQLITE_ROW) bytes += static_cast<size_t>(sqlite3_column_bytes(select, 1));
    sqlite3_finalize(select);
    benchmark::DoNotOptimize(bytes);
  }
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_SqliteSelect_Floor)->Unit(benchmark::kMillisecond);

}  // namespace
