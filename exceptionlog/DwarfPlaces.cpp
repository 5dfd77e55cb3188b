#include <ztlogger/exceptionlog/DwarfPlaces.h>

#include <cxxabi.h>
#include <dwarf.h>
#include <elfutils/libdwfl.h>

#include <cstdlib>

#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

namespace {

char* debugInfoPath = nullptr;  // libdw's default search of separate debugging files

const Dwfl_Callbacks callbacks = {
    .find_elf = nullptr,
    .find_debuginfo = dwfl_standard_find_debuginfo,
    .section_address = dwfl_offline_section_address,
    .debuginfo_path = &debugInfoPath,
};

// Only mangled names are demangled: a C function keeps its name.
String Demangled(const char* name) {
  if (name[0] != '_' || name[1] != 'Z') return name;
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> plain(abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
  return status == 0 && plain ? String(plain.get()) : String(name);
}

// The compile unit whose code holds the address. libdw finds it through
// .debug_aranges, which Clang writes for no unit by default: then each
// unit's own ranges are asked in turn.
Dwarf_Die* UnitOf(Dwfl_Module* module, GElf_Addr address, Dwarf_Addr& bias) {
  if (Dwarf_Die* unit = dwfl_module_addrdie(module, address, &bias)) return unit;
  Dwarf_Die* unit = nullptr;
  while ((unit = dwfl_module_nextcu(module, unit, &bias)) != nullptr)
    if (dwarf_haspc(unit, address - bias) > 0) return unit;
  return nullptr;
}

// Code inlined into a function (from a header, as often as not) is placed
// at the function's own statement that the outermost inlined call stands
// for, as the map files place it: the file and line of that call. False
// when the address is in no inlined code or the debugging information does
// not say.
bool CallSiteOf(Dwarf_Die* unit, Dwarf_Addr address, TDwarfPlaces::TPlace& place) {
  Dwarf_Die* scopes = nullptr;
  const int count = dwarf_getscopes(unit, address, &scopes);
  std::unique_ptr<Dwarf_Die, decltype(&std::free)> owned(scopes, &std::free);
  // Innermost first: the outermost inlined call is the last one before the
  // function itself.
  Dwarf_Die* outermost = nullptr;
  for (int i = 0; i < count && dwarf_tag(&scopes[i]) != DW_TAG_subprogram; ++i)
    if (dwarf_tag(&scopes[i]) == DW_TAG_inlined_subroutine) outermost = &scopes[i];
  if (!outermost) return false;
  Dwarf_Attribute attribute;
  Dwarf_Word file = 0, line = 0;
  Dwarf_Files* files = nullptr;
  size_t fileCount = 0;
  if (dwarf_formudata(dwarf_attr(outermost, DW_AT_call_file, &attribute), &file) != 0 ||
      dwarf_formudata(dwarf_attr(outermost, DW_AT_call_line, &attribute), &line) != 0 || line == 0 ||
      dwarf_getsrcfiles(unit, &files, &fileCount) != 0 || file >= fileCount)
    return false;
  const char* name = dwarf_filesrc(files, file, nullptr, nullptr);
  if (!name) return false;
  place.File = ExtractFileName(name);
  place.Line = static_cast<int>(line);
  return true;
}

}  // namespace

TDwarfPlaces::TDwarfPlaces() : FDwfl(dwfl_begin(&callbacks)) {}

TDwarfPlaces::~TDwarfPlaces() {
  if (FDwfl) dwfl_end(FDwfl);
}

Dwfl_Module* TDwarfPlaces::ModuleOf(const void* Address) {
  const uintptr_t base = ModuleLoadBase(Address);
  if (!FDwfl || !base) return nullptr;
  if (auto known = FModules.find(base); known != FModules.end()) return known->second;
  const String path = ModuleFileNameOf(Address);
  dwfl_report_begin_add(FDwfl);
  Dwfl_Module* module = dwfl_report_elf(FDwfl, ExtractFileName(path).c_str(), path.c_str(), -1, base, false);
  dwfl_report_end(FDwfl, nullptr, nullptr);
  FModules[base] = module;
  return module;
}

TDwarfPlaces::TPlace TDwarfPlaces::PlaceOf(const void* Address) {
  if (auto known = FPlaces.find(Address); known != FPlaces.end()) return known->second;
  // A bound on what is kept: a program that raises from ever new places
  // starts over rather than grow without end.
  constexpr size_t kMostKept = 4096;
  if (FPlaces.size() >= kMostKept) FPlaces.clear();
  return FPlaces.emplace(Address, Find(Address)).first->second;
}

TDwarfPlaces::TPlace TDwarfPlaces::Find(const void* Address) {
  TPlace place;
  Dwfl_Module* module = ModuleOf(Address);
  if (!module) return place;
  const auto address = static_cast<GElf_Addr>(reinterpret_cast<uintptr_t>(Address));
  GElf_Off offset = 0;
  GElf_Sym symbol;
  // The symbol whose code holds the address (its size counts), not the
  // nearest one before it.
  GElf_Addr functionStart = 0;
  if (const char* name = dwfl_module_addrinfo(module, address, &offset, &symbol, nullptr, nullptr, nullptr)) {
    place.Function = Demangled(name);
    functionStart = address - offset;
  }
  Dwarf_Addr bias = 0;
  Dwarf_Die* unit = UnitOf(module, address, bias);
  if (!unit || CallSiteOf(unit, address - bias, place)) return place;
  if (Dwarf_Line* line = dwarf_getsrc_die(unit, address - bias)) {
    // A row before the function's start belongs to other code: the function
    // has no line tables of its own (start-up code).
    Dwarf_Addr row = 0;
    int number = 0;
    const char* file = dwarf_linesrc(line, nullptr, nullptr);
    if (file && dwarf_lineaddr(line, &row) == 0 && dwarf_lineno(line, &number) == 0 && number > 0 &&
        row + bias >= functionStart) {
      place.File = ExtractFileName(file);
      place.Line = number;
    }
  }
  return place;
}

}  // namespace ztl
