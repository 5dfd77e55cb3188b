// ztl-mapinfo: names the unit, procedure and source line of addresses taken
// from a log, with the same map reader the exception logger uses.
//
//   ztl-mapinfo [--base HEX | --module-offset] MAP-FILE ADDRESS...
//        one line per address: unit<TAB>procedure<TAB>line; with
//        --module-offset a second one, marked, when the byte before the
//        offset lies on another line
//   ztl-mapinfo --units MAP-FILE    the unit names, one a line
//
// Addresses and the base are hexadecimal, with or without "0x"; the base
// defaults to the reader's 00401000. With --module-offset the addresses are
// offsets in the module, as a report's message gives them ("in module X at
// OFFSET"), and the map must be one ztl-mkmap wrote (it records where the
// code starts in the module). Only the low 32 bits take part, as in the
// reader's offsets. A missing, unreadable or non-map file is refused with the
// reason and exit status 1; an address that is not a number gives empty
// fields and line 0, a message and exit status 1.
//
// Started once for each address pasted from a log, the tool reads as little
// of the map as it can: the map is mapped into memory, not read, and in a map
// written by ztl-mkmap the lookups seek through the layout it records (the
// answers are those of the reader's walks). Other maps are walked.
//
// The offset a report prints for a throw is the return address of the call
// that raised, the instruction after it; the report's own unit, procedure
// and line are those of the call, the byte before. A fault's offset is the
// faulting instruction itself. The tool cannot tell the two apart, so with
// --module-offset, when the byte before an offset lies on another line, it
// prints that place too, on a second line whose fourth field is CallMark: a
// throw's report names the second line, a fault's the first. A byte before
// with no line at all is padding or code without line tables, never a call
// the report would name by its line, and gives no second line.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>

#include <ztlogger/exceptionlog/ZTMapFile.h>
#include <ztlogger/platform/os/FileMapping.h>

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

// Ends the line that names the call returning to the address.
constexpr const char* CallMark = "(the call returning here: a raise's report names this line)";

constexpr const char* kUsage =
    "usage: ztl-mapinfo [--base HEX | --module-offset] MAP-FILE ADDRESS...\n"
    "       ztl-mapinfo --units MAP-FILE\n"
    "Names the unit, procedure and source line of each address (hexadecimal)\n"
    "from a map file. --base gives the address the map's offsets count from\n"
    "(default 00401000); --module-offset takes the addresses as offsets in the\n"
    "module, as a report's message prints them, in a map written by ztl-mkmap.\n"
    "Each address gives unit<TAB>procedure<TAB>line.\n"
    "A raise's address is the return address of its call: with --module-offset,\n"
    "when the byte before the offset lies on another line, a second line gives\n"
    "that call's place, ending in the field \"(the call returning here: a\n"
    "raise's report names this line)\". The report of a thrown exception names\n"
    "that second line; a fault's report names the first.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// Why a file is not a map to read, or nothing when it is one. The line that
// records where the code starts in the module, when the map has it.
std::optional<String> MapProblem(const String& path, std::optional<uint32_t>* codeOffset = nullptr) {
  // Opened first as the services open files, so that a FIFO is refused
  // instead of waited on.
  const int checked = ztl::os::OpenFileForReading(path);
  if (checked < 0 && errno == ENODEV) return path + " is not a regular file";
  if (checked < 0) return String("cannot read ") + path + ": " + std::strerror(errno);
  ::close(checked);
  std::ifstream in(path, std::ios::binary);
  if (!in) return String("cannot read ") + path + ": " + std::strerror(errno);
  bool isMap = false;
  for (String line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    constexpr std::string_view record = "Code at module offset ";
    if (codeOffset && line.starts_with(record))
      *codeOffset = static_cast<uint32_t>(ParseHex(line.substr(record.size())).value_or(0));
    if (line == "Detailed map of segments") {
      isMap = true;
      break;
    }
  }
  if (!isMap) return path + " is not a map file (no \"Detailed map of segments\")";
  return std::nullopt;
}

void PrintLine(const String& unit, const String& procedure, int32_t line) {
  std::printf("%s\t%s\t%d\n", unit.c_str(), procedure.c_str(), static_cast<int>(line));
}

struct TPlace {
  String Unit, Procedure;
  int32_t Line = 0;
  bool operator==(const TPlace&) const = default;
};

TPlace LookUp(ztl::TZTMapFile& map, uint64_t address) {
  map.LoadExceptionData(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)));
  return {map.ExceptUnitName(), map.ExceptMethodName(), map.ExceptLineNumber()};
}

// One line for one address, and the line of the call returning there when
// withCall is set; false when it could not be analysed.
bool Symbolize(ztl::TZTMapFile& map, const String& argument, bool withCall) {
  const auto address = ParseHex(argument);
  if (!address) {
    std::fprintf(stderr, "ztl-mapinfo: not a hexadecimal address: %s\n", argument.c_str());
    PrintLine({}, {}, 0);
    return false;
  }
  TPlace at, call;
  try {
    at = LookUp(map, *address);
    // Address 0 is the first byte: nothing returns to it.
    if (withCall && *address != 0) call = LookUp(map, *address - 1);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ztl-mapinfo: %s\n", error.what());
    PrintLine({}, {}, 0);
    return false;
  }
  PrintLine(at.Unit, at.Procedure, at.Line);
  if (call.Line != 0 && call != at)
    std::printf("%s\t%s\t%d\t%s\n", call.Unit.c_str(), call.Procedure.c_str(), static_cast<int>(call.Line), CallMark);
  return true;
}

int ListUnits(const String& mapFile) {
  if (const auto problem = MapProblem(mapFile)) {
    std::fprintf(stderr, "ztl-mapinfo: %s\n", problem->c_str());
    return 1;
  }
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
  if (argc == 2 && (String(argv[1]) == "--help" || String(argv[1]) == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 3 && String(argv[1]) == "--units") return ListUnits(argv[2]);

  ztl::TZTMapFile map;
  // A map written by ztl-mkmap records its layout: lookups seek through it
  // and give the walks' answers in a fraction of their time.
  map.SetSeekRecordedLayout(true);
  bool moduleOffsets = false;
  if (next < argc && String(argv[next]) == "--base") {
    const auto base = next + 1 < argc ? ParseHex(argv[next + 1]) : std::nullopt;
    if (!base) return Usage();
    map.SetMapFileBase(static_cast<uint32_t>(*base));
    next += 2;
  } else if (next < argc && String(argv[next]) == "--module-offset") {
    moduleOffsets = true;
    ++next;
  }
  if (argc - next < 2) return Usage();
  const String mapFile = argv[next++];
  std::optional<uint32_t> codeOffset;
  if (const auto problem = MapProblem(mapFile, &codeOffset)) {
    std::fprintf(stderr, "ztl-mapinfo: %s\n", problem->c_str());
    return 1;
  }
  if (moduleOffsets) {
    if (!codeOffset) {
      std::fprintf(stderr, "ztl-mapinfo: %s does not record where its code starts (not written by ztl-mkmap)\n",
                   mapFile.c_str());
      return 1;
    }
    map.SetMapFileBase(*codeOffset);  // a module offset minus the code's start is a map offset
  }
  map.SetMapFileName(mapFile);
  bool allAnalysed = true;
  for (; next < argc; ++next) allAnalysed = Symbolize(map, argv[next], moduleOffsets) && allAnalysed;
  return allAnalysed ? 0 : 1;
}
