// Scanning a 1,000,000-row SQLite table through the query dataset against the
// floor: a bare sqlite3_step loop reading the same four columns into reused
// variables. Goals: the dataset keeping every row read (so Prior and Last
// work) within 1.5x of the floor, UniDirectional (only the current row held)
// within 1.2x. The dataset's scans read the fields as a program would, with
// AsInteger, AsFloat and AsString; one more reads the text with GetData into
// a reused variant, for comparison. Each run reports the peak of the heap
// bytes it had live beyond what it started with (counted by this program's
// operator new): flat for the unidirectional scan, whatever the row count.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <new>
#include <string>

#include "BenchSupport.h"
#include <ztlogger/platform/db/SQLiteDB.h>

namespace {

// The scans run on one thread, so the counts need no atomic read-modify-write:
// a locked add for every allocation and release would be timed with the
// dataset's scans and not with the floor, which allocates nothing.
std::atomic<int64_t> liveBytes{0};
std::atomic<int64_t> peakBytes{0};

void Count(int64_t delta) {
  const int64_t now = liveBytes.load(std::memory_order_relaxed) + delta;
  liveBytes.store(now, std::memory_order_relaxed);
  if (now > peakBytes.load(std::memory_order_relaxed)) peakBytes.store(now, std::memory_order_relaxed);
}

// Every allocation carries its size in front of it.
constexpr size_t Header = alignof(std::max_align_t);

}  // namespace

// Kept out of line: inlined into the standard library's deallocations, GCC's
// -O3 bounds and allocator-pairing checks see the size header's arithmetic
// and the free of a block that operator new handed out.
[[gnu::noinline]] void* operator new(size_t size) {
  auto* block = static_cast<char*>(std::malloc(size + Header));
  if (block == nullptr) throw std::bad_alloc();
  *reinterpret_cast<size_t*>(block) = size;
  Count(static_cast<int64_t>(size));
  return block + Header;
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  char* block = static_cast<char*>(p) - Header;
  Count(-static_cast<int64_t>(*reinterpret_cast<size_t*>(block)));
  std::free(block);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

constexpr int Rows = 1000000;
const char* const Select = "SELECT Id, Name, Amount, Qty FROM Items";

class ScratchDb {
 public:
  ScratchDb() : file_(dir_.Path() + "/items.db") {
    sqlite3* db = nullptr;
    if (sqlite3_open(file_.c_str(), &db) != SQLITE_OK) std::abort();
    const std::string fill =
        "CREATE TABLE Items (Id INTEGER PRIMARY KEY, Name TEXT, Amount REAL, Qty INTEGER);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(Rows) + ") "
        "INSERT INTO Items SELECT i, 'item number ' || i, i * 0.25, i % 97 FROM n;";
    if (sqlite3_exec(db, fill.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    sqlite3_close(db);
  }
  const std::string& File() const { return file_; }

 private:
  ztl::bench::ScratchDir dir_;
  std::string file_;
};

const std::string& Database() {
  static ScratchDb db;
  return db.File();
}

// Opened as the connection component opens its database.
class BareDb {
 public:
  BareDb() {
    if (sqlite3_open_v2(Database().c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
      std::abort();
  }
  ~BareDb() { sqlite3_close(db_); }
  BareDb(const BareDb&) = delete;
  BareDb& operator=(const BareDb&) = delete;

  void Scan() {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, Select, -1, &stmt, nullptr) != SQLITE_OK) std::abort();
    int64_t id = 0, qty = 0;
    double amount = 0;
    std::string name;
    int64_t rows = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      id = sqlite3_column_int64(stmt, 0);
      name.assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)),
                  static_cast<size_t>(sqlite3_column_bytes(stmt, 1)));
      amount = sqlite3_column_double(stmt, 2);
      qty = sqlite3_column_int64(stmt, 3);
      benchmark::DoNotOptimize(id + qty);
      benchmark::DoNotOptimize(amount);
      benchmark::DoNotOptimize(name.data());
      ++rows;
    }
    sqlite3_finalize(stmt);
    if (rows != Rows) std::abort();
  }

 private:
  sqlite3* db_ = nullptr;
};

enum class Text { AsString, IntoVariant };

class DatasetScan {
 public:
  DatasetScan(bool uniDirectional, Text text) : uniDirectional_(uniDirectional), text_(text) {
    connection_.SetDatabaseName(Database());
    query_.SetConnection(&connection_);
    query_.SetUniDirectional(uniDirectional);
    query_.SQL()->SetText(Select);
  }

  // Returns the peak of the heap bytes the scan had live beyond its start.
  int64_t Scan() {
    using namespace ztl;
    const int64_t base = liveBytes.load();
    peakBytes.store(base);
    query_.Open();
    TField* id = query_.Fields()[0];
    TField* name = query_.Fields()[1];
    TField* amount = query_.Fields()[2];
    TField* qty = query_.Fields()[3];
    int64_t rows = 0;
    TVariant nameValue;
    while (!query_.Eof()) {
      benchmark::DoNotOptimize(id->AsInteger() + qty->AsInteger());
      benchmark::DoNotOptimize(amount->AsFloat());
      if (text_ == Text::AsString) {
        benchmark::DoNotOptimize(name->AsString().data());
      } else {
        name->GetData(nameValue);
        benchmark::DoNotOptimize(nameValue.StringRef().data());
      }
      ++rows;
      query_.Next();
    }
    if (!uniDirectional_) {
      // The rows read are kept: the way back works.
      query_.Prior();
      query_.Last();
    }
    const int64_t peak = peakBytes.load() - base;
    query_.Close();
    if (rows != Rows) std::abort();
    return peak;
  }

 private:
  bool uniDirectional_;
  Text text_;
  ztl::TSQLiteConnection connection_{nullptr};
  ztl::TSQLiteQuery query_{nullptr};
};

void BareStepFloor(benchmark::State& state) {
  BareDb db;
  for (auto _ : state) db.Scan();
  state.SetItemsProcessed(state.iterations() * Rows);
}

void QueryScan(benchmark::State& state, bool uniDirectional, Text text) {
  DatasetScan scan(uniDirectional, text);
  int64_t peak = 0;
  for (auto _ : state) peak = std::max(peak, scan.Scan());
  state.SetItemsProcessed(state.iterations() * Rows);
  state.counters["peak_heap_MiB"] = static_cast<double>(peak) / (1024.0 * 1024.0);
}

void QueryScanKeepingRows(benchmark::State& state) { QueryScan(state, false, Text::AsString); }
void QueryScanUniDirectional(benchmark::State& state) { QueryScan(state, true, Text::AsString); }
void QueryScanKeepingRowsGetData(benchmark::State& state) { QueryScan(state, false, Text::IntoVariant); }

// The floor and the dataset's scan keeping rows, in turns, each timed on the
// process's processor clock: the ratio of their sums holds still while this
// machine's speed drifts, which separate runs a minute apart do not.
void KeepingRowsOverFloorInTurns(benchmark::State& state) {
  BareDb db;
  DatasetScan scan(false, Text::AsString);
  std::clock_t floor = 0, dataset = 0;
  for (auto _ : state) {
    const std::clock_t start = std::clock();
    db.Scan();
    const std::clock_t middle = std::clock();
    scan.Scan();
    const std::clock_t end = std::clock();
    floor += middle - start;
    dataset += end - middle;
  }
  state.counters["ratio"] = static_cast<double>(dataset) / static_cast<double>(floor);
}

}  // namespace

BENCHMARK(BareStepFloor)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(QueryScanKeepingRows)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(QueryScanUniDirectional)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(QueryScanKeepingRowsGetData)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(KeepingRowsOverFloorInTurns)->Unit(benchmark::kMillisecond)->MinTime(4.0);
