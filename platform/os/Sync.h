#pragma once
// Critical sections, events and waits.
// Any thread: that is what they are for.
#include <pthread.h>

#include <ztlogger/platform/os/Handles.h>
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

// Critical sections: reentrant locks for the threads of one process.
struct ZTL_PLATFORM_API CRITICAL_SECTION {
  pthread_mutex_t Mutex;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

ZTL_PLATFORM_API void InitializeCriticalSection(LPCRITICAL_SECTION section);
ZTL_PLATFORM_API void EnterCriticalSection(LPCRITICAL_SECTION section);
ZTL_PLATFORM_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
ZTL_PLATFORM_API void LeaveCriticalSection(LPCRITICAL_SECTION section);
ZTL_PLATFORM_API void DeleteCriticalSection(LPCRITICAL_SECTION section);

// Events. A manual-reset event stays signalled until ResetEvent and releases
// every waiter; an auto-reset event releases one waiter and resets itself.
// A named event is shared by every CreateEventW of that name in the process
// (case-sensitive; "Local\" names the same namespace as no prefix): the
// second call returns a new handle to the same event with
// ERROR_ALREADY_EXISTS and ignores its flags. A name may not exceed MAX_PATH
// characters (ERROR_FILENAME_EXCED_RANGE) nor hold a backslash after its
// prefix (ERROR_PATH_NOT_FOUND).
ZTL_PLATFORM_API HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                                     LPCWSTR lpName);
ZTL_PLATFORM_API BOOL SetEvent(HANDLE hEvent);
ZTL_PLATFORM_API BOOL ResetEvent(HANDLE hEvent);

// Waits. Any kernel object of the handle table can be waited on. Wait-any
// returns WAIT_OBJECT_0 + the lowest signalled index and takes only that
// object; wait-all returns WAIT_OBJECT_0 once all are signalled at the same
// moment and only then takes them. WAIT_TIMEOUT when the time runs out
// (0: test and return; INFINITE: no limit); WAIT_FAILED with the last error
// for a handle that names nothing or no waitable object (ERROR_INVALID_HANDLE),
// for a count of 0 or above MAXIMUM_WAIT_OBJECTS or a handle given twice
// (ERROR_INVALID_PARAMETER). Waits block in poll, never spin.
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;
ZTL_PLATFORM_API DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
ZTL_PLATFORM_API DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                              DWORD dwMilliseconds);
