#pragma once
// Critical sections: reentrant locks for the threads of one process.
#include <pthread.h>

#include "platform/os/WinTypes.h"
#include "platform/rtl/Export.h"

struct ZTL_PLATFORM_API CRITICAL_SECTION {
  pthread_mutex_t Mutex;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

ZTL_PLATFORM_API void InitializeCriticalSection(LPCRITICAL_SECTION section);
ZTL_PLATFORM_API void EnterCriticalSection(LPCRITICAL_SECTION section);
ZTL_PLATFORM_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
ZTL_PLATFORM_API void LeaveCriticalSection(LPCRITICAL_SECTION section);
ZTL_PLATFORM_API void DeleteCriticalSection(LPCRITICAL_SECTION section);
