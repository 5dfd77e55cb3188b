#pragma once
// Where the code of a loaded module starts at run time.
//
// The start of a module's code is the run-time address of its first loadable
// segment that holds executable code: on ELF systems the first PT_LOAD program
// header with PF_X, its p_vaddr plus the module's load bias; on Windows the
// image base plus the header's BaseOfCode. Offsets in the map files that
// ztl-mkmap writes count from this address, so an address minus the code base
// of its module is a map offset, also for position-independent executables
// loaded at a random address.
//
// Any thread.
#include <cstdint>
#include <vector>

#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl {

// The start of the code of the main program.
ZTL_PLATFORM_API uintptr_t MainModuleCodeBase();
// The start of the code of the loaded module (program or shared object) that
// holds Address; 0 when no loaded module holds it.
ZTL_PLATFORM_API uintptr_t ModuleCodeBase(const void* Address);
// The full path of the module that holds Address; empty when none does.
ZTL_PLATFORM_API String ModuleFileNameOf(const void* Address);

// Where the loader mapped the module that holds Address: the address of its
// first byte, from which debuggers, addr2line and the logger's reports count
// a module offset ("in module app at OFFSET", "app+OFFSET"). 0 when no loaded
// module holds Address.
ZTL_PLATFORM_API uintptr_t ModuleLoadBase(const void* Address);

// ModuleLoadBase and the module's file name without its folder, told
// without allocating (signal handlers ask): the name is copied into
// name[0..capacity), cut to fit and NUL-terminated. False when no loaded
// module holds Address.
ZTL_PLATFORM_API bool ModulePlaceOf(const void* Address, uintptr_t& LoadBase, char* name, size_t capacity);

// A module loaded into the process, as a crash report lists it so that a
// server can symbolize the report's addresses.
struct ZTL_PLATFORM_API TLoadedModule {
  String FileName;         // full path
  uintptr_t LoadBase = 0;  // as ModuleLoadBase counts it
  uintptr_t Size = 0;      // from LoadBase to the end of its last loaded segment
  String BuildId;          // the GNU build id's bytes; empty when the module has none
};

// Every module loaded at the moment, the main program first.
ZTL_PLATFORM_API std::vector<TLoadedModule> LoadedModules();

}  // namespace ztl
