// A whole crash, from starting the process to its report on disk: a program
// with an active exception logger that reads through a null pointer in main
// (CrashReportProgram: the last chance writes the full report with its
// source line from the map) against a program whose SIGSEGV handler writes
// backtrace_symbols_fd's raw frames (CrashBaseline), in the same run. Each
// iteration starts the program, waits for its end and checks that the
// report is on disk; the time is the wall-clock time of all that. Compare
// the Time columns: the ratio is what the logger's report costs a crashing
// program over the least a handler can do.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "BenchSupport.h"
#include "tests/support/RunCommand.h"

namespace {

// Runs program with the report file as its argument, its output dropped;
// false when it did not crash or left no report.
bool CrashOnce(const char* program, const std::string& report) {
  ::unlink(report.c_str());
  ztl::test::RunOptions quiet;
  quiet.output = quiet.errors = ztl::test::Sink::Dropped;
  if (ztl::test::RunProgram({program, report}, quiet).signal == 0) return false;
  struct stat info {};
  return ::stat(report.c_str(), &info) == 0 && info.st_size > 0;
}

void TimeCrashes(benchmark::State& state, const char* program) {
  ztl::bench::ScratchDir scratch;
  const std::string report = scratch.Path() + "/crash.log";
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (!CrashOnce(program, report)) {
      state.SkipWithError("the program did not crash with a report on disk");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}

void BM_CrashToReportOnDisk_BacktraceHandler(benchmark::State& state) { TimeCrashes(state, ZTL_CRASH_BASELINE); }
BENCHMARK(BM_CrashToReportOnDisk_BacktraceHandler)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CrashToReportOnDisk_ExceptionLogger(benchmark::State& state) { TimeCrashes(state, ZTL_CRASH_PROGRAM); }
BENCHMARK(BM_CrashToReportOnDisk_ExceptionLogger)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
