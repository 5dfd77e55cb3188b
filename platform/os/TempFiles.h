#pragma once
// Temporary files and file deletion, with the Windows buffer rules.
// Any thread: each new temporary file is created exclusively.
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

// The temporary folder: $TMPDIR when set, else /tmp, ending in '/'. Returns
// its length in UTF-16 units without the null; when nBufferLength is too
// small, the length needed with the null and the buffer is left alone.
ZTL_PLATFORM_API DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);

// Forms "<path>/<up to 3 characters of the prefix><hex number>.tmp" in
// lpTempFileName (MAX_PATH characters). With uUnique 0 it picks a number
// whose file does not exist yet, creates that file empty and returns the
// number; with another uUnique it only forms the name (from the low 16 bits)
// and returns uUnique. 0 on failure: ERROR_DIRECTORY for a folder that does
// not exist, ERROR_BUFFER_OVERFLOW for a folder path longer than
// MAX_PATH - 14, ERROR_FILE_EXISTS when every number is taken.
ZTL_PLATFORM_API UINT GetTempFileNameW(LPCWSTR lpPathName, LPCWSTR lpPrefixString, UINT uUnique, LPWSTR lpTempFileName);

// Deletes a file; a folder cannot be deleted this way (ERROR_ACCESS_DENIED).
ZTL_PLATFORM_API BOOL DeleteFileW(LPCWSTR lpFileName);
