// ztl-mapinfo: names the unit, procedure and source line of addresses taken
// from a log, with the same map reader the exception logger uses.
//
//   ztl-mapinfo [--base HEX] MAP-FILE ADDRESS...   one line per address:
//                                                  unit<TAB>procedure<TAB>line
//   ztl-mapinfo --units MAP-FILE                   the unit names, one a line
//
// Addresses and the base are hexadecimal, with or without "0x"; the base
// defaults to the reader's 00401000. Only the low 32 bits take part, as in the
// reader's offsets. A missing map gives empty fields and line 0; a map that
// cannot be read or an address that is not a number does the same, with a
// message on the error output and exit status 1.
#include <cstdio>
#include <optional>

#include "exceptionlog/ZTMapFile.h"

namespace {

using ztl::String;

std::optional<uint64_t> ParseHex(String text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.erase(0, 2);
  if (text.empty() || text.size() > 16) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    int digit = 0;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = (value << 4) | static_cast<uint64_t>(digit);
  }
  return value;
}

int Usage() {
  std::fprintf(stderr,
               "usage: ztl-mapinfo [--base HEX] MAP-FILE ADDRESS...\n"
               "       ztl-mapinfo --units MAP-FILE\n");
  return 2;
}

void PrintLine(const String& unit, const String& procedure, int32_t line) {
  std::printf("%s\t%s\t%d\n", unit.c_str(), procedure.c_str(), static_cast<int>(line));
}

// One line for one address; false when it could not be analysed.
bool Symbolize(ztl::TZTMapFile& map, const String& argument) {
  const auto address = ParseHex(argument);
  if (!address) {
    std::fprintf(stderr, "ztl-mapinfo: not a hexadecimal address: %s\n", argument.c_str());
    PrintLine({}, {}, 0);
    return false;
  }
  try {
    map.LoadExceptionData(reinterpret_cast<const void*>(static_cast<uintptr_t>(*address)));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ztl-mapinfo: %s\n", error.what());
    PrintLine({}, {}, 0);
    return false;
  }
  PrintLine(map.ExceptUnitName(), map.ExceptMethodName(), map.ExceptLineNumber());
  return true;
}

int ListUnits(const String& mapFile) {
  ztl::TZTMapFile map;
  map.SetMapFileName(mapFile);
  ztl::TStringList units;
  try {
    map.LoadUnitNames(&units);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ztl-mapinfo: %s\n", error.what());
    return 1;
  }
  for (int i = 0; i < units.Count(); ++i) std::printf("%s\n", units[i].c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int next = 1;
  if (argc == 3 && String(argv[1]) == "--units") return ListUnits(argv[2]);

  ztl::TZTMapFile map;
  if (next < argc && String(argv[next]) == "--base") {
    const auto base = next + 1 < argc ? ParseHex(argv[next + 1]) : std::nullopt;
    if (!base) return Usage();
    map.SetMapFileBase(static_cast<uint32_t>(*base));
    next += 2;
  }
  if (argc - next < 2) return Usage();
  map.SetMapFileName(argv[next++]);
  bool allAnalysed = true;
  for (; next < argc; ++next) allAnalysed = Symbolize(map, argv[next]) && allAnalysed;
  return allAnalysed ? 0 : 1;
}
