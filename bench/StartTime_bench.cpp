// How long a program that uses the library takes to reach main (its shared
// libraries loaded and initialised) against a C++ hello world, run in turns
// in the same run: each iteration starts the hello world and then the
// library's program (start/StartLogger.cpp: a text log and an exception
// logger), both told to end at main, and counts the processor time each
// child used (wait4's resource usage), so the machine's other load does not
// enter the comparison. Goal: the library's program within 2x the hello
// world.
#include <benchmark/benchmark.h>

#include "tests/support/RunCommand.h"

namespace {

// The processor time in seconds the program used to reach its main and end,
// or a negative value when it could not be run.
double StartSeconds(const char* program) {
  const ztl::test::CommandRun run = ztl::test::RunProgram({program, "--to-main"});
  return run.status == 0 ? run.cpuSeconds : -1;
}

void BM_StartToMain_LibraryAgainstHelloWorld(benchmark::State& state) {
  double hello = 0;
  double library = 0;
  for (auto _ : state) {
    const double floor = StartSeconds(ZTL_START_HELLO);
    const double subject = StartSeconds(ZTL_START_LOGGER);
    if (floor < 0 || subject < 0) {
      state.SkipWithError("a start program could not be run");
      return;
    }
    hello += floor;
    library += subject;
    state.SetIterationTime(subject);
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["hello_us"] = hello / runs * 1e6;
  state.counters["library_us"] = library / runs * 1e6;
  state.counters["ratio"] = hello > 0 ? library / hello : 0;
}
BENCHMARK(BM_StartToMain_LibraryAgainstHelloWorld)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);

}  // namespace
