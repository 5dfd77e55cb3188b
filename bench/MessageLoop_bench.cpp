// A message posted by a worker to its handler on the main thread: the
// application's loop waiting in GLib's main loop (the GTK widget set, on the
// display $DISPLAY names, else on an X server of its own) against the same
// loop waiting on its queue alone (headless). Goal: p50 within 2x of
// headless.
//
// The worker posts once the main thread has gone to sleep in its wait, so
// each sample includes waking it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/GtkWidgetSet.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/Testing.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// An X server for the run when there is no display: Xvfb tells its display
// number through a pipe once it accepts clients; it is stopped at exit.
class VirtualDisplay {
 public:
  VirtualDisplay() {
    const char* display = std::getenv("DISPLAY");
    if (display && *display) return;
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>("Xvfb"),      const_cast<char*>("-displayfd"), const_cast<char*>("3"),
                    const_cast<char*>("-nolisten"), const_cast<char*>("tcp"),        nullptr};
    const bool spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string number;
    pollfd waiter{fds[0], POLLIN, 0};
    char c = 0;
    while (spawned && poll(&waiter, 1, 20000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!spawned) pid_ = 0;
    if (!number.empty()) setenv("DISPLAY", (":" + number).c_str(), 1);
  }
  ~VirtualDisplay() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

 private:
  pid_t pid_ = 0;
};

void Report(benchmark::State& state, std::vector<double>& samples) {
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) { return samples[static_cast<size_t>(q * static_cast<double>(samples.size() - 1))]; };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
}

// state.range(0): 0 headless, 1 GTK.
void BM_PostToHandler(benchmark::State& state) {
  static VirtualDisplay display;  // GTK keeps its display for the process
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
