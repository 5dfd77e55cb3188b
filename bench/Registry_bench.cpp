// The registry against its floors, side by side in one run:
// - reading one string value through TRegistry (key open) against opening,
//   reading and closing one small file. Goal: within 3x.
// - the latency from a value written to the registry change logger's handler
//   running on the main thread, against a bare inotify loop that sees the
//   same kind of write (a file renamed into a folder). Goal: p50 within 2x.
// Each latency benchmark reports its median as the counter p50_us.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/rtl/Registry.h>
#include <ztlogger/platform/rtl/Threads.h>
#include <ztlogger/registrylog/LogRegistry.h>

namespace {

using Clock = std::chrono::steady_clock;

ztl::bench::ScratchDir& Scratch() {
  static ztl::bench::ScratchDir prefix(true);
  return prefix;
}

const std::string kText = "C:\\Program Files\\Velmora\\messages.dll";

void BM_TRegistryReadString(benchmark::State& state) {
  Scratch();
  ztl::TRegistry reg;
  if (!reg.OpenKey("Software\\Bench", true)) std::abort();
  reg.WriteString("EventMessageFile", kText);
  for (auto _ : state) benchmark::DoNotOptimize(reg.ReadString("EventMessageFile"));
}
BENCHMARK(BM_TRegistryReadString);

void BM_SmallFileRead_Floor(benchmark::State& state) {
  const std::string path = Scratch().Path() + "/small";
  {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (write(fd, kText.data(), kText.size()) < 0) std::abort();
    close(fd);
  }
  char buffer[4096];
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    benchmark::DoNotOptimize(read(fd, buffer, sizeof buffer));
    close(fd);
  }
}
BENCHMARK(BM_SmallFileRead_Floor);

void ReportLatencies(benchmark::State& state, std::vector<double>& micros) {
  std::sort(micros.begin(), micros.end());
  if (!micros.empty()) state.counters["p50_us"] = micros[micros.size() / 2];
}

struct Handler : ztl::TObject {
  int calls = 0;
  void Count(ztl::TObject*) { ++calls; }
};

void BM_RegistryChangeToHandler(benchmark::State& state) {
  Scratch();
  ztl::SetMainThreadID(std::this_thread::get_id());
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Velmora", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    std::abort();
  Handler handler;
  ztl::TZTRegistryLog log(nullptr);
  log.SetOptions({ztl::roLastSet});
  log.SetOnRegistryNotification(ztl::MakeMethod<&Handler::Count>(&handler));
  log.SetActive(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the worker registers
  std::vector<double> micros;
  DWORD value = 0;
  for (auto _ : state) {
    const int before = handler.calls;
    const auto start = Clock::now();
    RegSetValueExW(key, u"Tick", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    ++value;
    while (handler.calls == before) ztl::CheckSynchronize(1000);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(elapsed);
    micros.push_back(elapsed * 1e6);
  }
  log.SetActive(false);
  RegCloseKey(key);
  ReportLatencies(state, micros);
}
BENCHMARK(BM_RegistryChangeToHandler)->UseManualTime()->Iterations(2000);

void BM_InotifyRenameSeen_Floor(benchmark::State& state) {
  const std::string folder = Scratch().Path() + "/watched";
  std::filesystem::create_directories(folder);
  const int fd = inotify_init1(IN_CLOEXEC);
  inotify_add_watch(fd, folder.c_str(), IN_MOVED_TO | IN_CREATE | IN_DELETE);
  std::vector<double> micros;
  alignas(inotify_event) char buffer[4096];
  const std::string temp = folder + "/.tmp", target = folder + "/value";
  for (auto _ : state) {
    const auto start = Clock::now();
    const int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (write(out, "12345678", 8) < 0) std::abort();
    close(out);
    rename(temp.c_str(), target.c_str());
    bool seen = false;
    while (!seen) {
      const ssize_t got = read(fd, buffer, sizeof buffer);
      for (ssize_t at = 0; at < got;) {
        const auto& event = *reinterpret_cast<const inotify_event*>(buffer + at);
        if (event.mask & IN_MOVED_TO) seen = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
      }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(elapsed);
    micros.push_back(elapsed * 1e6);
  }
  close(fd);
  ReportLatencies(state, micros);
}
BENCHMARK(BM_InotifyRenameSeen_Floor)->UseManualTime()->Iterations(2000);

}  // namespace
