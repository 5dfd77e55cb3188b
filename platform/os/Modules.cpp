#include <ztlogger/platform/os/Modules.h>

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace ztl {

namespace {

struct TModuleInfo {
  uintptr_t CodeBase = 0;
  String FileName;
};

uintptr_t FirstCodeSegment(const dl_phdr_info& info) {
  for (ElfW(Half) i = 0; i < info.dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info.dlpi_phdr[i];
    if (header.p_type == PT_LOAD && (header.p_flags & PF_X)) return info.dlpi_addr + header.p_vaddr;
  }
  return 0;
}

bool HoldsAddress(const dl_phdr_info& info, uintptr_t address) {
  for (ElfW(Half) i = 0; i < info.dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info.dlpi_phdr[i];
    const uintptr_t start = info.dlpi_addr + header.p_vaddr;
    if (header.p_type == PT_LOAD && address >= start && address - start < header.p_memsz) return true;
  }
  return false;
}

String ExecutablePath() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
  return length > 0 ? String(path, static_cast<size_t>(length)) : String();
}

// The dynamic linker reports the main program first, with an empty name.
int MainModuleCallback(dl_phdr_info* info, size_t, void* data) {
  auto* result = static_cast<TModuleInfo*>(data);
  result->CodeBase = FirstCodeSegment(*info);
  return 1;
}

struct TAddressQuery {
  uintptr_t Address;
  TModuleInfo Result;
};

int AddressCallback(dl_phdr_info* info, size_t, void* data) {
  auto* query = static_cast<TAddressQuery*>(data);
  if (!HoldsAddress(*info, query->Address)) return 0;
  query->Result.CodeBase = FirstCodeSegment(*info);
  query->Result.FileName = info->dlpi_name && *info->dlpi_name ? String(info->dlpi_name) : ExecutablePath();
  return 1;
}

TAddressQuery FindModule(const void* Address) {
  TAddressQuery query{reinterpret_cast<uintptr_t>(Address), {}};
  if (Address) dl_iterate_phdr(AddressCallback, &query);
  return query;
}

// Where the main program's first loadable segment is mapped (the page that
// holds its start), as the loader reports a module's base.
int MainModuleLoadCallback(dl_phdr_info* info, size_t, void* data) {
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    if (header.p_type != PT_LOAD) continue;
    *static_cast<uintptr_t*>(data) = (info->dlpi_addr + header.p_vaddr) & ~(page - 1);
    break;
  }
  return 1;
}

uintptr_t MainModuleLoadBase() {
  uintptr_t base = 0;
  dl_iterate_phdr(MainModuleLoadCallback, &base);
  return base;
}

// The descriptor of a PT_NOTE segment that holds the GNU build id.
String BuildIdOf(const dl_phdr_info& info) {
  for (ElfW(Half) i = 0; i < info.dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info.dlpi_phdr[i];
    if (header.p_type != PT_NOTE) continue;
    const auto* note = reinterpret_cast<const char*>(info.dlpi_addr + header.p_vaddr);
    const char* end = note + header.p_memsz;
    while (note + sizeof(ElfW(Nhdr)) <= end) {
      ElfW(Nhdr) head;
      std::memcpy(&head, note, sizeof head);
      const char* name = note + sizeof head;
      const char* descriptor = name + ((head.n_namesz + 3) & ~3u);
      const char* next = descriptor + ((head.n_descsz + 3) & ~3u);
      if (next > end) break;
      if (head.n_type == NT_GNU_BUILD_ID && head.n_namesz == 4 && std::memcmp(name, "GNU", 4) == 0)
        return String(descriptor, head.n_descsz);
      note = next;
    }
  }
  return {};
}

int ListModuleCallback(dl_phdr_info* info, size_t, void* data) {
  auto* modules = static_cast<std::vector<TLoadedModule>*>(data);
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t first = UINTPTR_MAX, last = 0;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    if (header.p_type != PT_LOAD) continue;
    first = std::min<uintptr_t>(first, (info->dlpi_addr + header.p_vaddr) & ~(page - 1));
    last = std::max<uintptr_t>(last, info->dlpi_addr + header.p_vaddr + header.p_memsz);
  }
  if (first == UINTPTR_MAX) return 0;
  TLoadedModule module;
  module.FileName = info->dlpi_name && *info->dlpi_name ? String(info->dlpi_name) : ExecutablePath();
  // The vDSO has no file: named by the loader or not at all, never a path.
  if (module.FileName.empty() || module.FileName.front() != '/') return 0;
  module.LoadBase = first;
  module.Size = last - first;
  module.BuildId = BuildIdOf(*info);
  modules->push_back(std::move(module));
  return 0;
}

}  // namespace

std::vector<TLoadedModule> LoadedModules() {
  std::vector<TLoadedModule> modules;
  dl_iterate_phdr(ListModuleCallback, &modules);
  return modules;
}

uintptr_t MainModuleCodeBase() {
  TModuleInfo main;
  dl_iterate_phdr(MainModuleCallback, &main);
  return main.CodeBase;
}

uintptr_t ModuleCodeBase(const void* Address) { return FindModule(Address).Result.CodeBase; }

String ModuleFileNameOf(const void* Address) { return FindModule(Address).Result.FileName; }

uintptr_t ModuleLoadBase(const void* Address) {
  Dl_info info;
  if (!Address || !dladdr(Address, &info) || !info.dli_fbase) return 0;
  return reinterpret_cast<uintptr_t>(info.dli_fbase);
}

bool ModulePlaceOf(const void* Address, uintptr_t& LoadBase, char* name, size_t capacity) {
  Dl_info info;
  if (!Address || !dladdr(Address, &info) || !info.dli_fbase) return false;
  LoadBase = reinterpret_cast<uintptr_t>(info.dli_fbase);
  if (capacity == 0) return true;
  // The main program may be named as it was started, or not at all.
  char path[PATH_MAX];
  const char* file = info.dli_fname;
  if (!file || !*file || std::strchr(file, '/') == nullptr) {
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0 && reinterpret_cast<uintptr_t>(info.dli_fbase) == MainModuleLoadBase()) {
      path[length] = 0;
      file = path;
    }
  }
  if (!file) file = "";
  const char* slash = std::strrchr(file, '/');
  const char* last = slash ? slash + 1 : file;
  const size_t length = std::min(std::strlen(last), capacity - 1);
  std::memcpy(name, last, length);
  name[length] = 0;
  return true;
}

}  // namespace ztl
