// ztl-mapinfo: names the unit, procedure and source line of addresses taken
// from a report, with the same map reader the exception logger uses.
//
//   ztl-mapinfo MAP-FILE [--base LOAD] [--module-offset] PLACE...
//   ztl-mapinfo --units MAP-FILE    the unit names, each once
//
// A place is given in any form a report or a debugger prints, all counted
// from the module's load address (where its first byte is mapped, as
// addr2line and crash servers count):
//   MODULE+OFFSET     a call stack frame's "app+1377"
//   OFFSET            with --module-offset: "in module app at OFFSET"
//   ADDRESS@LOAD      an absolute address and the module's load address
//                     (the address less its module offset: a report gives both)
//   ADDRESS           with --base LOAD, the same
// Numbers are hexadecimal, with or without "0x". Each place gives a line
// unit<TAB>procedure<TAB>line. A map's offsets count from the start of its
// code; a map written by ztl-mkmap records where that is in the module, for
// any other the linker's layout is taken (code 1000 bytes after the load
// address, at 00401000 in a module loaded at 00400000, which is also the
// load address a bare ADDRESS is taken with in such a map).
//
// A place in the code but in no unit (start-up code, a library built without
// debugging information) gives its procedure only, with no unit and line 0.
//
// In a map written by ztl-mkmap a bare ADDRESS is refused: it is an offset
// or an absolute address, and either taken for the other names a wrong
// place. So is a place outside the map's code, or one that is no number:
// with the reason on the standard error, no line on the standard output,
// and exit status 1. A missing, unreadable or non-map file is refused with
// the reason and exit status 1.
//
// Started once for each address pasted from a log, the tool reads as little
// of the map as it can: the map is mapped into memory, not read, and in a map
// written by ztl-mkmap the lookups seek through the layout it records (the
// answers are those of the reader's walks). Other maps are walked.
//
// The offset a report prints for a throw is the return address of the call
// that raised, the instruction after it; the report's own unit, procedure
// and line are those of the call, the byte before. A fault's offset is the
// faulting instruction itself. The tool cannot tell the two apart, so when
// the byte before a place lies on another line, it prints that place too,
// on a second line whose fourth field is CallMark: a throw's report names
// the second line, a fault's the first. A byte before with no line at all is
// padding or code without line tables, never a call the report would name
// by its line, and gives no second line.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <vector>

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
    "usage: ztl-mapinfo MAP-FILE [--base LOAD] [--module-offset] PLACE...\n"
    "       ztl-mapinfo --units MAP-FILE\n"
    "Names the unit, procedure and source line of each place from a map file,\n"
    "one line unit<TAB>procedure<TAB>line each. A place is written as a report\n"
    "or a debugger prints it, counted from the module's load address:\n"
    "  MODULE+OFFSET   a call stack frame (app+1377)\n"
    "  OFFSET          with --module-offset: \"in module app at OFFSET\"\n"
    "  ADDRESS@LOAD    an absolute address and the module's load address\n"
    "                  (the address less its module offset)\n"
    "  ADDRESS         with --base LOAD, the same\n"
    "Numbers are hexadecimal. In a map written by ztl-mkmap a bare ADDRESS is\n"
    "refused; in another map it is taken with the load address 00400000.\n"
    "A place outside the map's code, or no number, is refused with a message\n"
    "and exit status 1; a place in code of no unit gives its procedure only.\n"
    "A raise's address is the return address of its call: when the byte before\n"
    "a place lies on another line, a second line gives that call's place,\n"
    "ending in the field \"(the call returning here: a raise's report names\n"
    "this line)\". The report of a thrown exception names that second line; a\n"
    "fault's report names the first.\n";

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

struct TPlace {
  String Unit, Procedure;
  int32_t Line = 0;
  bool operator==(const TPlace&) const = default;
};

// The map reader takes addresses less its base; any base keeps offset 0
// from being the null address, which asks for the exception being handled.
constexpr uint32_t ReaderBase = 0x1000;

TPlace LookUp(ztl::TZTMapFile& map, uint32_t mapOffset) {
  map.LoadExceptionData(reinterpret_cast<const void*>(static_cast<uintptr_t>(mapOffset) + ReaderBase));
  return {map.ExceptUnitName(), map.ExceptMethodName(), map.ExceptLineNumber()};
}

// How the places on the command line are read.
struct TReading {
  String MapFile;
  bool Recorded = false;        // the map records where its code starts
  uint64_t CodeOffset = 0x1000;  // from the load address
  std::optional<uint64_t> Base;  // --base
  bool ModuleOffsets = false;    // --module-offset
};

bool Refuse(const String& place, const String& why) {
  std::fprintf(stderr, "ztl-mapinfo: %s: %s\n", place.c_str(), why.c_str());
  return false;
}

// The place's offset from the module's load address, or a refusal.
std::optional<uint64_t> ModuleOffsetOf(const String& place, const TReading& reading, String& why) {
  const auto number = [&](const String& text) {
    auto value = ParseHex(text);
    if (!value) why = "not a hexadecimal number: " + text;
    return value;
  };
  if (const size_t plus = place.rfind('+'); plus != String::npos) return number(place.substr(plus + 1));
  if (const size_t at = place.find('@'); at != String::npos) {
    const auto address = number(place.substr(0, at)), base = address ? number(place.substr(at + 1)) : std::nullopt;
    if (!base) return std::nullopt;
    if (*address < *base) {
      why = "the address lies below the load address";
      return std::nullopt;
    }
    return *address - *base;
  }
  const auto value = number(place);
  if (!value) return std::nullopt;
  if (reading.ModuleOffsets) return value;
  if (reading.Base || !reading.Recorded) {
    const uint64_t base = reading.Base.value_or(ztl::TZTMapFile::DefaultMapFileBase - 0x1000);
    if (*value < base) {
      why = "the address lies below the load address";
      return std::nullopt;
    }
    return *value - base;
  }
  why = "an absolute address needs the module's load address (ADDRESS@LOAD or --base LOAD); an offset in the "
        "module is written MODULE+OFFSET or given with --module-offset";
  return std::nullopt;
}

// One line for one place, and the line of the call returning there when it
// differs; false when the place was refused.
bool Symbolize(ztl::TZTMapFile& map, const String& place, const TReading& reading) {
  String why;
  const auto moduleOffset = ModuleOffsetOf(place, reading, why);
  if (!moduleOffset) return Refuse(place, why);
  const uint64_t mapOffset = *moduleOffset - reading.CodeOffset;
  TPlace at, call;
  try {
    if (*moduleOffset < reading.CodeOffset || mapOffset > UINT32_MAX ||
        !map.CodeHolds(static_cast<uint32_t>(mapOffset)))
      return Refuse(place, "outside the code of " + reading.MapFile);
    at = LookUp(map, static_cast<uint32_t>(mapOffset));
    // Code of no unit (start-up code, a library without debugging
    // information): the unit and line a lookup gives are another's.
    if (!map.UnitHolds(static_cast<uint32_t>(mapOffset))) {
      std::printf("\t%s\t0\n", at.Procedure.c_str());
      return true;
    }
    // A bare address in another map is looked up as it is, as the linker's
    // tools do. The first byte of the code: nothing returns to it.
    const bool bare = place.find_first_of("+@") == String::npos && !reading.ModuleOffsets && !reading.Base;
    if (!(bare && !reading.Recorded) && mapOffset != 0) call = LookUp(map, static_cast<uint32_t>(mapOffset - 1));
  } catch (const std::exception& error) {
    return Refuse(place, error.what());
  }
  std::printf("%s\t%s\t%d\n", at.Unit.c_str(), at.Procedure.c_str(), static_cast<int>(at.Line));
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
  // A unit has a segment line for each of its code ranges: named once.
  std::set<String> named;
  for (int i = 0; i < units.Count(); ++i)
    if (named.insert(units[i]).second) std::printf("%s\n", units[i].c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (String(argv[1]) == "--help" || String(argv[1]) == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 3 && String(argv[1]) == "--units") return ListUnits(argv[2]);

  TReading reading;
  std::vector<String> places;
  for (int next = 1; next < argc; ++next) {
    const String argument = argv[next];
    if (argument == "--base") {
      reading.Base = next + 1 < argc ? ParseHex(argv[next + 1]) : std::nullopt;
      if (!reading.Base) return Usage();
      ++next;
    } else if (argument == "--module-offset") {
      reading.ModuleOffsets = true;
    } else if (reading.MapFile.empty()) {
      reading.MapFile = argument;
    } else {
      places.push_back(argument);
    }
  }
  if (reading.MapFile.empty() || places.empty()) return Usage();
  std::optional<uint32_t> codeOffset;
  if (const auto problem = MapProblem(reading.MapFile, &codeOffset)) {
    std::fprintf(stderr, "ztl-mapinfo: %s\n", problem->c_str());
    return 1;
  }
  reading.Recorded = codeOffset.has_value();
  if (codeOffset) reading.CodeOffset = *codeOffset;

  ztl::TZTMapFile map;
  // A map written by ztl-mkmap records its layout: lookups seek through it
  // and give the walks' answers in a fraction of their time.
  map.SetSeekRecordedLayout(true);
  map.SetMapFileBase(ReaderBase);
  map.SetMapFileName(reading.MapFile);
  bool allAnswered = true;
  for (const String& place : places) allAnswered = Symbolize(map, place, reading) && allAnswered;
  return allAnswered ? 0 : 1;
}
