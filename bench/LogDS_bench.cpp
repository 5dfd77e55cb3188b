// The dataset change logger's cost per logged event against its floor: a
// bare WriteAsString of the same line. The event is a scroll of a real
// SQLite dataset (Next and Prior in turn), so the logged cost holds the
// dataset's move, the data link's dispatch, the dated line and the write.
// Goal: within 1.2x of the floor. The write's system calls dominate both and
// drift with the file system's state, so run them in turns:
//   LogDS_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchSupport.h"
#include <ztlogger/datasetlog/LogDS.h>
#include <ztlogger/platform/db/SQLiteDB.h>
#include <ztlogger/platform/rtl/DateUtils.h>

namespace {

ztl::bench::ScratchDir& Scratch() {
  static ztl::bench::ScratchDir dir;
  return dir;
}

void WriteAsStringFloor(benchmark::State& state) {
  ztl::TZTLogBase log(nullptr);
  log.SetActive(true);
  log.SetLogFile(Scratch().FreshFile("floor.log"));
  const ztl::String line = ztl::FormatDateTime("c", ztl::Now()) + " dbeDataSetScrolled\r\n";
  for (auto _ : state) log.WriteAsString("CHANGE", line);
}

// Everything but the write: what the logger adds to its floor.
void Scroll(benchmark::State& state, bool toFile) {
  using namespace ztl;
  TSQLiteConnection connection(nullptr);
  connection.SetDatabaseName(":memory:");
  connection.ExecSQL("CREATE TABLE T (Id INTEGER PRIMARY KEY, Name TEXT); INSERT INTO T VALUES (1, 'a'), (2, 'b')");
  TSQLiteTable table(nullptr);
  table.SetConnection(&connection);
  table.SetTableName("T");
  TDataSource source(nullptr);
  source.SetDataSet(&table);
  table.Open();
  TZTDatasetLog log(nullptr);
  log.SetActive(true);
  log.SetLogFile(toFile ? Scratch().FreshFile("changes.log") : "");
  log.SetDataSource(&source);
  bool forward = true;
  for (auto _ : state) {
    if (forward)
      table.Next();
    else
      table.Prior();
    forward = !forward;
  }
}

void LoggedScroll(benchmark::State& state) { Scroll(state, true); }
void LoggedScrollWithoutFile(benchmark::State& state) { Scroll(state, false); }

}  // namespace

BENCHMARK(WriteAsStringFloor)->MinTime(2.0);
BENCHMARK(LoggedScroll)->MinTime(2.0);
BENCHMARK(LoggedScrollWithoutFile)->MinTime(1.0);
