#pragma once
// Critical sections: reentrant locks for the threads of one process.
#include <pthread.h>

#include "platform/os/WinTypes.h"

struct CRITICAL_SECTION {
  pthread_mutex_t Mutex;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
