#pragma once
// The shell's "open": ShellExecuteW hands a file, folder or URL to the
// desktop's default application through "xdg-open" (found through PATH,
// started without a shell, not waited for).
//
// Any thread.
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

// Show commands.
inline constexpr INT SW_HIDE = 0;
inline constexpr INT SW_SHOWNORMAL = 1;
inline constexpr INT SW_NORMAL = 1;
inline constexpr INT SW_SHOWMINIMIZED = 2;
inline constexpr INT SW_SHOWMAXIMIZED = 3;
inline constexpr INT SW_MAXIMIZE = 3;
inline constexpr INT SW_SHOWNOACTIVATE = 4;
inline constexpr INT SW_SHOW = 5;
inline constexpr INT SW_MINIMIZE = 6;
inline constexpr INT SW_SHOWMINNOACTIVE = 7;
inline constexpr INT SW_SHOWNA = 8;
inline constexpr INT SW_RESTORE = 9;
inline constexpr INT SW_SHOWDEFAULT = 10;

// ShellExecuteW's results up to 32 are errors.
inline constexpr INT SE_ERR_FNF = 2;
inline constexpr INT SE_ERR_PNF = 3;
inline constexpr INT SE_ERR_ACCESSDENIED = 5;
inline constexpr INT SE_ERR_OOM = 8;
inline constexpr INT SE_ERR_SHARE = 26;
inline constexpr INT SE_ERR_ASSOCINCOMPLETE = 27;
inline constexpr INT SE_ERR_DDETIMEOUT = 28;
inline constexpr INT SE_ERR_DDEFAIL = 29;
inline constexpr INT SE_ERR_DDEBUSY = 30;
inline constexpr INT SE_ERR_NOASSOC = 31;
inline constexpr INT SE_ERR_DLLNOTFOUND = 32;

// The verb "open" (or none) opens lpFile: a URL ("scheme:..."; "www." is
// taken as a web address), or a file or folder, relative ones taken from
// lpDirectory when given. Answers a value above 32 once xdg-open has
// started; ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND for a missing file
// or folder; SE_ERR_NOASSOC for another verb, for parameters (there is no
// program to pass them to) and when xdg-open is missing; SE_ERR_ACCESSDENIED
// or SE_ERR_OOM when it cannot be started. The thread's last error is set
// on failure.
ZTL_PLATFORM_API HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters, LPCWSTR lpDirectory,
                        INT nShowCmd);
