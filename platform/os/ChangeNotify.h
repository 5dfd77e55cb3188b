#pragma once
// Folder change notifications: a waitable handle that turns signalled when
// something of the chosen kinds changes in a folder (or in the tree below it)
// and stays signalled until FindNextChangeNotification re-arms it. Changes
// made after the signal and before the re-arming are kept: the handle is then
// signalled again at once.
//
// On POSIX the handle watches the folder with inotify:
//   FILE_NOTIFY_CHANGE_FILE_NAME   a file created, deleted, renamed, moved in or out
//   FILE_NOTIFY_CHANGE_DIR_NAME    the same for a folder
//   FILE_NOTIFY_CHANGE_ATTRIBUTES  mode, owner, times or extended attributes changed
//   FILE_NOTIFY_CHANGE_SIZE        a file grown or shrunk
//   FILE_NOTIFY_CHANGE_LAST_WRITE  a file written, or its last-write time set
//   FILE_NOTIFY_CHANGE_LAST_ACCESS a file read
//   FILE_NOTIFY_CHANGE_CREATION    an entry created
//   FILE_NOTIFY_CHANGE_SECURITY    mode or owner changed
// Changes of the watched folder itself are not reported, except its deletion,
// which signals once (it may be moved away: it is still watched where it
// went). With the watch-subtree flag every folder below is watched as well; a
// folder created or moved in is watched at once and what it already holds
// counts as created, so nothing made in it right after it appeared is missed.
// When the system's queue of changes overflows, every notification is
// signalled: something may have been missed.
// Notifications of the same folder with the same subtree flag share one set of
// watches: the tree is walked once, whatever their filters.
//
// Any thread, as on Windows: the handles live in the handle table, which
// takes its own lock.
#include <ztlogger/platform/os/Handles.h>
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

inline constexpr DWORD FILE_NOTIFY_CHANGE_FILE_NAME = 0x001;
inline constexpr DWORD FILE_NOTIFY_CHANGE_DIR_NAME = 0x002;
inline constexpr DWORD FILE_NOTIFY_CHANGE_ATTRIBUTES = 0x004;
inline constexpr DWORD FILE_NOTIFY_CHANGE_SIZE = 0x008;
inline constexpr DWORD FILE_NOTIFY_CHANGE_LAST_WRITE = 0x010;
inline constexpr DWORD FILE_NOTIFY_CHANGE_LAST_ACCESS = 0x020;
inline constexpr DWORD FILE_NOTIFY_CHANGE_CREATION = 0x040;
inline constexpr DWORD FILE_NOTIFY_CHANGE_SECURITY = 0x100;

// INVALID_HANDLE_VALUE on failure: ERROR_PATH_NOT_FOUND for no or an empty
// path or a missing parent, ERROR_FILE_NOT_FOUND for a missing folder,
// ERROR_DIRECTORY for a path that names no folder, ERROR_ACCESS_DENIED,
// ERROR_INVALID_PARAMETER for a filter without a known flag or with unknown
// ones, ERROR_NOT_ENOUGH_QUOTA when the system allows no more watches.
ZTL_PLATFORM_API HANDLE FindFirstChangeNotificationW(LPCWSTR lpPathName, BOOL bWatchSubtree, DWORD dwNotifyFilter);
// Re-arms a notification; FALSE with ERROR_INVALID_HANDLE for a handle that is
// no change notification.
ZTL_PLATFORM_API BOOL FindNextChangeNotification(HANDLE hChangeHandle);
ZTL_PLATFORM_API BOOL FindCloseChangeNotification(HANDLE hChangeHandle);
