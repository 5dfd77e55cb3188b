#pragma once
// Files opened for reading and mapped into memory: a reader sees the file's
// bytes where they lie in the system's cache instead of copying them.
//
// On POSIX a file handle holds a descriptor, a mapping object its own
// duplicate (so it outlives the file handle, as on Windows) and a view is an
// mmap of it; a view outlives the handles of its file and mapping and stays
// until UnmapViewOfFile. Only what reading needs is served: files opened for
// reading, read-only mappings, and views that read or copy on write. Share
// modes are not enforced. A file cut short while mapped makes reads beyond its
// new end fault, as on Windows (there an in-page error).
//
// Any thread: handles and views are kept in tables that take their own locks.
#include <cstdint>
#include <string>

#include <ztlogger/platform/os/Handles.h>
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

inline constexpr DWORD PAGE_READONLY = 0x02;
inline constexpr DWORD PAGE_READWRITE = 0x04;
inline constexpr DWORD PAGE_WRITECOPY = 0x08;
inline constexpr DWORD FILE_MAP_COPY = 0x0001;
inline constexpr DWORD FILE_MAP_WRITE = 0x0002;
inline constexpr DWORD FILE_MAP_READ = 0x0004;
inline constexpr DWORD FILE_MAP_ALL_ACCESS = 0x000F001F;

inline constexpr DWORD ERROR_READ_FAULT = 30;
inline constexpr DWORD ERROR_INVALID_ADDRESS = 487;
inline constexpr DWORD ERROR_FILE_INVALID = 1006;
inline constexpr DWORD ERROR_MAPPED_ALIGNMENT = 1132;

// Opens an existing regular file for reading: dwDesiredAccess GENERIC_READ
// and dwCreationDisposition OPEN_EXISTING, else ERROR_NOT_SUPPORTED (the other
// arguments are taken as given). INVALID_HANDLE_VALUE on failure:
// ERROR_PATH_NOT_FOUND for no or an empty name or a missing folder on the way,
// ERROR_FILE_NOT_FOUND for a missing file, ERROR_ACCESS_DENIED for a folder or
// a file the caller may not read, ERROR_NOT_SUPPORTED for anything else that
// is no regular file (a FIFO is not waited on). The handle is closed with
// CloseHandle.
ZTL_PLATFORM_API HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                    LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                    DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// The file's size: the low 32 bits returned, the high ones in
// *lpFileSizeHigh when it is given. INVALID_FILE_SIZE with
// ERROR_INVALID_HANDLE for a handle that is no file (a size whose low part is
// INVALID_FILE_SIZE leaves the last error at ERROR_SUCCESS).
ZTL_PLATFORM_API DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);

// A mapping of a file opened by CreateFileW, dwMaximumSize bytes long (0 and
// 0: the file's size). flProtect PAGE_READONLY or PAGE_WRITECOPY; nullptr on
// failure:
//   ERROR_INVALID_HANDLE     a handle that is no file (a mapping backed by the
//                            paging file, INVALID_HANDLE_VALUE, is not served)
//   ERROR_ACCESS_DENIED      PAGE_READWRITE: the file is open for reading only
//   ERROR_INVALID_PARAMETER  another protection
//   ERROR_FILE_INVALID       an empty file mapped at its size
//   ERROR_NOT_SUPPORTED      a named mapping, or a file the system gives as
//                            empty that has bytes all the same (procfs)
//   ERROR_READ_FAULT         such a file whose first byte cannot be read
//   ERROR_NOT_ENOUGH_MEMORY  a size beyond the file's (a read-only mapping does
//                            not grow its file)
// The handle is closed with CloseHandle.
ZTL_PLATFORM_API HANDLE CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes, DWORD flProtect,
                                           DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCWSTR lpName);
// A view of dwNumberOfBytesToMap bytes of a mapping from the given offset (0
// bytes: to the mapping's end). dwDesiredAccess FILE_MAP_READ or FILE_MAP_COPY
// (private pages that may be written). nullptr on failure:
// ERROR_INVALID_HANDLE for a handle that is no mapping, ERROR_ACCESS_DENIED
// for write access to a read-only mapping or a range beyond the mapping's end,
// ERROR_INVALID_PARAMETER for no access asked, ERROR_MAPPED_ALIGNMENT for an
// offset that is no multiple of the allocation granularity (GetSystemInfo's
// dwAllocationGranularity).
ZTL_PLATFORM_API LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                                      DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap);
// Releases a view; FALSE with ERROR_INVALID_ADDRESS for an address that is not
// where a view starts.
ZTL_PLATFORM_API BOOL UnmapViewOfFile(LPCVOID lpBaseAddress);

namespace ztl::os {

// The services' one way to open a file by name for reading: an existing
// regular file, opened close-on-exec without ever waiting (a FIFO is not
// waited on for a writer), and beneath the platform prefix without following
// a link (os/Prefix.h). Returns the descriptor, the caller's to close, or -1
// with errno set: EISDIR for a folder, ENODEV for anything else that is no
// regular file (FIFO, device, socket), ELOOP for a link in the prefix.
ZTL_PLATFORM_API int OpenFileForReading(const String& path);

// Reads the whole of a file opened so into bytes; 0 or the errno value
// (EFBIG for a file of more than maxSize bytes).
ZTL_PLATFORM_API int ReadWholeFile(const String& path, std::string& bytes, size_t maxSize = SIZE_MAX);
// The same for a file named relative to an open folder (openat's rules), so
// that reading every file of a folder resolves no path again.
ZTL_PLATFORM_API int ReadWholeFileAt(int folder, const char* name, std::string& bytes, size_t maxSize = SIZE_MAX);
// The same for an entry that a listing of the folder just gave as a regular
// file (readdir's DT_REG), in a folder that no user but the caller or root
// may change: its status is not asked again. Opened without waiting and
// without following a link all the same, so that an entry its owner
// replaced since is read at most, never waited on.
ZTL_PLATFORM_API int ReadListedFileAt(int folder, const char* name, std::string& bytes, size_t maxSize = SIZE_MAX);

}  // namespace ztl::os
