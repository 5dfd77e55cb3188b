#pragma once
// Code modules: shared libraries loaded into the process to run their code,
// and the addresses of what they export by name (LoadLibraryW,
// GetProcAddress; FreeLibrary, declared with the modules loaded as data in
// messages/PeFile.h, releases either kind).
//
// Loading a module that is already loaded, by this call or because the
// program links it, gives the same handle and counts one more reference; the
// module is unloaded when the last reference is released and nothing else
// holds it.
//
// Any thread: loading and releasing take the loader's lock.
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/os/messages/PeFile.h>
#include <ztlogger/platform/rtl/Export.h>

using FARPROC = intptr_t (*)();

inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;

// Loads the module at lpLibFileName with all its references resolved.
// nullptr with ERROR_MOD_NOT_FOUND when the file, or a module it needs, is
// missing; ERROR_BAD_EXE_FORMAT for a file that is no loadable module of this
// system; ERROR_INVALID_PARAMETER for an empty name.
ZTL_PLATFORM_API HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
// The address of the symbol lpProcName that hModule exports; nullptr with
// ERROR_PROC_NOT_FOUND when it exports none, ERROR_INVALID_HANDLE for a
// module loaded as data or a null handle.
ZTL_PLATFORM_API FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

namespace ztl::os {

// Releases one load of a module LoadLibraryW loaded (FreeLibrary's half for
// code modules); FALSE with ERROR_INVALID_HANDLE for any other value.
ZTL_PLATFORM_API BOOL FreeCodeLibrary(HMODULE module);

}  // namespace ztl::os
