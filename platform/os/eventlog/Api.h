#pragma once
// The system event log: named logs of records that event sources report to
// and readers read by record number, as the classic Windows event logging
// calls give them.
//
// On POSIX each log is one SQLite database under the platform prefix
// (os/Prefix.h), in "eventlog/". The logs "Application", "System" and
// "Security" always exist; another exists once its key is in the registry
// under HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\EventLog (where
// registering a source under a new log name puts it). Several processes may
// write and read one log at the same time: a record is stored whole or not at
// all, record numbers start at 1, grow by one without gaps and are never
// given out again, also across ClearEventLogW. A process killed while
// reporting loses at most the record it was reporting.
//
// Only the local computer is served: a server name other than nullptr, "" or
// this computer's own name fails with RPC_S_SERVER_UNAVAILABLE.
//
// Any thread; each handle serves one call at a time (it takes its own lock).
#include <vector>

#include <ztlogger/platform/os/Handles.h>
#include <ztlogger/platform/os/WinConstants.h>
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

using PSID = void*;

// ReadEventLogW's flags: one way (sequential or seek) and one direction.
inline constexpr DWORD EVENTLOG_SEQUENTIAL_READ = 0x1;
inline constexpr DWORD EVENTLOG_SEEK_READ = 0x2;
inline constexpr DWORD EVENTLOG_FORWARDS_READ = 0x4;
inline constexpr DWORD EVENTLOG_BACKWARDS_READ = 0x8;

// Event types (os/WinConstants.h).
using ztl::EVENTLOG_AUDIT_FAILURE;
using ztl::EVENTLOG_AUDIT_SUCCESS;
using ztl::EVENTLOG_ERROR_TYPE;
using ztl::EVENTLOG_INFORMATION_TYPE;
using ztl::EVENTLOG_SUCCESS;
using ztl::EVENTLOG_WARNING_TYPE;

// The Reserved field of every record: the bytes "LfLe".
inline constexpr DWORD ELF_LOG_SIGNATURE = 0x654C664C;

inline constexpr DWORD ERROR_INVALID_SID = 1337;
inline constexpr DWORD ERROR_EVENTLOG_FILE_CORRUPT = 1500;
inline constexpr DWORD ERROR_EVENTLOG_FILE_CHANGED = 1503;
inline constexpr DWORD RPC_S_SERVER_UNAVAILABLE = 1722;
inline constexpr DWORD RPC_S_INVALID_BOUND = 1734;

// The fixed part of a record (56 bytes). The variable part follows: the
// source name and the computer name (UTF-16, each null-terminated), padding
// to a 4-byte boundary, the user SID, the insertion strings, the raw data,
// padding to a 4-byte boundary, and the record's Length once more.
struct EVENTLOGRECORD {
  DWORD Length;
  DWORD Reserved;
  DWORD RecordNumber;
  DWORD TimeGenerated;  // seconds since 1 January 1970, UTC
  DWORD TimeWritten;
  DWORD EventID;
  WORD EventType;
  WORD NumStrings;
  WORD EventCategory;
  WORD ReservedFlags;
  DWORD ClosingRecordNumber;
  DWORD StringOffset;
  DWORD UserSidLength;
  DWORD UserSidOffset;
  DWORD DataLength;
  DWORD DataOffset;
};
using PEVENTLOGRECORD = EVENTLOGRECORD*;
static_assert(sizeof(EVENTLOGRECORD) == 56);

// Opens a log for reading (and reporting). lpUNCServerName: nullptr, "" or
// this computer. A name that is no log's opens "Application"; nullptr fails
// with ERROR_INVALID_PARAMETER. Returns nullptr on failure.
ZTL_PLATFORM_API HANDLE OpenEventLogW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName);
// Opens a backup of a log, a file ClearEventLogW wrote, for reading: the
// handle serves ReadEventLogW, GetNumberOfEventLogRecords and
// GetOldestEventLogRecord; reporting to it or clearing it fails with
// ERROR_ACCESS_DENIED. Closed with CloseEventLog. A file that is no backup
// (a live log's database included) fails with ERROR_EVENTLOG_FILE_CORRUPT, a
// missing one with ERROR_FILE_NOT_FOUND, nullptr or "" with
// ERROR_INVALID_PARAMETER.
ZTL_PLATFORM_API HANDLE OpenBackupEventLogW(LPCWSTR lpUNCServerName, LPCWSTR lpFileName);
// ERROR_INVALID_HANDLE for a handle that is not an open event log.
ZTL_PLATFORM_API BOOL CloseEventLog(HANDLE hEventLog);
ZTL_PLATFORM_API BOOL GetNumberOfEventLogRecords(HANDLE hEventLog, LPDWORD NumberOfRecords);
// The number of the oldest record; 0 for an empty log.
ZTL_PLATFORM_API BOOL GetOldestEventLogRecord(HANDLE hEventLog, LPDWORD OldestRecord);
// Reads as many whole records as fit into the buffer, from the handle's
// position (sequential) or from record dwRecordOffset (seek), forwards or
// backwards; the position moves past what was read. A first record that
// does not fit: ERROR_INSUFFICIENT_BUFFER with its size in
// *pnMinNumberOfBytesNeeded. No record left: ERROR_HANDLE_EOF. A seek to a
// record that is not in the log: ERROR_INVALID_PARAMETER. A log cleared
// since the handle was opened: ERROR_EVENTLOG_FILE_CHANGED.
ZTL_PLATFORM_API BOOL ReadEventLogW(HANDLE hEventLog, DWORD dwReadFlags, DWORD dwRecordOffset, LPVOID lpBuffer,
                                    DWORD nNumberOfBytesToRead, DWORD* pnBytesRead, DWORD* pnMinNumberOfBytesNeeded);
// Removes every record; with lpBackupFileName the log is first copied to
// that file, which must not exist (ERROR_ALREADY_EXISTS).
ZTL_PLATFORM_API BOOL ClearEventLogW(HANDLE hEventLog, LPCWSTR lpBackupFileName);

// A handle to report under a source. The source goes to the log whose
// registry key holds a subkey of its name, or to the log of its own name; any
// other source goes to "Application". "Security" cannot be reported to
// (ERROR_ACCESS_DENIED).
ZTL_PLATFORM_API HANDLE RegisterEventSourceW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName);
ZTL_PLATFORM_API BOOL DeregisterEventSource(HANDLE hEventLog);
// Writes one record, stamped with this computer's name and the time of the
// call. Each string at most 31,839 characters (ERROR_INVALID_PARAMETER), raw
// data at most 61,440 bytes (RPC_S_INVALID_BOUND), the whole record at most
// 0x7FFFF bytes, the largest buffer ReadEventLogW reads into
// (RPC_S_INVALID_BOUND); a SID that is no valid SID gives ERROR_INVALID_SID.
// Waits at most 5 seconds for another process writing the log, then fails
// with ERROR_LOCK_VIOLATION; reading never waits for a writer.
ZTL_PLATFORM_API BOOL ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                                   WORD wNumStrings, DWORD dwDataSize, LPCWSTR* lpStrings, LPVOID lpRawData);

namespace ztl::os {

// The registry path (below HKEY_LOCAL_MACHINE) of the logs' keys.
inline constexpr char16_t EventLogKeyPath[] = u"SYSTEM\\CurrentControlSet\\Services\\EventLog";

// The names of the logs that exist: the three standing ones and those with a
// key in the registry, in the order of their names.
ZTL_PLATFORM_API std::vector<String> EventLogNames();
// The folder that holds the logs under the current prefix.
ZTL_PLATFORM_API String EventLogFolder();

}  // namespace ztl::os
