// The registry against its floors, side by side in one run:
// - reading one string value through TRegistry (key open) against opening,
//   reading and closing one small file. Goal: within 3x.
// - the latency from a value written to the registry change logger's handler
//   running on the main thread, against a bare inotify loop that sees the
//   same kind of write (a file renamed into a folder). Goal: p50 within 2x.
// - enumerating the values of one key against reading each value file once
//   (below, at three sizes).
// Each latency benchmark reports its median as the counter p50_us.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/rtl/Registry.h>
#include <ztlogger/platform/rtl/Threads.h>
#include <ztlogger/platform/rtl/Unicode.h>
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

// Enumerating every value of one key (RegEnumValueW: name, type and data)
// against its floor, reading each value file of the key's folder once (the
// folder listed, each file opened, read and closed). At 1,000, 10,000 and
// 100,000 values, for the growth the report prints per value. Goal at
// 100,000: within 1.3x.
namespace {

// The key's name under HKEY_CURRENT_USER\Software and the folder the store
// keeps it in, filled with values once per run.
std::string EnumKey(int64_t values) {
  static std::map<int64_t, std::string> folders;
  auto [found, added] = folders.try_emplace(values);
  if (!added) return found->second;
  const std::u16string name = u"Software\\Enum" + ztl::unicode::Utf8ToUtf16(std::to_string(values));
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    std::abort();
  const std::u16string data = u"C:\\Program Files\\Velmora\\messages.dll";
  for (int64_t i = 0; i < values; ++i) {
    const std::u16string value = u"Value" + ztl::unicode::Utf8ToUtf16(std::to_string(i));
    if (RegSetValueExW(key, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(char16_t))) != ERROR_SUCCESS)
      std::abort();
  }
  RegCloseKey(key);
  // The folder that holds the values: the new one with that many files.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(Scratch().Path())) {
    if (!entry.is_directory()) continue;
    int64_t files = 0;
    for (const auto& inside : std::filesystem::directory_iterator(entry.path())) files += inside.is_regular_file();
    const bool known = std::any_of(folders.begin(), folders.end(),
                                   [&](const auto& other) { return other.second == entry.path().string(); });
    if (files >= values && !known) found->second = entry.path().string();
  }
  if (found->second.empty()) std::abort();
  return found->second;
}

void BM_RegEnumValues(benchmark::State& state) {
  Scratch();
  EnumKey(state.range(0));
  const std::u16string name = u"Software\\Enum" + ztl::unicode::Utf8ToUtf16(std::to_string(state.range(0)));
  char16_t valueName[REG_MAX_VALUE_NAME + 1];
  BYTE data[4096];
  for (auto _ : state) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) std::abort();
    int64_t seen = 0;
    for (DWORD index = 0;; ++index) {
      DWORD length = REG_MAX_VALUE_NAME + 1, type = 0, size = sizeof data;
      const LSTATUS status = RegEnumValueW(key, index, valueName, &length, nullptr, &type, data, &size);
      if (status == ERROR_NO_MORE_ITEMS) break;
      if (status != ERROR_SUCCESS) std::abort();
      ++seen;
    }
    RegCloseKey(key);
    if (seen != state.range(0)) std::abort();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RegEnumValues)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ReadEachValueFile_Floor(benchmark::State& state) {
  Scratch();
  const std::string folder = EnumKey(state.range(0));
  char buffer[4096];
  for (auto _ : state) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) std::abort();
    const int at = dirfd(dir);
    int64_t read = 0;
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_type != DT_REG) continue;
      const int fd = openat(at, entry->d_name, O_RDONLY | O_CLOEXEC);
      if (fd < 0) std::abort();
      benchmark::DoNotOptimize(::read(fd, buffer, sizeof buffer));
      close(fd);
      ++read;
    }
    closedir(dir);
    if (read < state.range(0)) std::abort();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadEachValueFile_Floor)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
