// The map reader on a map of a large program's size (about 30 MB: 1,020
// units, 204,000 publics and 1,020,000 line entries), against the floor of
// reading the same file into lines.
//
// Goals:
// - loading within 1.2 times the floor of reading the file into a vector of
//   lines (BM_LoadAgainstFloor times both in turn: load_over_floor <= 1.2);
// - the memory the reader holds, and the most it holds at once while
//   loading, within 1.3 times the file's size (peak_over_file <= 1.3, counted
//   by this program's operator new);
// - a lookup at the last address (every walk at its longest) within 1 ms
//   once the reader has looked up once (BM_LookupLastAddress), and the first
//   lookup of a fresh reader, the load and the index included, within 20 ms
//   (BM_FirstLookupLastAddress). BM_FloorScanText, one pass over the text in
//   memory, is the least any walk over the whole map can take.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <vector>

#include "BenchSupport.h"
#include <ztlogger/exceptionlog/ZTMapFile.h>

// ---- Allocation count -----------------------------------------------------

// Every allocation of the program (the libraries' too) passes the operator
// new below, which keeps the bytes in use and the most in use since the last
// ResetPeak.
namespace {

std::atomic<size_t> bytesInUse{0};
std::atomic<size_t> peakBytes{0};

// Room before each block for its size, kept at the strictest alignment.
constexpr size_t SizeRoom = alignof(std::max_align_t);

void ResetPeak() { peakBytes = bytesInUse.load(); }

}  // namespace

// Out of line: inlined into a caller, the sizes kept before the blocks would
// look to GCC like reads outside what new gave.
[[gnu::noinline]] void* operator new(size_t size) {
  void* block = std::malloc(size + SizeRoom);
  if (!block) throw std::bad_alloc();
  std::memcpy(block, &size, sizeof size);
  const size_t now = bytesInUse += size;
  for (size_t peak = peakBytes; now > peak && !peakBytes.compare_exchange_weak(peak, now);) {
  }
  return static_cast<char*>(block) + SizeRoom;
}

[[gnu::noinline]] void operator delete(void* memory) noexcept {
  if (!memory) return;
  void* block = static_cast<char*>(memory) - SizeRoom;
  size_t size = 0;
  std::memcpy(&size, block, sizeof size);
  bytesInUse -= size;
  std::free(block);
}

[[gnu::noinline]] void operator delete(void* memory, size_t) noexcept { operator delete(memory); }

namespace {

using ztl::String;

constexpr int Units = 1020;
constexpr int PublicsPerUnit = 200;
constexpr int EntriesPerUnit = 1000;
constexpr uint32_t BytesPerEntry = 4;  // each public spans five entries

uint32_t UnitStart(int unit) { return static_cast<uint32_t>(unit) * EntriesPerUnit * BytesPerEntry; }

// A generated map in a temporary folder, removed at exit.
class TLargeMap {
 public:
  TLargeMap() : path_(folder_.Path() + "/large.map") { Write(); }
  TLargeMap(const TLargeMap&) = delete;
  TLargeMap& operator=(const TLargeMap&) = delete;

  const String& Path() const { return path_; }
  size_t Size() const { return static_cast<size_t>(std::filesystem::file_size(path_)); }
  uint32_t LastOffset() const { return UnitStart(Units) - BytesPerEntry; }

 private:
  void Write() {
    std::ofstream out(path_, std::ios::binary);
    char line[128];
    out << " Start         Length     Name                   Class\r\n\r\nDetailed map of segments\r\n\r\n";
    for (int unit = 0; unit < Units; ++unit) {
      std::snprintf(line, sizeof line, " 0001:%08X %08X C=CODE     S=.text    G=(none)   M=Unit%04d ACBP=A9\r\n",
                    UnitStart(unit), UnitStart(1), unit);
      out << line;
    }
    out << "\r\n  Address         Publics by Name\r\n\r\n  Address         Publics by Value\r\n\r\n\r\n";
    for (int unit = 0; unit < Units; ++unit) {
      for (int p = 0; p < PublicsPerUnit; ++p) {
        std::snprintf(line, sizeof line, " 0001:%08X       Unit%04d.Procedure%03d\r\n",
                      UnitStart(unit) + static_cast<uint32_t>(p) * 5 * BytesPerEntry, unit, p);
        out << line;
      }
    }
    std::snprintf(line, sizeof line, " 0001:%08X\r\n\r\n", UnitStart(Units));
    out << line;
    for (int unit = 0; unit < Units; ++unit) {
      std::snprintf(line, sizeof line, "Line numbers for Unit%04d(Unit%04d.cpp) segment .text\r\n\r\n", unit, unit);
      out << line;
      for (int e = 0; e < EntriesPerUnit; ++e) {
        std::snprintf(line, sizeof line, "%6d 0001:%08X", e + 1,
                      UnitStart(unit) + static_cast<uint32_t>(e) * BytesPerEntry);
        out << line << (e % 4 == 3 ? "\r\n" : "");
      }
      out << "\r\n";
    }
  }

  ztl::bench::ScratchDir folder_;  // made before path_
  String path_;
};

const TLargeMap& LargeMap() {
  static const TLargeMap map;
  return map;
}

void BM_FloorReadIntoLines(benchmark::State& state) {
  const String& path = LargeMap().Path();
  for (auto _ : state) {
    ztl::TStringList lines;
    lines.LoadFromFile(path);
    benchmark::DoNotOptimize(lines.Count());
  }
}
BENCHMARK(BM_FloorReadIntoLines)->Unit(benchmark::kMillisecond);

// The same floor without the framework: the bytes into one string, split
// into a vector of strings.
size_t ReadIntoVector(const String& path) {
  std::ifstream in(path, std::ios::binary);
  const String bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<String> lines;
  for (size_t start = 0; start < bytes.size();) {
    size_t end = bytes.find('\n', start);
    if (end == String::npos) end = bytes.size();
    lines.emplace_back(bytes, start, end - start - (end > start && bytes[end - 1] == '\r'));
    start = end + 1;
  }
  return lines.size();
}

void BM_FloorReadIntoVector(benchmark::State& state) {
  const String& path = LargeMap().Path();
  for (auto _ : state) benchmark::DoNotOptimize(ReadIntoVector(path));
}
BENCHMARK(BM_FloorReadIntoVector)->Unit(benchmark::kMillisecond);

// One pass over the map's text in memory, looking for a byte it does not hold.
void BM_FloorScanText(benchmark::State& state) {
  std::ifstream in(LargeMap().Path(), std::ios::binary);
  const String bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (auto _ : state) benchmark::DoNotOptimize(std::memchr(bytes.data(), '~', bytes.size()));
}
BENCHMARK(BM_FloorScanText)->Unit(benchmark::kMillisecond);

// Loads into a reader that lives on: the bytes the reader holds afterwards,
// and the most held at once while it loaded, both per byte of the file.
void BM_Load(benchmark::State& state) {
  const String& path = LargeMap().Path();
  size_t peak = 0, held = 0;
  for (auto _ : state) {
    const size_t before = bytesInUse;
    ResetPeak();
    ztl::TZTMapFile map;
    map.SetMapFileName(path);
    map.LoadExceptionData(nullptr);  // loads; no exception is being handled
    benchmark::DoNotOptimize(map.MapFileIsLoaded());
    peak = std::max(peak, peakBytes - before);
    held = bytesInUse - before;
  }
  const double size = static_cast<double>(LargeMap().Size());
  state.counters["file_MB"] = size / 1e6;
  state.counters["peak_over_file"] = static_cast<double>(peak) / size;
  state.counters["held_over_file"] = static_cast<double>(held) / size;
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

// The floor and the load in turn, each timed on its own: their ratio in one
// run, on a machine whose load may change between benchmarks.
void BM_LoadAgainstFloor(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const String& path = LargeMap().Path();
  Clock::duration floor{}, load{};
  for (auto _ : state) {
    const auto start = Clock::now();
    benchmark::DoNotOptimize(ReadIntoVector(path));
    const auto middle = Clock::now();
    ztl::TZTMapFile map;
    map.SetMapFileName(path);
    map.LoadExceptionData(nullptr);
    benchmark::DoNotOptimize(map.MapFileIsLoaded());
    floor += middle - start;
    load += Clock::now() - middle;
  }
  state.counters["load_over_floor"] = std::chrono::duration<double>(load) / std::chrono::duration<double>(floor);
}
BENCHMARK(BM_LoadAgainstFloor)->Unit(benchmark::kMillisecond);

const void* LastAddress() { return reinterpret_cast<const void*>(uintptr_t{0x1000} + LargeMap().LastOffset()); }

// Looks up the last address in a reader of the large map; false when the
// answer is not the generated map's.
bool LookUpLastAddress(ztl::TZTMapFile& map) {
  map.SetMapFileName(LargeMap().Path());
  map.SetMapFileBase(0x1000);
  map.LoadExceptionData(LastAddress());
  char unit[16];
  std::snprintf(unit, sizeof unit, "Unit%04d", Units - 1);
  return map.ExceptUnitName() == unit && map.ExceptMethodName() == String(unit) + ".Procedure199" &&
         map.ExceptLineNumber() == EntriesPerUnit;
}

void BM_LookupLastAddress(benchmark::State& state) {
  ztl::TZTMapFile map;
  if (!LookUpLastAddress(map)) {
    state.SkipWithError("the lookup found the wrong place");
    return;
  }
  for (auto _ : state) {
    map.LoadExceptionData(LastAddress());
    benchmark::DoNotOptimize(map.ExceptLineNumber());
  }
}
BENCHMARK(BM_LookupLastAddress)->Unit(benchmark::kMillisecond);

void BM_FirstLookupLastAddress(benchmark::State& state) {
  for (auto _ : state) {
    ztl::TZTMapFile map;
    if (!LookUpLastAddress(map)) {
      state.SkipWithError("the lookup found the wrong place");
      return;
    }
  }
}
BENCHMARK(BM_FirstLookupLastAddress)->Unit(benchmark::kMillisecond);

}  // namespace
