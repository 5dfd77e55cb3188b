// The map reader on a large map: 200,000 publics and 1,000,000 line entries,
// against the floor of reading the same file into a list of lines.
//
// Goals: loading within twice the floor, one lookup at the last address
// within the floor.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "exceptionlog/ZTMapFile.h"

namespace {

using ztl::String;

constexpr int Units = 1000;
constexpr int PublicsPerUnit = 200;
constexpr int EntriesPerUnit = 1000;
constexpr uint32_t BytesPerEntry = 4;  // each public spans five entries

uint32_t UnitStart(int unit) { return static_cast<uint32_t>(unit) * EntriesPerUnit * BytesPerEntry; }

// A generated map in a temporary folder, removed at exit.
class TLargeMap {
 public:
  TLargeMap() {
    String pattern = (std::filesystem::temp_directory_path() / "ztl-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    folder_ = pattern;
    path_ = folder_ + "/large.map";
    Write();
  }
  ~TLargeMap() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  TLargeMap(const TLargeMap&) = delete;
  TLargeMap& operator=(const TLargeMap&) = delete;

  const String& Path() const { return path_; }
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
        std::snprintf(line, sizeof line, "%6d 0001:%08X", e + 1, UnitStart(unit) + static_cast<uint32_t>(e) * BytesPerEntry);
        out << line << (e % 4 == 3 ? "\r\n" : "");
      }
      out << "\r\n";
    }
  }

  String folder_;
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
void BM_FloorReadIntoVector(benchmark::State& state) {
  const String& path = LargeMap().Path();
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    const String bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<String> lines;
    for (size_t start = 0; start < bytes.size();) {
      size_t end = bytes.find('\n', start);
      if (end == String::npos) end = bytes.size();
      lines.emplace_back(bytes, start, end - start - (end > start && bytes[end - 1] == '\r'));
      start = end + 1;
    }
    benchmark::DoNotOptimize(lines.size());
  }
}
BENCHMARK(BM_FloorReadIntoVector)->Unit(benchmark::kMillisecond);

void BM_Load(benchmark::State& state) {
  const String& path = LargeMap().Path();
  for (auto _ : state) {
    ztl::TZTMapFile map;
    map.SetMapFileName(path);
    map.LoadExceptionData(nullptr);  // loads; no exception is being handled
    benchmark::DoNotOptimize(map.MapFileIsLoaded());
  }
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

void BM_LookupLastAddress(benchmark::State& state) {
  ztl::TZTMapFile map;
  map.SetMapFileName(LargeMap().Path());
  map.SetMapFileBase(0x1000);
  const auto address = reinterpret_cast<const void*>(uintptr_t{0x1000} + LargeMap().LastOffset());
  map.LoadExceptionData(address);
  if (map.ExceptUnitName() != "Unit0999" || map.ExceptMethodName() != "Unit0999.Procedure199" ||
      map.ExceptLineNumber() != EntriesPerUnit) {
    state.SkipWithError("the lookup found the wrong place");
    return;
  }
  for (auto _ : state) {
    map.LoadExceptionData(address);
    benchmark::DoNotOptimize(map.ExceptLineNumber());
  }
}
BENCHMARK(BM_LookupLastAddress)->Unit(benchmark::kMillisecond);

}  // namespace
