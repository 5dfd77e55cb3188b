// ztl-mkmap: writes the detailed text map of an ELF executable or shared
// object, in the layout the exception logger's map reader accepts.
//
//   ztl-mkmap ELF-FILE [MAP-FILE]
//
// Without MAP-FILE the map goes beside ELF-FILE, its extension replaced by
// ".map" (bin/ztl_demo -> bin/ztl_demo.map), where the logger looks for it.
//
// Offsets count from the start of the code: the virtual address of the first
// loadable segment with executable code (the first PT_LOAD program header with
// PF_X). At run time the platform reports the same point as the module's code
// base (platform/os/Modules.h), so a run-time address minus the code base is a
// map offset, wherever the loader has put the module.
//
// The map's first line records where the code starts in the module (the
// offset from the module's load address, as the exception logger's messages
// give addresses: "in module X at OFFSET"), so that ztl-mapinfo
// --module-offset can take such an offset as it is. The lines after it
// record the map's layout: where its regions begin and which line each
// unit's line numbers follow, so that ztl-mapinfo seeks rather than walks a
// large map (the reader ignores everything before the segments header; see
// "The recorded layout" below).
//
// Units are compile units, named after their source file without folder and
// extension. Publics are the function symbols, demangled. A unit's line
// numbers are the rows of its DWARF line table that belong to its own source
// file: code inlined from headers is reported at the line of the unit's own
// statement that it was inlined into (the call's line), and where the
// debugging information does not say, at the line of the unit's own statement
// before it.
#include <cxxabi.h>
#include <dwarf.h>
#include <elfutils/libdw.h>
#include <fcntl.h>
#include <gelf.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using std::string;

struct TCodeSegment {
  uint64_t Start = 0;
  uint64_t Size = 0;
  uint64_t ModuleOffset = 0;  // of Start, from where the module is loaded
};

struct TRange {
  uint32_t Start;
  uint32_t Length;
  string Unit;
};

struct TPublic {
  uint32_t Offset;
  int Rank;  // global before weak before local when symbols share an address
  string Name;
};

struct TLineEntry {
  uint32_t Offset;
  int Line;
};

struct TUnitLines {
  string SourceFile;
  std::vector<TLineEntry> Entries;
};

struct TMapModel {
  TCodeSegment Code;
  std::vector<TRange> Segments;
  std::vector<TPublic> Publics;
  std::map<string, TUnitLines> Lines;  // by unit name
};

[[noreturn]] void Fail(const string& message) { throw std::runtime_error(message); }

// ---- ELF ------------------------------------------------------------------

class TElfFile {
 public:
  explicit TElfFile(const string& path) {
    elf_version(EV_CURRENT);
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) Fail("cannot open " + path);
    elf_ = elf_begin(fd_, ELF_C_READ, nullptr);
    if (!elf_ || elf_kind(elf_) != ELF_K_ELF) {
      Close();
      Fail(path + " is not an ELF file");
    }
  }
  ~TElfFile() { Close(); }
  TElfFile(const TElfFile&) = delete;
  TElfFile& operator=(const TElfFile&) = delete;

  Elf* Handle() const { return elf_; }

 private:
  void Close() {
    if (elf_) elf_end(elf_);
    if (fd_ >= 0) ::close(fd_);
    elf_ = nullptr;
    fd_ = -1;
  }

  int fd_ = -1;
  Elf* elf_ = nullptr;
};

// The module is loaded at its first loadable segment's address, rounded down
// to that segment's alignment (what the loader reports as the module's base).
TCodeSegment FindCodeSegment(Elf* elf) {
  size_t count = 0;
  if (elf_getphdrnum(elf, &count) != 0) Fail("no program headers");
  bool haveBase = false;
  uint64_t base = 0;
  for (size_t i = 0; i < count; ++i) {
    GElf_Phdr header;
    if (!gelf_getphdr(elf, static_cast<int>(i), &header) || header.p_type != PT_LOAD) continue;
    if (!haveBase) {
      base = header.p_align > 1 ? header.p_vaddr & ~(header.p_align - 1) : header.p_vaddr;
      haveBase = true;
    }
    if (header.p_flags & PF_X) return {header.p_vaddr, header.p_memsz, header.p_vaddr - base};
  }
  Fail("no loadable segment with code");
}

bool InCode(const TCodeSegment& code, uint64_t address) {
  return address >= code.Start && address - code.Start < code.Size && address - code.Start <= UINT32_MAX;
}

// Only mangled names are demangled: a C function named "d" stays "d".
string Demangle(const char* name) {
  if (name[0] != '_' || name[1] != 'Z') return name;
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> plain(abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
  return status == 0 && plain ? string(plain.get()) : string(name);
}

int BindingRank(unsigned char info) {
  switch (GELF_ST_BIND(info)) {
    case STB_GLOBAL: return 0;
    case STB_WEAK: return 1;
    default: return 2;
  }
}

void ReadSymbols(Elf* elf, Elf_Scn* section, const TCodeSegment& code, std::vector<TPublic>& publics) {
  GElf_Shdr header;
  if (!gelf_getshdr(section, &header) || header.sh_entsize == 0) return;
  Elf_Data* data = elf_getdata(section, nullptr);
  if (!data) return;
  const size_t count = header.sh_size / header.sh_entsize;
  for (size_t i = 0; i < count; ++i) {
    GElf_Sym symbol;
    if (!gelf_getsym(data, static_cast<int>(i), &symbol)) continue;
    const int type = GELF_ST_TYPE(symbol.st_info);
    if ((type != STT_FUNC && type != STT_GNU_IFUNC) || symbol.st_shndx == SHN_UNDEF) continue;
    if (!InCode(code, symbol.st_value)) continue;
    const char* name = elf_strptr(elf, header.sh_link, symbol.st_name);
    if (!name || !*name) continue;
    publics.push_back(
        {static_cast<uint32_t>(symbol.st_value - code.Start), BindingRank(symbol.st_info), Demangle(name)});
  }
}

// The function symbols of the full symbol table, or of the dynamic one when
// the file has been stripped; one name per address.
std::vector<TPublic> ReadPublics(Elf* elf, const TCodeSegment& code) {
  Elf_Scn* symtab = nullptr;
  Elf_Scn* dynsym = nullptr;
  for (Elf_Scn* section = elf_nextscn(elf, nullptr); section; section = elf_nextscn(elf, section)) {
    GElf_Shdr header;
    if (!gelf_getshdr(section, &header)) continue;
    if (header.sh_type == SHT_SYMTAB) symtab = section;
    if (header.sh_type == SHT_DYNSYM) dynsym = section;
  }
  std::vector<TPublic> publics;
  if (symtab || dynsym) ReadSymbols(elf, symtab ? symtab : dynsym, code, publics);
  std::sort(publics.begin(), publics.end(), [](const TPublic& a, const TPublic& b) {
    return std::tie(a.Offset, a.Rank, a.Name) < std::tie(b.Offset, b.Rank, b.Name);
  });
  publics.erase(std::unique(publics.begin(), publics.end(),
                            [](const TPublic& a, const TPublic& b) { return a.Offset == b.Offset; }),
                publics.end());
  return publics;
}

// ---- DWARF ----------------------------------------------------------------

class TDwarf {
 public:
  explicit TDwarf(Elf* elf) : dwarf_(dwarf_begin_elf(elf, DWARF_C_READ, nullptr)) {}
  ~TDwarf() {
    if (dwarf_) dwarf_end(dwarf_);
  }
  TDwarf(const TDwarf&) = delete;
  TDwarf& operator=(const TDwarf&) = delete;

  Dwarf* Handle() const { return dwarf_; }

 private:
  Dwarf* dwarf_;
};

string AttributeString(Dwarf_Die* die, unsigned int name) {
  Dwarf_Attribute attribute;
  const char* text = dwarf_formstring(dwarf_attr(die, name, &attribute));
  return text ? string(text) : string();
}

string Normalized(const string& path) { return std::filesystem::path(path).lexically_normal().string(); }

// A path of a unit's debugging information, made absolute against the
// unit's compile folder when it is relative and the folder is known.
string Absolute(const string& path, const string& directory) {
  if (directory.empty() || std::filesystem::path(path).is_absolute()) return path;
  return (std::filesystem::path(directory) / path).string();
}

string UnitNameOf(const string& sourceFile) { return std::filesystem::path(sourceFile).stem().string(); }

void ReadRanges(Dwarf_Die* unit, const string& name, const TCodeSegment& code, std::vector<TRange>& segments) {
  Dwarf_Addr base = 0, start = 0, end = 0;
  for (ptrdiff_t offset = 0; (offset = dwarf_ranges(unit, offset, &base, &start, &end)) > 0;) {
    if (end <= start || !InCode(code, start) || !InCode(code, end - 1)) continue;
    segments.push_back({static_cast<uint32_t>(start - code.Start), static_cast<uint32_t>(end - start), name});
  }
}

// Code inlined into the unit's own statements: the address range and the
// line of the statement that the outermost inlined call stands for.
struct TInlinedCall {
  Dwarf_Addr Start;
  Dwarf_Addr End;
  int Line;
};

// The outermost inlined calls under `die` (a function, or a block in one)
// whose call is in a file that `ownFile` accepts.
template <typename OwnFile>
void CollectInlinedCalls(Dwarf_Die* die, Dwarf_Files* files, size_t fileCount, const OwnFile& ownFile,
                         std::vector<TInlinedCall>& calls) {
  Dwarf_Die child;
  if (dwarf_child(die, &child) != 0) return;
  do {
    const int tag = dwarf_tag(&child);
    if (tag == DW_TAG_inlined_subroutine) {
      Dwarf_Attribute attribute;
      Dwarf_Word file = 0, line = 0;
      if (dwarf_formudata(dwarf_attr(&child, DW_AT_call_file, &attribute), &file) != 0 ||
          dwarf_formudata(dwarf_attr(&child, DW_AT_call_line, &attribute), &line) != 0 || file >= fileCount ||
          line == 0)
        continue;
      const char* name = dwarf_filesrc(files, file, nullptr, nullptr);
      if (!name || !ownFile(name)) continue;
      Dwarf_Addr base = 0, start = 0, end = 0;
      for (ptrdiff_t offset = 0; (offset = dwarf_ranges(&child, offset, &base, &start, &end)) > 0;)
        if (end > start) calls.push_back({start, end, static_cast<int>(line)});
    } else if (tag == DW_TAG_subprogram || tag == DW_TAG_lexical_block || tag == DW_TAG_namespace ||
               tag == DW_TAG_class_type || tag == DW_TAG_structure_type || tag == DW_TAG_union_type) {
      CollectInlinedCalls(&child, files, fileCount, ownFile, calls);
    }
  } while (dwarf_siblingof(&child, &child) == 0);
}

// The rows of the unit's own source file, one per address (the last row at an
// address is the one that describes its instruction). A row of another file
// inside an inlined call of the unit's own statement counts as that
// statement's line.
// Line tables may name files relative to the unit's compile folder (a
// relative source path, a compiler cache's base folder): they are compared
// with the unit's own source once made absolute the same way.
void ReadLines(Dwarf_Die* unit, const string& sourcePath, const string& directory, const TCodeSegment& code,
               std::vector<TLineEntry>& entries) {
  Dwarf_Lines* lines = nullptr;
  size_t count = 0;
  if (dwarf_getsrclines(unit, &lines, &count) != 0) return;
  const string wanted = Normalized(sourcePath);
  const string wantedName = std::filesystem::path(sourcePath).filename().string();
  // libdw hands out one string per file of the table: decide each file once.
  std::map<const char*, bool> isOwnFile;
  auto ownFile = [&](const char* file) {
    auto [known, added] = isOwnFile.try_emplace(file, false);
    if (added)
      known->second = Normalized(Absolute(file, directory)) == wanted ||
                      (wanted.find('/') == string::npos && std::filesystem::path(file).filename() == wantedName);
    return known->second;
  };
  std::vector<TInlinedCall> calls;
  Dwarf_Files* files = nullptr;
  size_t fileCount = 0;
  if (dwarf_getsrcfiles(unit, &files, &fileCount) == 0) CollectInlinedCalls(unit, files, fileCount, ownFile, calls);
  std::sort(calls.begin(), calls.end(), [](const TInlinedCall& a, const TInlinedCall& b) { return a.Start < b.Start; });
  // The line of the inlined call covering `address`, or 0.
  auto callLine = [&](Dwarf_Addr address) {
    auto after = std::upper_bound(calls.begin(), calls.end(), address,
                                  [](Dwarf_Addr a, const TInlinedCall& call) { return a < call.Start; });
    // Outermost calls do not nest, but one function's may lie inside
    // another's ranges when code is split: look back a little.
    for (int i = 0; i < 8 && after != calls.begin(); ++i) {
      --after;
      if (address < after->End) return after->Line;
    }
    return 0;
  };
  std::vector<TLineEntry> own;
  for (size_t i = 0; i < count; ++i) {
    Dwarf_Line* line = dwarf_onesrcline(lines, i);
    Dwarf_Addr address = 0;
    int number = 0;
    bool endOfSequence = false;
    if (!line || dwarf_lineaddr(line, &address) != 0 || dwarf_lineno(line, &number) != 0 ||
        dwarf_lineendsequence(line, &endOfSequence) != 0 || endOfSequence || !InCode(code, address))
      continue;
    const char* file = dwarf_linesrc(line, nullptr, nullptr);
    if (!file) continue;
    if (!ownFile(file)) {
      number = callLine(address);
      if (number == 0) continue;
    }
    const auto offset = static_cast<uint32_t>(address - code.Start);
    if (!own.empty() && own.back().Offset == offset) {
      own.back().Line = number;
    } else {
      own.push_back({offset, number});
    }
  }
  entries.insert(entries.end(), own.begin(), own.end());
}

void ReadUnits(Elf* elf, TMapModel& model) {
  TDwarf dwarf(elf);
  if (!dwarf.Handle()) return;  // no debugging information: publics only
  Dwarf_CU* unit = nullptr;
  Dwarf_Half version = 0;
  uint8_t unitType = 0;
  Dwarf_Die die;
  while (dwarf_get_units(dwarf.Handle(), unit, &unit, &version, &unitType, &die, nullptr) == 0) {
    if (unitType != DW_UT_compile) continue;
    const string source = AttributeString(&die, DW_AT_name);
    if (source.empty()) continue;
    const string directory = AttributeString(&die, DW_AT_comp_dir);
    const string sourcePath = Absolute(source, directory);
    const string name = UnitNameOf(source);
    ReadRanges(&die, name, model.Code, model.Segments);
    TUnitLines& lines = model.Lines[name];
    if (lines.SourceFile.empty()) lines.SourceFile = std::filesystem::path(source).filename().string();
    ReadLines(&die, sourcePath, directory, model.Code, lines.Entries);
  }
  std::stable_sort(model.Segments.begin(), model.Segments.end(),
                   [](const TRange& a, const TRange& b) { return a.Start < b.Start; });
  for (auto& [name, lines] : model.Lines) {
    std::stable_sort(lines.Entries.begin(), lines.Entries.end(),
                     [](const TLineEntry& a, const TLineEntry& b) { return a.Offset < b.Offset; });
  }
}

TMapModel ReadModel(const string& path) {
  TElfFile file(path);
  TMapModel model;
  model.Code = FindCodeSegment(file.Handle());
  model.Publics = ReadPublics(file.Handle(), model.Code);
  ReadUnits(file.Handle(), model);
  return model;
}

// ---- Writing --------------------------------------------------------------

string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

string Address(uint32_t offset) { return " 0001:" + Hex8(offset); }

// Where the headers of a map's body lie, in bytes from the body's start (the
// segments header's line), and the line-number block headers in order.
struct TBodyLayout {
  size_t ByName = 0, ByValue = 0, LineNumbers = 0;
  std::vector<string> BlockHeaders;  // each header line without its break
  std::vector<size_t> BlockStarts;   // where each header line starts
};

void WriteSegments(std::ostream& out, const TMapModel& model) {
  out << "Detailed map of segments\r\n\r\n";
  for (const TRange& range : model.Segments)
    out << Address(range.Start) << ' ' << Hex8(range.Length) << " C=CODE     S=.text    G=(none)   M=" << range.Unit
        << " ACBP=A9\r\n";
  out << "\r\n";
}

void WritePublic(std::ostream& out, const TPublic& symbol) {
  out << Address(symbol.Offset) << "       " << symbol.Name << "\r\n";
}

// The reader names an address by the public just below the first public at
// or above it: a last line without a name at the end of the code closes the
// last function.
void WritePublics(std::ostream& out, const TMapModel& model, TBodyLayout& layout) {
  std::vector<const TPublic*> byName;
  for (const TPublic& symbol : model.Publics) byName.push_back(&symbol);
  std::stable_sort(byName.begin(), byName.end(), [](const TPublic* a, const TPublic* b) { return a->Name < b->Name; });
  out << "\r\n";
  layout.ByName = static_cast<size_t>(out.tellp());
  out << "  Address         Publics by Name\r\n\r\n";
  for (const TPublic* symbol : byName) WritePublic(out, *symbol);
  out << "\r\n";
  layout.ByValue = static_cast<size_t>(out.tellp());
  out << "  Address         Publics by Value\r\n\r\n\r\n";
  for (const TPublic& symbol : model.Publics) WritePublic(out, symbol);
  out << Address(static_cast<uint32_t>(model.Code.Size)) << "\r\n\r\n";
}

// The reader takes the first block whose header holds a unit's name: shorter
// names come first, so that a name contained in a longer one finds its own.
void WriteLineNumbers(std::ostream& out, const TMapModel& model, TBodyLayout& layout) {
  std::vector<const std::pair<const string, TUnitLines>*> units;
  for (const auto& unit : model.Lines)
    if (!unit.second.Entries.empty()) units.push_back(&unit);
  std::stable_sort(units.begin(), units.end(),
                   [](const auto* a, const auto* b) { return a->first.size() < b->first.size(); });
  layout.LineNumbers = static_cast<size_t>(out.tellp());
  for (const auto* unit : units) {
    layout.BlockStarts.push_back(static_cast<size_t>(out.tellp()));
    layout.BlockHeaders.push_back("Line numbers for " + unit->first + '(' + unit->second.SourceFile +
                                  ") segment .text");
    out << layout.BlockHeaders.back() << "\r\n\r\n";
    const auto& entries = unit->second.Entries;
    for (size_t i = 0; i < entries.size(); ++i) {
      char entry[32];
      std::snprintf(entry, sizeof entry, "%6d", entries[i].Line);
      out << entry << Address(entries[i].Offset);
      out << ((i % 4 == 3 || i + 1 == entries.size()) ? "\r\n" : "");
    }
    out << "\r\n";
  }
}

// ---- The recorded layout --------------------------------------------------
//
// Before the segments header the map records where its regions begin and,
// for each unit its segments name, which line of the line-number region the
// reader's search for the name finds (see exceptionlog/ZTMapFile.h), so that
// ztl-mapinfo can seek instead of walking. Written only where the record
// says what the reader's rules would find: no name can hold a header, the
// publics and segments are ordered by offset, and a unit's name is searched
// only where it can occur.

bool HoldsHeader(const string& text) {
  for (const char* header : {"Detailed map of segments", "Publics by", "Line numbers for"})
    if (text.find(header) != string::npos) return true;
  return false;
}

// The name as the reader takes it from a segment line: blanks and control
// characters trimmed at both ends.
string ReadersUnitName(const string& unit) {
  const auto kept = [](char c) { return static_cast<unsigned char>(c) > ' '; };
  const auto first = std::find_if(unit.begin(), unit.end(), kept);
  const auto last = std::find_if(unit.rbegin(), unit.rend(), kept).base();
  return first < last ? string(first, last) : string();
}

// Whether a line of entries ("%6d 0001:%08X" up to four times) could hold the
// name: only when every character of it is one such lines have.
bool MayBeInEntries(const string& name) {
  return name.find_first_not_of("0123456789ABCDEF:- ") == string::npos;
}

bool LayoutHolds(const TMapModel& model) {
  if (model.Publics.empty() || model.Publics.back().Offset > model.Code.Size) return false;
  const auto byOffset = [](const TPublic& a, const TPublic& b) { return a.Offset < b.Offset; };
  const auto byStart = [](const TRange& a, const TRange& b) { return a.Start < b.Start; };
  if (!std::is_sorted(model.Publics.begin(), model.Publics.end(), byOffset) ||
      !std::is_sorted(model.Segments.begin(), model.Segments.end(), byStart))
    return false;
  for (const TPublic& symbol : model.Publics)
    if (HoldsHeader(symbol.Name)) return false;
  for (const TRange& range : model.Segments)
    if (HoldsHeader(range.Unit)) return false;
  for (const auto& [name, lines] : model.Lines)
    if (HoldsHeader(name) || HoldsHeader(lines.SourceFile)) return false;
  return true;
}

string LayoutRecord(const TMapModel& model, const TBodyLayout& layout, size_t bodySize) {
  if (layout.BlockHeaders.empty() || !LayoutHolds(model)) return {};
  string record = "Layout after the segments header: " + std::to_string(bodySize) + " bytes, publics by name at " +
                  std::to_string(layout.ByName) + ", publics by value at " + std::to_string(layout.ByValue) +
                  ", line numbers at " + std::to_string(layout.LineNumbers) + "\r\n";
  std::set<string> seen;
  for (const TRange& range : model.Segments) {
    const string name = ReadersUnitName(range.Unit);
    const bool printable = std::all_of(name.begin(), name.end(), [](char c) { return c >= ' ' && c <= '~'; });
    if (name.empty() || !printable || MayBeInEntries(name) || !seen.insert(name).second) continue;
    // Blank lines hold no name, and entry lines not this one: the first
    // block header holding it is the line the reader finds.
    for (size_t i = 0; i < layout.BlockHeaders.size(); ++i) {
      if (layout.BlockHeaders[i].find(name) == string::npos) continue;
      record += "Lines of " + name + " at " + std::to_string(layout.BlockStarts[i]) + "\r\n";
      break;
    }
  }
  return record;
}

// Written to a temporary file first, so that a reader never sees half a map.
void WriteMap(const TMapModel& model, const string& path) {
  std::ostringstream body;
  TBodyLayout layout;
  WriteSegments(body, model);
  WritePublics(body, model, layout);
  WriteLineNumbers(body, model, layout);
  const string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) Fail("cannot create " + temporary);
    out << "Code at module offset " << Hex8(static_cast<uint32_t>(model.Code.ModuleOffset)) << "\r\n";
    out << LayoutRecord(model, layout, static_cast<size_t>(body.tellp())) << "\r\n";
    out << " Start         Length     Name                   Class\r\n";
    out << Address(0) << ' ' << Hex8(static_cast<uint32_t>(model.Code.Size)) << "H .text                   CODE\r\n\r\n";
    out << body.view();
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      Fail("cannot write " + temporary);
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    Fail("cannot replace " + path);
  }
}

string DefaultMapName(const string& elfPath) {
  std::filesystem::path path(elfPath);
  return path.replace_extension(".map").string();
}

}  // namespace

constexpr const char* kUsage =
    "usage: ztl-mkmap ELF-FILE [MAP-FILE]\n"
    "Writes the map of an executable or shared object: its units, functions and\n"
    "source lines, in the layout the exception logger reads. Without MAP-FILE the\n"
    "map goes beside ELF-FILE with the extension .map.\n";

int main(int argc, char** argv) {
  if (argc == 2 && (string(argv[1]) == "--help" || string(argv[1]) == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc < 2 || argc > 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const string input = argv[1];
  const string output = argc == 3 ? argv[2] : DefaultMapName(input);
  try {
    const TMapModel model = ReadModel(input);
    if (model.Lines.empty() || std::all_of(model.Lines.begin(), model.Lines.end(),
                                           [](const auto& unit) { return unit.second.Entries.empty(); }))
      std::fprintf(stderr, "ztl-mkmap: warning: %s has no line table: the map names no source lines\n", input.c_str());
    WriteMap(model, output);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ztl-mkmap: %s\n", error.what());
    return 1;
  }
  return 0;
}
