// The cost of a C++ throw and catch in a program that loads the library
// (whose __cxa_throw records every raise) against the same throws in a
// program without it (ThrowCostBaseline, run as a child process, which times
// its own throws, so starting it is not counted). Each benchmark iteration is
// a batch of kThrowsPerBatch throws; all three time their batches with the
// same clock, the process's processor time, so the machine's other load does
// not enter the comparison: compare the Time columns.
// Goal: with no logger asking for call stacks, within 1.1x of the program
// without the library. With stacks asked for, the cost is reported.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "ThrowLoop.h"
#include "tests/support/RunCommand.h"
#include <ztlogger/platform/rtl/ThrowSites.h>

namespace {

using ztl::bench::kThrowsPerBatch;
using ztl::bench::ThrowAndCatch;

// Runs the baseline program for `batches` batches; its time in seconds, or
// a negative value when it could not be run.
double BaselineSeconds(long batches) {
  const ztl::test::CommandRun run = ztl::test::RunProgram({ZTL_THROW_BASELINE, std::to_string(batches)});
  long long nanoseconds = -1;
  const bool read = std::sscanf(run.out.c_str(), "%lld", &nanoseconds) == 1;
  return read && run.status == 0 ? nanoseconds / 1e9 : -1;
}

void BM_ThrowCatch_WithoutLibrary(benchmark::State& state) {
  constexpr long kBatchesPerRun = 20;
  for (auto _ : state) {
    const double seconds = BaselineSeconds(kBatchesPerRun);
    if (seconds < 0) {
      state.SkipWithError("the baseline program could not be run");
      return;
    }
    state.SetIterationTime(seconds / kBatchesPerRun);
  }
  state.SetItemsProcessed(state.iterations() * kThrowsPerBatch);
}
BENCHMARK(BM_ThrowCatch_WithoutLibrary)->UseManualTime()->Unit(benchmark::kMicrosecond);

void ThrowBatches(benchmark::State& state) {
  if (!ztl::ThrowSitesRecorded()) {
    state.SkipWithError("the library's __cxa_throw is not the one in use");
    return;
  }
  unsigned long sink = 0;
  for (auto _ : state) {
    const std::clock_t start = std::clock();
    for (int i = 0; i < kThrowsPerBatch; ++i) sink += ThrowAndCatch();
    state.SetIterationTime(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
  }
  benchmark::DoNotOptimize(sink);
  state.SetItemsProcessed(state.iterations() * kThrowsPerBatch);
}

void BM_ThrowCatch_WithLibrary(benchmark::State& state) { ThrowBatches(state); }
BENCHMARK(BM_ThrowCatch_WithLibrary)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_ThrowCatch_WithLibraryKeepingStacks(benchmark::State& state) {
  ztl::BeginStackCapture();
  ThrowBatches(state);
  ztl::EndStackCapture();
}
BENCHMARK(BM_ThrowCatch_WithLibraryKeepingStacks)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
