#pragma once
// Processes and threads: the pseudo handles and ids of the current process
// and thread, priority classes and thread priorities.
//
// Any thread.
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

// Process priority classes.
inline constexpr DWORD IDLE_PRIORITY_CLASS = 0x00000040;
inline constexpr DWORD BELOW_NORMAL_PRIORITY_CLASS = 0x00004000;
inline constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;
inline constexpr DWORD ABOVE_NORMAL_PRIORITY_CLASS = 0x00008000;
inline constexpr DWORD HIGH_PRIORITY_CLASS = 0x00000080;
inline constexpr DWORD REALTIME_PRIORITY_CLASS = 0x00000100;

// Thread priorities, relative to the process's class.
inline constexpr int THREAD_PRIORITY_IDLE = -15;
inline constexpr int THREAD_PRIORITY_LOWEST = -2;
inline constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
inline constexpr int THREAD_PRIORITY_NORMAL = 0;
inline constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
inline constexpr int THREAD_PRIORITY_HIGHEST = 2;
inline constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
inline constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;

ZTL_PLATFORM_API HANDLE GetCurrentProcess();
ZTL_PLATFORM_API HANDLE GetCurrentThread();
ZTL_PLATFORM_API DWORD GetCurrentProcessId();
ZTL_PLATFORM_API DWORD GetCurrentThreadId();

// Priorities accept the pseudo handles of the current process and thread. A
// class or priority maps to a nice value; a change the system refuses (an
// unprivileged process cannot raise itself) leaves the priority as it was
// and still answers TRUE, as Windows quietly grants a lower class than asked.
ZTL_PLATFORM_API DWORD GetPriorityClass(HANDLE hProcess);
ZTL_PLATFORM_API BOOL SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass);
ZTL_PLATFORM_API int GetThreadPriority(HANDLE hThread);
ZTL_PLATFORM_API BOOL SetThreadPriority(HANDLE hThread, int nPriority);
