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
// - ztl-evt's query of the 10,000 records against the same reading in this
//   process plus a trivial program's start; whole-log reads at three sizes;
//   loading the 64 MiB module from its file against reading the file.
// Rates are reported as items per second.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include <ztlogger/platform/os/FileMapping.h>
#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/messages/Format.h>
#include <ztlogger/platform/os/messages/PeFile.h>
#include <ztlogger/platform/os/registry/Api.h>

extern char** environ;

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
  const std::u16string files = u"" ZTL_BENCH_MESSAGES;
  RegSetValueExW(key, u"EventMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(files.c_str()),
                 static_cast<DWORD>((files.size() + 1) * sizeof(char16_t)));
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

// Reads every record of the log "Bench" with its message text from the
// module; the characters formatted.
size_t ReadWithMessages(HMODULE module, std::vector<BYTE>& buffer) {
  size_t characters = 0;
  HANDLE log = OpenEventLogW(nullptr, u"Bench");
  DWORD read = 0, needed = 0;
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
  return characters;
}

void BM_ReadEventLogWithMessages(benchmark::State& state) {
  FillBenchLog();
  HMODULE module = LoadLibraryExW(u"" ZTL_BENCH_MESSAGES, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) std::abort();
  std::vector<BYTE> buffer(0x10000);
  for (auto _ : state) benchmark::DoNotOptimize(ReadWithMessages(module, buffer));
  FreeLibrary(module);
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_ReadEventLogWithMessages)->Unit(benchmark::kMillisecond);

// The processor time a child used, run with its output thrown away; a
// negative value when it could not be run or failed.
double ChildSeconds(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double ProcessSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// `ztl-evt query` of the 10,000 records, in a process of its own, against
// its floor: the same reading and formatting in this process (the module
// loaded once) plus the start of a trivial program run the same way. In
// turns, processor time; the counter "ratio" is tool over floor. Goal: 2x.
void BM_EvtQueryAgainstInProcess(benchmark::State& state) {
  FillBenchLog();
  std::vector<BYTE> buffer(0x10000);
  double tool = 0, loop = 0, start = 0;
  for (auto _ : state) {
    const double query = ChildSeconds({ZTL_EVT_TOOL, "query", "Bench", "--oldest-first"});
    const double trivial = ChildSeconds({ZTL_TRIVIAL_PROGRAM, "--to-main"});
    if (query < 0 || trivial < 0) {
      state.SkipWithError("ztl-evt or the trivial program could not be run");
      return;
    }
    const double before = ProcessSeconds();
    HMODULE module = LoadLibraryExW(u"" ZTL_BENCH_MESSAGES, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    benchmark::DoNotOptimize(ReadWithMessages(module, buffer));
    FreeLibrary(module);
    loop += ProcessSeconds() - before;
    tool += query;
    start += trivial;
    state.SetIterationTime(query);
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["tool_ms"] = tool / runs * 1e3;
  state.counters["loop_ms"] = loop / runs * 1e3;
  state.counters["start_ms"] = start / runs * 1e3;
  state.counters["ratio"] = tool / (loop + start);
}
BENCHMARK(BM_EvtQueryAgainstInProcess)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// Sequential reads of a whole log of 10,000, 100,000 and 1,000,000 records
// (no message texts), for the growth the report prints per record. Each log
// is filled once per run: a thousand entries reported, then copied within
// its database until it holds the count.
void FillGrowthLog(int64_t records, const std::u16string& log) {
  const std::u16string source = log + u"Source";
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\" + log + u"\\" + source).c_str(),
                      0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    std::abort();
  RegCloseKey(key);
  HANDLE writer = RegisterEventSourceW(nullptr, source.c_str());
  for (int64_t i = 0; i < std::min<int64_t>(records, 1000); ++i)
    if (!ReportOne(writer)) std::abort();
  DeregisterEventSource(writer);
  std::string file = Scratch().Path() + "/eventlog/";
  for (char16_t c : log) file += static_cast<char>(c >= u'A' && c <= u'Z' ? c + 0x20 : c);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((file + ".db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) std::abort();
  sqlite3_busy_timeout(db, 5000);
  for (int64_t have = std::min<int64_t>(records, 1000); have < records;) {
    const int64_t more = std::min(have, records - have);
    const std::string copy =
        "INSERT INTO records(record) SELECT record FROM records ORDER BY number LIMIT " + std::to_string(more);
    if (sqlite3_exec(db, copy.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    have += more;
  }
  sqlite3_close(db);
}

// The floor of reading a log: its database's records stepped through with
// SQLite alone, as the log's reader selects them.
void SelectEveryRecord(benchmark::State& state, const std::string& database, int64_t expected) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((Scratch().Path() + "/eventlog/" + database + ".db").c_str(), &db, SQLITE_OPEN_READONLY,
                      nullptr) != SQLITE_OK)
    std::abort();
  for (auto _ : state) {
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT number, record FROM records WHERE number >= 1 ORDER BY number", -1, &select,
                       nullptr);
    int64_t records = 0;
    size_t bytes = 0;
    for (; sqlite3_step(select) == SQLITE_ROW; ++records)
      bytes += static_cast<size_t>(sqlite3_column_bytes(select, 1));
    sqlite3_finalize(select);
    benchmark::DoNotOptimize(bytes);
    if (records != expected) std::abort();
  }
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * expected);
}

// The log of `records` records for the growth benchmarks, filled once for
// all of them.
std::u16string GrowthLog(int64_t records) {
  Scratch();
  const std::string count = std::to_string(records);
  const std::u16string log = u"Growth" + std::u16string(count.begin(), count.end());
  static std::vector<int64_t> filled;
  if (std::find(filled.begin(), filled.end(), records) == filled.end()) {
    FillGrowthLog(records, log);
    filled.push_back(records);
  }
  return log;
}

void BM_ReadEventLogRecords(benchmark::State& state) {
  const std::u16string log = GrowthLog(state.range(0));
  std::vector<BYTE> buffer(0x10000);
  for (auto _ : state) {
    HANDLE handle = OpenEventLogW(nullptr, log.c_str());
    DWORD read = 0, needed = 0;
    int64_t records = 0;
    while (ReadEventLogW(handle, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &read, &needed))
      for (DWORD at = 0; at < read; ++records) at += reinterpret_cast<const EVENTLOGRECORD*>(buffer.data() + at)->Length;
    CloseEventLog(handle);
    if (records != state.range(0)) std::abort();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadEventLogRecords)->Arg(10000)->Arg(100000)->Arg(1000000)->MinTime(0.2)->Unit(benchmark::kMillisecond);

// Its floor at each size: the same records stepped through with SQLite
// alone, as the log's reader selects them. Past the database's page cache a
// record costs more whoever reads it; the report compares the growth of the
// two.
void BM_SelectEventLogRecords_Floor(benchmark::State& state) {
  GrowthLog(state.range(0));
  SelectEveryRecord(state, "growth" + std::to_string(state.range(0)), state.range(0));
}
BENCHMARK(BM_SelectEventLogRecords_Floor)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->MinTime(0.2)
    ->Unit(benchmark::kMillisecond);

void BM_SqliteSelect_Floor(benchmark::State& state) {
  FillBenchLog();
  SelectEveryRecord(state, "bench", kRecords);
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

// Loading the 64 MiB module from its file (LoadLibraryExW, its tables, its
// last message found) against reading the file whole: processor time, and
// the most memory each needed beyond what the process held before, as a
// share of the file's size (the counter "peak_over_file"). The peak is
// taken from the kernel's high-water mark, reset before each load. Goals:
// well under a second, memory about the file's size.
const std::string& LargeModuleFile() {
  static const std::string path = [] {
    uint32_t lastId = 0;
    const std::string bytes = LargeMessageModule(lastId);
    const std::string file = Scratch().Path() + "/large.dll";
    FILE* out = std::fopen(file.c_str(), "wb");
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) std::abort();
    std::fclose(out);
    return file;
  }();
  return path;
}

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM").
double StatusBytes(const char* field) {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return 0;
  char line[256];
  double kib = 0;
  const size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, status))
    if (std::strncmp(line, field, length) == 0 && line[length] == ':') kib = std::atof(line + length + 1);
  std::fclose(status);
  return kib * 1024;
}

// Resets the high-water mark of the resident memory to what is resident now.
void ResetPeak() {
  FILE* refs = std::fopen("/proc/self/clear_refs", "w");
  if (!refs) return;
  std::fputs("5", refs);
  std::fclose(refs);
}

template <typename Load>
void MeasurePeak(benchmark::State& state, Load load) {
  const std::string& file = LargeModuleFile();
  const double size = static_cast<double>(std::filesystem::file_size(file));
  double peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ResetPeak();
    const double before = StatusBytes("VmRSS");
    state.ResumeTiming();
    load(file);
    state.PauseTiming();
    peak = std::max(peak, StatusBytes("VmHWM") - before);
    state.ResumeTiming();
  }
  state.counters["peak_over_file"] = peak / size;
  state.counters["peak_mb"] = peak / (1 << 20);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_LoadLargeMessageModule(benchmark::State& state) {
  static uint32_t lastId = ((64u << 20) - 0x400) / 8;
  MeasurePeak(state, [&](const std::string& file) {
    // A new modification time, so that the module is read again rather
    // than found among the tables already parsed.
    static long stamp = 0;
    const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, ++stamp % 1000000000}};
    utimensat(AT_FDCWD, file.c_str(), times, 0);
    const std::u16string name(file.begin(), file.end());
    HMODULE module = LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) std::abort();
    DWORD error = 0;
    if (!ztl::os::FindMessage(*ztl::os::MessageTablesOf(module), lastId, 0, error)) std::abort();
    FreeLibrary(module);
  });
}
BENCHMARK(BM_LoadLargeMessageModule)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ReadLargeMessageModule_Floor(benchmark::State& state) {
  MeasurePeak(state, [](const std::string& file) {
    std::string bytes;
    if (ztl::os::ReadWholeFile(file, bytes) != 0) std::abort();
    benchmark::DoNotOptimize(bytes.data());
  });
}
BENCHMARK(BM_ReadLargeMessageModule_Floor)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
