#pragma once
// Names the function, source file and line of code addresses in the
// modules loaded into this process from their symbols and DWARF line
// tables (libdw): the places of call stack frames in modules that come
// without a map file, such as the framework's own libraries.
//
// Each module is read when an address first falls into it, and kept, as are
// the places found (a program's reports repeat the same frames, and finding
// one costs about a million instructions). The reader allocates and reads
// files: it serves reports built in normal context, never a signal handler.
#include <map>
#include <memory>
#include <unordered_map>

#include <ztlogger/platform/rtl/Types.h>

struct Dwfl;
struct Dwfl_Module;

namespace ztl {

class TDwarfPlaces {
 public:
  struct TPlace {
    String Function;  // demangled; empty where no symbol holds the address
    String File;      // the source file without its folder
    int Line = 0;     // 0 where the line tables do not cover the address
  };

  TDwarfPlaces();
  ~TDwarfPlaces();
  TDwarfPlaces(const TDwarfPlaces&) = delete;
  TDwarfPlaces& operator=(const TDwarfPlaces&) = delete;

  // The place of the instruction at Address; empty when no loaded module
  // holds it or the module cannot be read.
  TPlace PlaceOf(const void* Address);

 private:
  Dwfl_Module* ModuleOf(const void* Address);
  TPlace Find(const void* Address);

  Dwfl* FDwfl = nullptr;
  std::map<uintptr_t, Dwfl_Module*> FModules;  // by load address; null: unreadable
  std::unordered_map<const void*, TPlace> FPlaces;  // found so far, up to a bound
};

}  // namespace ztl
