// A message posted by a worker to its handler on the main thread: the
// application's loop waiting in GLib's main loop (the GTK widget set, on the
// display $DISPLAY names, else on an X server of its own) against the same
// loop waiting on its queue alone (headless). Goal: p50 within 2x of
// headless.
//
// The worker posts once the main thread has gone to sleep in its wait, so
// each sample includes waking it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/GtkWidgetSet.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/Testing.h>
#include "tests/support/Xvfb.h"

namespace {

using Clock = std::chrono::steady_clock;

void Report(benchmark::State& state, std::vector<double>& samples) {
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) { return samples[static_cast<size_t>(q * static_cast<double>(samples.size() - 1))]; };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
}

// state.range(0): 0 headless, 1 GTK.
void BM_PostToHandler(benchmark::State& state) {
  // GTK keeps its display for the process: a server of its own when there
  // is none.
  static std::optional<ztl::test::Xvfb> display;
  const char* given = std::getenv("DISPLAY");
  if (!display && !(given && *given)) display.emplace(1280, 1024);
  ztl::ResetApplicationState();
  if (state.range(0) == 1) {
    try {
      ztl::SetWidgetSet(ztl::CreateGtkWidgetSet());
    } catch (const ztl::Exception& e) {
      state.SkipWithError(e.Message().c_str());
      return;
    }
  }
  std::atomic<int64_t> asked{0};
  std::atomic<bool> stop{false};
  Clock::time_point posted;
  Clock::duration latency{};
  int64_t handled = 0;
  std::thread worker([&] {
    int64_t done = 0;
    while (!stop.load()) {
      if (asked.load() == done) {
        std::this_thread::yield();
        continue;
      }
      // Long enough for the main thread to be asleep in its wait.
      std::this_thread::sleep_for(std::chrono::microseconds(300));
      posted = Clock::now();
      ztl::Application->QueueCall([&] {
        latency = Clock::now() - posted;
        ++handled;
      });
      ++done;
    }
  });
  std::vector<double> samples;
  for (auto _ : state) {
    const int64_t target = handled + 1;
    asked.fetch_add(1);
    while (handled < target) ztl::Application->HandleMessage();
    state.SetIterationTime(std::chrono::duration<double>(latency).count());
    samples.push_back(std::chrono::duration<double, std::micro>(latency).count());
  }
  stop = true;
  worker.join();
  ztl::ResetApplicationState();
  Report(state, samples);
  state.SetLabel(state.range(0) == 1 ? "gtk3" : "headless");
}
BENCHMARK(BM_PostToHandler)->Arg(0)->Arg(1)->UseManualTime()->Iterations(500);

}  // namespace
