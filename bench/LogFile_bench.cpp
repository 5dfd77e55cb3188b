// The folder change logger's latency, from a file created to its handler
// running on the main thread, against a bare loop: a thread blocked in poll
// on one inotify descriptor that reads the event and hands it to the main
// thread through a condition variable. Goal: p50 within 2x and p99 within 5x
// of the bare loop. And stopping an idle worker: goal 5 ms at most. And the
// set-up of a subtree watch at three sizes (below).
//
// Each sample starts from an idle watcher: after a report the run pauses a
// few milliseconds, so that the worker's pause after each report is over.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include <ztlogger/filelog/LogFile.h>
#include <ztlogger/platform/rtl/Threads.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kSettle = std::chrono::milliseconds(3);

void CreateFile(const ztl::bench::ScratchDir& dir, int64_t n) { std::ofstream(dir.Path() + "/f" + std::to_string(n)); }

// Reports the percentiles of the samples, in microseconds.
void Report(benchmark::State& state, std::vector<double>& samples) {
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) { return samples[static_cast<size_t>(q * static_cast<double>(samples.size() - 1))]; };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
  state.counters["max_us"] = samples.back();
}

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void BM_BareInotifyLoop(benchmark::State& state) {
  ztl::bench::ScratchDir dir;
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  inotify_add_watch(fd, dir.Path().c_str(), IN_CREATE);
  std::mutex lock;
  std::condition_variable handed;
  int64_t seen = 0;
  bool stop = false;
  std::thread watcher([&] {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      pollfd entry{fd, POLLIN, 0};
      poll(&entry, 1, 50);
      const bool got = read(fd, buffer, sizeof buffer) > 0;
      std::lock_guard guard(lock);
      if (stop) return;
      if (got) ++seen;
      handed.notify_all();
    }
  });
  std::vector<double> samples;
  int64_t n = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    CreateFile(dir, ++n);
    {
      std::unique_lock guard(lock);
      handed.wait(guard, [&] { return seen == n; });
    }
    const auto elapsed = Clock::now() - start;
    state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    samples.push_back(Micros(elapsed));
    std::this_thread::sleep_for(kSettle);
  }
  {
    std::lock_guard guard(lock);
    stop = true;
  }
  watcher.join();
  close(fd);
  Report(state, samples);
}
BENCHMARK(BM_BareInotifyLoop)->UseManualTime()->Iterations(300);

struct Counter : ztl::TObject {
  int64_t reports = 0;
  void Notified(ztl::TObject*, ztl::TFileNotificationOption) { ++reports; }
};

void BM_FileLogToHandler(benchmark::State& state) {
  ztl::bench::ScratchDir dir;
  Counter counter;
  ztl::TZTFileLog log(nullptr);
  log.SetFolder(dir.Path());
  log.SetOptions({ztl::foFile});
  log.SetOnFileNotification(ztl::MakeMethod<&Counter::Notified>(&counter));
  log.SetActive(true);
  std::vector<double> samples;
  int64_t n = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    CreateFile(dir, ++n);
    while (counter.reports < n) ztl::CheckSynchronize(1000);
    const auto elapsed = Clock::now() - start;
    state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    samples.push_back(Micros(elapsed));
    std::this_thread::sleep_for(kSettle);
  }
  Report(state, samples);
}
BENCHMARK(BM_FileLogToHandler)->UseManualTime()->Iterations(300);

// Deactivating an idle watcher: the worker is woken, ends and is joined.
void BM_FileLogStop(benchmark::State& state) {
  ztl::bench::ScratchDir dir;
  ztl::TZTFileLog log(nullptr);
  log.SetFolder(dir.Path());
  std::vector<double> samples;
  for (auto _ : state) {
    log.SetActive(true);
    std::this_thread::sleep_for(kSettle);  // the worker waits
    const auto start = Clock::now();
    log.SetActive(false);
    const auto elapsed = Clock::now() - start;
    state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    samples.push_back(Micros(elapsed));
  }
  Report(state, samples);
}
BENCHMARK(BM_FileLogStop)->UseManualTime()->Iterations(100);

// Setting up a subtree watch: the folder change logger with its default
// options and foWatchSubFolders activated over a tree of 1,000, 10,000 and
// 50,000 folders (and deactivated, untimed), against a bare walk that adds
// one inotify watch per folder. Processor time of the activating thread,
// for the growth the report prints per folder.

// A tree of about `folders` folders, two levels deep, made once per size.
const std::string& Tree(int64_t folders) {
  static ztl::bench::ScratchDir scratch;
  static std::map<int64_t, std::string> trees;
  auto [found, added] = trees.try_emplace(folders, scratch.Path() + "/tree" + std::to_string(folders));
  if (added) {
    const int64_t perFolder = 100;
    for (int64_t i = 0; i < folders; ++i)
      std::filesystem::create_directories(found->second + "/a" + std::to_string(i / perFolder) + "/b" +
                                          std::to_string(i % perFolder));
  }
  return found->second;
}

void BM_SubtreeWatchSetUp(benchmark::State& state) {
  const std::string& tree = Tree(state.range(0));
  ztl::TZTFileLog log(nullptr);
  log.SetFolder(tree);
  log.SetOptions({ztl::foFile, ztl::foFolder, ztl::foWatchSubFolders});
  for (auto _ : state) {
    log.SetActive(true);
    state.PauseTiming();
    log.SetActive(false);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
// One iteration a repetition: removing the watches again (untimed) takes
// longer than adding them.
BENCHMARK(BM_SubtreeWatchSetUp)->Arg(1000)->Arg(10000)->Arg(50000)->Iterations(1)->Unit(benchmark::kMillisecond);

void WatchEachFolder(int fd, const std::string& folder) {
  if (inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR) < 0)
    std::abort();
  DIR* dir = opendir(folder.c_str());
  if (!dir) std::abort();
  while (const dirent* entry = readdir(dir))
    if (entry->d_type == DT_DIR && entry->d_name[0] != '.') WatchEachFolder(fd, folder + "/" + entry->d_name);
  closedir(dir);
}

void BM_BareInotifyWalk_Floor(benchmark::State& state) {
  const std::string& tree = Tree(state.range(0));
  for (auto _ : state) {
    const int fd = inotify_init1(IN_CLOEXEC);
    WatchEachFolder(fd, tree);
    state.PauseTiming();
    close(fd);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BareInotifyWalk_Floor)->Arg(1000)->Arg(10000)->Arg(50000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
