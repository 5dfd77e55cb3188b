#pragma once
// System information: computer and user name, memory status, processor, the
// version record, Sleep, the time-stamp counter and the command line.
// Processes and threads are in os/Processes.h.
//
// Every machine-dependent fact is read through ztl::SystemFacts, so a test can
// put in the facts of another machine (ScopedSystemFacts) without the callers
// of these functions knowing.
//
// Any thread; ScopedSystemFacts while no other thread reads the facts.
#include <vector>

#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

// ---- Records and values -------------------------------------------------

inline constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;
inline constexpr DWORD UNLEN = 256;
// GetUserNameW: the account has no name the system could give.
inline constexpr DWORD ERROR_NONE_MAPPED = 1332;

struct ZTL_PLATFORM_API MEMORYSTATUS {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  SIZE_T dwTotalPhys;
  SIZE_T dwAvailPhys;
  SIZE_T dwTotalPageFile;
  SIZE_T dwAvailPageFile;
  SIZE_T dwTotalVirtual;
  SIZE_T dwAvailVirtual;
};
using LPMEMORYSTATUS = MEMORYSTATUS*;

struct ZTL_PLATFORM_API MEMORYSTATUSEX {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  DWORDLONG ullTotalPhys;
  DWORDLONG ullAvailPhys;
  DWORDLONG ullTotalPageFile;
  DWORDLONG ullAvailPageFile;
  DWORDLONG ullTotalVirtual;
  DWORDLONG ullAvailVirtual;
  DWORDLONG ullAvailExtendedVirtual;
};
using LPMEMORYSTATUSEX = MEMORYSTATUSEX*;

struct ZTL_PLATFORM_API SYSTEM_INFO {
  union {
    DWORD dwOemId;
    struct {
      WORD wProcessorArchitecture;
      WORD wReserved;
    };
  };
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
};
using LPSYSTEM_INFO = SYSTEM_INFO*;

inline constexpr WORD PROCESSOR_ARCHITECTURE_INTEL = 0;
inline constexpr WORD PROCESSOR_ARCHITECTURE_ARM = 5;
inline constexpr WORD PROCESSOR_ARCHITECTURE_AMD64 = 9;
inline constexpr WORD PROCESSOR_ARCHITECTURE_ARM64 = 12;
inline constexpr WORD PROCESSOR_ARCHITECTURE_UNKNOWN = 0xFFFF;
inline constexpr DWORD PROCESSOR_INTEL_PENTIUM = 586;
inline constexpr DWORD PROCESSOR_AMD_X8664 = 8664;
inline constexpr DWORD PROCESSOR_ARM = 0;

// Platform identifiers of the version record. Windows knows 0 to 2; the
// POSIX build reports its own identifier, so code that names a Windows
// family by identifier finds none here.
inline constexpr int VER_PLATFORM_WIN32s = 0;
inline constexpr int VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr int VER_PLATFORM_WIN32_NT = 2;
inline constexpr int VER_PLATFORM_POSIX = 100;

// ---- The version record, filled when the library is loaded ---------------
// On POSIX: VER_PLATFORM_POSIX, the kernel release's first three numbers as
// major, minor and build ("6.1.42-amd64" gives 6, 1, 42) and the rest of the
// release text, without its leading '-' or '.', as the service-pack string.
extern ZTL_PLATFORM_API int Win32Platform;
extern ZTL_PLATFORM_API int Win32MajorVersion;
extern ZTL_PLATFORM_API int Win32MinorVersion;
extern ZTL_PLATFORM_API int Win32BuildNumber;
extern ZTL_PLATFORM_API ztl::String Win32CSDVersion;

namespace ztl {

// ---- The seam ----------------------------------------------------------

struct ZTL_PLATFORM_API TVersionFacts {
  int Platform = VER_PLATFORM_POSIX;
  int Major = 0;
  int Minor = 0;
  int Build = 0;
  String CSDVersion;
};

// Byte counts.
struct ZTL_PLATFORM_API TMemoryFacts {
  uint64_t TotalPhys = 0;
  uint64_t AvailPhys = 0;
  uint64_t TotalPageFile = 0;
  uint64_t AvailPageFile = 0;
  uint64_t TotalVirtual = 0;
  uint64_t AvailVirtual = 0;
};

// One display device as EnumDisplayDevicesW reports it, with the monitors
// attached to it (listed when the device's name is passed).
struct ZTL_PLATFORM_API TDisplayDeviceFacts {
  String DeviceName;
  String DeviceString;
  DWORD StateFlags = 0;
  String DeviceID;
  String DeviceKey;
  std::vector<TDisplayDeviceFacts> Monitors;
};

// The facts of the machine. Each function answers this machine's value; a
// test derives, overrides what it wants to fix, and installs the object with
// ScopedSystemFacts.
class ZTL_PLATFORM_API SystemFacts {
 public:
  virtual ~SystemFacts() = default;
  virtual TVersionFacts Version() const;
  // The processor family (6 for most Intel processors, 23 or 25 for AMD Zen).
  virtual WORD ProcessorLevel() const;
  virtual TMemoryFacts Memory() const;
  // The host name as the system gives it (GetComputerNameW derives the
  // Windows form from it).
  virtual String HostName() const;
  // The name of the effective user; empty when the system knows none (then
  // GetUserNameW fails and reports no size).
  virtual String UserName() const;
  virtual std::vector<TDisplayDeviceFacts> DisplayDevices() const;
};

// The facts in force: the installed ones, else the machine's.
ZTL_PLATFORM_API const SystemFacts& CurrentSystemFacts();

// Installs facts for its lifetime (restoring the previous ones after) and
// refills the version record from them. Install from one thread, before the
// code under test runs.
class ZTL_PLATFORM_API ScopedSystemFacts {
 public:
  explicit ScopedSystemFacts(const SystemFacts& facts);
  ~ScopedSystemFacts();
  ScopedSystemFacts(const ScopedSystemFacts&) = delete;
  ScopedSystemFacts& operator=(const ScopedSystemFacts&) = delete;

 private:
  const SystemFacts* previous_;
};

// Parses a kernel release text into the version record's parts.
ZTL_PLATFORM_API TVersionFacts VersionFromKernelRelease(const String& release);

}  // namespace ztl

// ---- Functions ---------------------------------------------------------

ZTL_PLATFORM_API BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize);
ZTL_PLATFORM_API BOOL GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer);

// Figures above 4 GiB - 1 are capped there, as for a 32-bit program.
ZTL_PLATFORM_API void GlobalMemoryStatus(LPMEMORYSTATUS lpBuffer);
// dwLength must be sizeof(MEMORYSTATUSEX).
ZTL_PLATFORM_API BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX lpBuffer);

ZTL_PLATFORM_API void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);

ZTL_PLATFORM_API void Sleep(DWORD dwMilliseconds);

// The processor's time-stamp counter (RDTSC); on processors without one, a
// monotonic nanosecond count.
ZTL_PLATFORM_API ULONGLONG ReadTimeStampCounter();

// The command line: ParamStr(0) is the executable's path, 1..ParamCount the
// parameters; an index out of range gives an empty text.
ZTL_PLATFORM_API int ParamCount();
ZTL_PLATFORM_API ztl::String ParamStr(int index);
