#include <ztlogger/platform/os/SysInfo.h>

#include <pwd.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

#include <ztlogger/platform/os/Display.h>
#include <ztlogger/platform/os/WideText.h>

static_assert(sizeof(MEMORYSTATUS) == 56);
static_assert(sizeof(MEMORYSTATUSEX) == 64);
static_assert(sizeof(SYSTEM_INFO) == 48);
static_assert(offsetof(SYSTEM_INFO, dwPageSize) == 4);
static_assert(offsetof(SYSTEM_INFO, wProcessorLevel) == 44);

namespace ztl {

namespace {

std::atomic<const SystemFacts*> installedFacts{nullptr};

// A line "Key:   value ..." of a /proc text file: the first number after the key.
bool ReadProcNumber(const String& path, const String& key, uint64_t& value) {
  std::ifstream in(path);
  String line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) != 0 || line.size() <= key.size() || line[key.size()] != ':') continue;
    value = std::strtoull(line.c_str() + key.size() + 1, nullptr, 10);
    return true;
  }
  return false;
}

// The x86 processor signature: family, model and stepping as Windows reads them.
struct TCpuSignature {
  bool Known = false;
  unsigned Family = 0;
  unsigned Model = 0;
  unsigned Stepping = 0;
};

TCpuSignature ReadCpuSignature() {
  TCpuSignature signature;
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
    const unsigned baseFamily = (eax >> 8) & 0xF;
    const unsigned baseModel = (eax >> 4) & 0xF;
    signature.Known = true;
    signature.Family = baseFamily == 0xF ? baseFamily + ((eax >> 20) & 0xFF) : baseFamily;
    signature.Model = (baseFamily == 0x6 || baseFamily == 0xF) ? baseModel + (((eax >> 16) & 0xF) << 4) : baseModel;
    signature.Stepping = eax & 0xF;
  }
#endif
  return signature;
}

WORD ProcessorFamilyFromCpuinfo() {
  uint64_t family = 0;
  if (ReadProcNumber("/proc/cpuinfo", "cpu family\t", family)) return static_cast<WORD>(family);
  if (ReadProcNumber("/proc/cpuinfo", "CPU architecture", family)) return static_cast<WORD>(family);
  return 0;
}

uint64_t PageSize() { return static_cast<uint64_t>(sysconf(_SC_PAGESIZE)); }

// The user part of the address space, as GetSystemInfo reports it.
uintptr_t LowestUserAddress() {
  uint64_t lowest = 0x10000;
  std::ifstream in("/proc/sys/vm/mmap_min_addr");
  in >> lowest;
  return static_cast<uintptr_t>(std::max<uint64_t>(lowest, PageSize()));
}

uintptr_t HighestUserAddress() {
#if defined(__x86_64__)
  return (uintptr_t{1} << 47) - PageSize() - 1;
#elif UINTPTR_MAX > 0xFFFFFFFFu
  return (uintptr_t{1} << 48) - 1;
#else
  return 0xBFFFFFFF;
#endif
}

TMemoryFacts MemoryFromKernel() {
  TMemoryFacts facts;
  uint64_t totalKb = 0, availKb = 0, swapTotalKb = 0, swapFreeKb = 0;
  const String meminfo = "/proc/meminfo";
  if (ReadProcNumber(meminfo, "MemTotal", totalKb)) {
    if (!ReadProcNumber(meminfo, "MemAvailable", availKb)) {
      uint64_t freeKb = 0, buffersKb = 0, cachedKb = 0;
      ReadProcNumber(meminfo, "MemFree", freeKb);
      ReadProcNumber(meminfo, "Buffers", buffersKb);
      ReadProcNumber(meminfo, "Cached", cachedKb);
      availKb = freeKb + buffersKb + cachedKb;
    }
    ReadProcNumber(meminfo, "SwapTotal", swapTotalKb);
    ReadProcNumber(meminfo, "SwapFree", swapFreeKb);
    facts.TotalPhys = totalKb * 1024;
    facts.AvailPhys = availKb * 1024;
    facts.TotalPageFile = (totalKb + swapTotalKb) * 1024;
    facts.AvailPageFile = (availKb + swapFreeKb) * 1024;
  } else {
    struct sysinfo info {};
    if (sysinfo(&info) == 0) {
      facts.TotalPhys = uint64_t{info.totalram} * info.mem_unit;
      facts.AvailPhys = (uint64_t{info.freeram} + info.bufferram) * info.mem_unit;
      facts.TotalPageFile = facts.TotalPhys + uint64_t{info.totalswap} * info.mem_unit;
      facts.AvailPageFile = facts.AvailPhys + uint64_t{info.freeswap} * info.mem_unit;
    }
  }
  // The address space: Windows' "virtual memory" figures are the user part of
  // it and what this process has not yet mapped.
  uint64_t total = HighestUserAddress() - LowestUserAddress() + 1;
  struct rlimit limit {};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) total = std::min<uint64_t>(total, limit.rlim_cur);
  uint64_t mappedKb = 0;
  ReadProcNumber("/proc/self/status", "VmSize", mappedKb);
  facts.TotalVirtual = total;
  facts.AvailVirtual = total > mappedKb * 1024 ? total - mappedKb * 1024 : 0;
  return facts;
}

}  // namespace

TVersionFacts VersionFromKernelRelease(const String& release) {
  TVersionFacts facts;
  int* parts[] = {&facts.Major, &facts.Minor, &facts.Build};
  size_t pos = 0;
  for (size_t i = 0; i < 3; ++i) {
    if (i > 0) {
      if (pos >= release.size() || release[pos] != '.') break;
      ++pos;
    }
    if (pos >= release.size() || !std::isdigit(static_cast<unsigned char>(release[pos]))) break;
    *parts[i] = 0;
    while (pos < release.size() && std::isdigit(static_cast<unsigned char>(release[pos]))) {
      *parts[i] = *parts[i] * 10 + (release[pos] - '0');
      ++pos;
    }
  }
  while (pos < release.size() && (release[pos] == '-' || release[pos] == '.' || release[pos] == '+')) ++pos;
  facts.CSDVersion = release.substr(pos);
  return facts;
}

TVersionFacts SystemFacts::Version() const {
  struct utsname names {};
  if (uname(&names) != 0) return {};
  return VersionFromKernelRelease(names.release);
}

WORD SystemFacts::ProcessorLevel() const {
  const TCpuSignature signature = ReadCpuSignature();
  return signature.Known ? static_cast<WORD>(signature.Family) : ProcessorFamilyFromCpuinfo();
}

TMemoryFacts SystemFacts::Memory() const { return MemoryFromKernel(); }

String SystemFacts::HostName() const {
  char name[256] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return {};
  return name;
}

String SystemFacts::UserName() const {
  const uid_t uid = geteuid();
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(4096);
  while (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) buffer.resize(buffer.size() * 2);
  if (found && found->pw_name) return found->pw_name;
  return std::to_string(uid);  // an account without a name still has its number
}

std::vector<TDisplayDeviceFacts> SystemFacts::DisplayDevices() const { return ScanDrmDisplayDevices("/sys/class/drm"); }

const SystemFacts& CurrentSystemFacts() {
  static const SystemFacts machine;
  const SystemFacts* installed = installedFacts.load();
  return installed ? *installed : machine;
}

namespace {

void LoadVersionRecord() {
  const TVersionFacts version = CurrentSystemFacts().Version();
  Win32Platform = version.Platform;
  Win32MajorVersion = version.Major;
  Win32MinorVersion = version.Minor;
  Win32BuildNumber = version.Build;
  Win32CSDVersion = version.CSDVersion;
}

}  // namespace

ScopedSystemFacts::ScopedSystemFacts(const SystemFacts& facts) : previous_(installedFacts.exchange(&facts)) {
  LoadVersionRecord();
}

ScopedSystemFacts::~ScopedSystemFacts() {
  installedFacts.store(previous_);
  LoadVersionRecord();
}

}  // namespace ztl

// ---- The version record ------------------------------------------------

int Win32Platform = VER_PLATFORM_POSIX;
int Win32MajorVersion = 0;
int Win32MinorVersion = 0;
int Win32BuildNumber = 0;
ztl::String Win32CSDVersion;

namespace {
// Filled once when the library is loaded, after the definitions above.
[[maybe_unused]] const bool versionRecordLoaded = (ztl::LoadVersionRecord(), true);
}  // namespace

// ---- Names -------------------------------------------------------------

namespace {

// The Windows form of a host name: its first label, upper-cased, at most
// MAX_COMPUTERNAME_LENGTH characters.
std::u16string ComputerNameFromHostName(const ztl::String& host) {
  ztl::String label = host.substr(0, host.find('.'));
  for (char& c : label) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::u16string name = ztl::oswide::FromUtf8(label);
  if (name.size() > MAX_COMPUTERNAME_LENGTH) {
    name.resize(MAX_COMPUTERNAME_LENGTH);
    if (name.back() >= 0xD800 && name.back() <= 0xDBFF) name.pop_back();
  }
  return name;
}

}  // namespace

BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize) {
  if (!nSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::u16string name = ComputerNameFromHostName(ztl::CurrentSystemFacts().HostName());
  if (!ztl::oswide::CopyWithNull(name, lpBuffer, *nSize)) {
    *nSize = static_cast<DWORD>(name.size() + 1);
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  *nSize = static_cast<DWORD>(name.size());
  return TRUE;
}

BOOL GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer) {
  if (!pcbBuffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::u16string name = ztl::oswide::FromUtf8(ztl::CurrentSystemFacts().UserName());
  if (name.empty()) {
    *pcbBuffer = 0;
    SetLastError(ERROR_NONE_MAPPED);
    return FALSE;
  }
  const DWORD needed = static_cast<DWORD>(name.size() + 1);
  const bool copied = ztl::oswide::CopyWithNull(name, lpBuffer, *pcbBuffer);
  *pcbBuffer = needed;
  if (!copied) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  return TRUE;
}

// ---- Memory ------------------------------------------------------------

namespace {

// The share of physical memory in use, in whole percent (rounded down).
DWORD MemoryLoad(const ztl::TMemoryFacts& facts) {
  if (facts.TotalPhys == 0 || facts.AvailPhys >= facts.TotalPhys) return 0;
  const long double used = static_cast<long double>(facts.TotalPhys - facts.AvailPhys);
  return static_cast<DWORD>(used * 100 / static_cast<long double>(facts.TotalPhys));
}

SIZE_T Capped32(uint64_t bytes) { return static_cast<SIZE_T>(std::min<uint64_t>(bytes, 0xFFFFFFFFu)); }

}  // namespace

void GlobalMemoryStatus(LPMEMORYSTATUS lpBuffer) {
  const ztl::TMemoryFacts facts = ztl::CurrentSystemFacts().Memory();
  lpBuffer->dwLength = sizeof(MEMORYSTATUS);
  lpBuffer->dwMemoryLoad = MemoryLoad(facts);
  lpBuffer->dwTotalPhys = Capped32(facts.TotalPhys);
  lpBuffer->dwAvailPhys = Capped32(facts.AvailPhys);
  lpBuffer->dwTotalPageFile = Capped32(facts.TotalPageFile);
  lpBuffer->dwAvailPageFile = Capped32(facts.AvailPageFile);
  lpBuffer->dwTotalVirtual = Capped32(facts.TotalVirtual);
  lpBuffer->dwAvailVirtual = Capped32(facts.AvailVirtual);
}

BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX lpBuffer) {
  if (!lpBuffer || lpBuffer->dwLength != sizeof(MEMORYSTATUSEX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const ztl::TMemoryFacts facts = ztl::CurrentSystemFacts().Memory();
  lpBuffer->dwMemoryLoad = MemoryLoad(facts);
  lpBuffer->ullTotalPhys = facts.TotalPhys;
  lpBuffer->ullAvailPhys = facts.AvailPhys;
  lpBuffer->ullTotalPageFile = facts.TotalPageFile;
  lpBuffer->ullAvailPageFile = facts.AvailPageFile;
  lpBuffer->ullTotalVirtual = facts.TotalVirtual;
  lpBuffer->ullAvailVirtual = facts.AvailVirtual;
  lpBuffer->ullAvailExtendedVirtual = 0;
  return TRUE;
}

// ---- Processor ---------------------------------------------------------

void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
  SYSTEM_INFO info{};
#if defined(__x86_64__)
  info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
  info.dwProcessorType = PROCESSOR_AMD_X8664;
#elif defined(__i386__)
  info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  info.dwProcessorType = PROCESSOR_INTEL_PENTIUM;
#elif defined(__aarch64__)
  info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM64;
  info.dwProcessorType = PROCESSOR_ARM;
#elif defined(__arm__)
  info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM;
  info.dwProcessorType = PROCESSOR_ARM;
#else
  info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
#endif
  info.dwPageSize = static_cast<DWORD>(ztl::PageSize());
  info.dwAllocationGranularity = info.dwPageSize;
  info.lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(ztl::LowestUserAddress());
  info.lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(ztl::HighestUserAddress());
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (sched_getaffinity(0, sizeof(cpus), &cpus) == 0) {
    for (unsigned cpu = 0; cpu < sizeof(DWORD_PTR) * 8; ++cpu)
      if (CPU_ISSET(cpu, &cpus)) info.dwActiveProcessorMask |= DWORD_PTR{1} << cpu;
  }
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  info.dwNumberOfProcessors = online > 0 ? static_cast<DWORD>(online) : 1;
  info.wProcessorLevel = ztl::CurrentSystemFacts().ProcessorLevel();
  const ztl::TCpuSignature signature = ztl::ReadCpuSignature();
  info.wProcessorRevision = static_cast<WORD>(((signature.Model & 0xFF) << 8) | (signature.Stepping & 0xFF));
  *lpSystemInfo = info;
}

// ---- Time ----------------------------------------------------------------

void Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    sched_yield();
    return;
  }
  if (dwMilliseconds == INFINITE) {
    for (;;) pause();
  }
  timespec remaining{static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

ULONGLONG ReadTimeStampCounter() {
#if defined(__x86_64__) || defined(__i386__)
  return __rdtsc();
#else
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_RAW, &now);
  return static_cast<ULONGLONG>(now.tv_sec) * 1000000000ULL + static_cast<ULONGLONG>(now.tv_nsec);
#endif
}

// ---- The command line ----------------------------------------------------

namespace {

struct TCommandLine {
  ztl::String ExePath;
  std::vector<ztl::String> Arguments;  // argv[0] first
};

TCommandLine ReadCommandLine() {
  TCommandLine line;
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  ztl::String argument;
  while (std::getline(in, argument, '\0')) line.Arguments.push_back(argument);
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length > 0)
    line.ExePath.assign(path, static_cast<size_t>(length));
  else if (!line.Arguments.empty())
    line.ExePath = line.Arguments.front();
  return line;
}

const TCommandLine& CommandLine() {
  static const TCommandLine line = ReadCommandLine();
  return line;
}

}  // namespace

int ParamCount() {
  const size_t count = CommandLine().Arguments.size();
  return count > 0 ? static_cast<int>(count - 1) : 0;
}

ztl::String ParamStr(int index) {
  if (index == 0) return CommandLine().ExePath;
  if (index < 0 || index > ParamCount()) return {};
  return CommandLine().Arguments[static_cast<size_t>(index)];
}
