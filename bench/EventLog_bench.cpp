// The event log against its floors, side by side in one run:
// - ReportEventW of one entry (two strings) against a bare SQLite insert of a
//   record of the same size into a WAL database set up the same way. Goal:
//   within 1.5x. (The Windows service takes about 40,000 entries a second.)
// - ReadEventLogW of every record of a 10,000-record log with its message
//   text composed from a message module, against a bare SQLite select of the
//   same rows. Goal: within 2x.
// - Reading the message tables of a 64 MiB message module (one block of some
//   eight million short messages) and finding its last message. Goal: well
//   under a second, in memory about the module's size.
// Rates are reported as items per second.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/messages/Format.h>
#include <ztlogger/platform/os/messages/PeFile.h>
#include <ztlogger/platform/os/registry/Api.h>

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

// A PE32+ module of about 64 MiB whose message table (language 0x409) is one
// block of ANSI messages "ab", ids 1 on.
std::string LargeMessageModule(uint32_t& lastId) {
  constexpr uint32_t kEntry = 8;
  const uint32_t entries = ((64u << 20) - 0x400) / kEntry;
  lastId = entries;
  std::string bytes(0x258 + 16 + size_t{entries} * kEntry, '\0');
  auto put = [&](size_t at, uint32_t value, size_t size) {
    for (size_t i = 0; i < size; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
  };
  const auto resources = static_cast<uint32_t>(bytes.size() - 0x200);
  put(0, 0x5A4D, 2), put(0x3C, 0x40, 4), put(0x40, 0x4550, 4), put(0x46, 1, 2), put(0x54, 0xF0, 2);
  put(0x58, 0x20B, 2), put(0x58 + 108, 16, 4), put(0x58 + 128, 0x1000, 4), put(0x58 + 132, resources, 4);
  const size_t section = 0x58 + 0xF0;
  put(section + 8, resources, 4), put(section + 12, 0x1000, 4), put(section + 16, resources, 4);
  put(section + 20, 0x200, 4);
  const size_t root = 0x200;  // type 11 -> name 1 -> language 0x409 -> data
  put(root + 14, 1, 2), put(root + 16, 11, 4), put(root + 20, 0x80000018, 4);
  put(root + 0x18 + 14, 1, 2), put(root + 0x18 + 16, 1, 4), put(root + 0x18 + 20, 0x80000030, 4);
  put(root + 0x30 + 14, 1, 2), put(root + 0x30 + 16, 0x409, 4), put(root + 0x30 + 20, 0x48, 4);
  put(root + 0x48, 0x1000 + 0x58, 4), put(root + 0x4C, resources - 0x58, 4);
  const size_t table = root + 0x58;
  put(table, 1, 4), put(table + 4, 1, 4), put(table + 8, entries, 4), put(table + 12, 16, 4);
  for (size_t at = table + 16; at < bytes.size(); at += kEntry)
    put(at, kEntry, 2), bytes[at + 4] = 'a', bytes[at + 5] = 'b';
  return bytes;
}

void BM_ParseLargeMessageModule(benchmark::State& state) {
  static uint32_t lastId = 0;
  static const std::string module = LargeMessageModule(lastId);
  for (auto _ : state) {
    auto table = ztl::os::ParseMessageTables(reinterpret_cast<const BYTE*>(module.data()), module.size());
    DWORD error = 0;
    if (!ztl::os::FindMessage(*table, lastId, 0, error)) std::abort();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * module.size()));
}
BENCHMARK(BM_ParseLargeMessageModule)->Unit(benchmark::kMillisecond);

}  // namespace
