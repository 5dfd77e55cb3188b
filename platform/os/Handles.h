#pragma once
// Handles of kernel objects (events, change notifications, ...): one table for
// every kind the services hand out, each handle released by CloseHandle or by
// its own closing call.
//
// Any thread: the handle table takes its own lock.
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// Closes a handle of any kind; FALSE with ERROR_INVALID_HANDLE for a handle
// that is not open. The pseudo-handles of the current process and thread are
// not closed (TRUE).
ZTL_PLATFORM_API BOOL CloseHandle(HANDLE hObject);
