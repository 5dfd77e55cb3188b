// How long a program that uses the library takes to reach main (its shared
// libraries loaded and initialised) against a C++ hello world, run in turns
// in the same run: each iteration starts the hello world and then the
// library's program (start/StartLogger.cpp: a text log and an exception
// logger), both told to end at main, and counts the processor time each
// child used (wait4's resource usage), so the machine's other load does not
// enter the comparison. Goal: the library's program within 2x the hello
// world.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <string>

extern char** environ;

namespace {

// The processor time in seconds the program used to reach its main and end,
// or a negative value when it could not be run.
double StartSeconds(const char* program) {
  char toMain[] = "--to-main";
  char* argv[] = {const_cast<char*>(program), toMain, nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, program, nullptr, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
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
