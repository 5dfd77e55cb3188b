#pragma once
// The registry: keys holding named, typed values, under five predefined root
// keys, with change notifications.
//
// On POSIX the registry lives under the platform prefix (os/Prefix.h), in
// "registry/<root key name>": a folder per key and a file per value. Names are
// compared without regard to case and keep the spelling they were created
// with; any character a Windows name may hold is stored, and no name reaches
// outside its key's folder. A value is replaced in one step (written aside,
// then renamed), so processes that read and write one key at the same time
// see each value whole, old or new, and a process killed while writing
// leaves the old value. Keys are created in one step as well.
//
// The calls return the Windows error code and leave the thread's last error
// as it was. Handles check the access they were opened with: a call without
// the right it needs fails with ERROR_ACCESS_DENIED; a handle whose key was
// deleted meanwhile gives ERROR_KEY_DELETED.
//
// Any thread: the table of open keys takes its own lock.
#include <string>

#include <ztlogger/platform/os/Handles.h>
#include <ztlogger/platform/os/WinConstants.h>
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

// The predefined keys and the value types (os/WinConstants.h).
using ztl::HKEY_CLASSES_ROOT;
using ztl::HKEY_CURRENT_CONFIG;
using ztl::HKEY_CURRENT_USER;
using ztl::HKEY_LOCAL_MACHINE;
using ztl::HKEY_USERS;
using ztl::REG_BINARY;
using ztl::REG_DWORD;
using ztl::REG_DWORD_BIG_ENDIAN;
using ztl::REG_DWORD_LITTLE_ENDIAN;
using ztl::REG_EXPAND_SZ;
using ztl::REG_FULL_RESOURCE_DESCRIPTOR;
using ztl::REG_LINK;
using ztl::REG_MULTI_SZ;
using ztl::REG_NONE;
using ztl::REG_QWORD;
using ztl::REG_QWORD_LITTLE_ENDIAN;
using ztl::REG_RESOURCE_LIST;
using ztl::REG_RESOURCE_REQUIREMENTS_LIST;
using ztl::REG_SZ;

// Access rights.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_EXECUTE = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// RegCreateKeyExW's options and dispositions.
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Kinds of change RegNotifyChangeKeyValue watches for.
inline constexpr DWORD REG_NOTIFY_CHANGE_NAME = 0x1;        // a subkey added or deleted
inline constexpr DWORD REG_NOTIFY_CHANGE_ATTRIBUTES = 0x2;  // the key's attributes
inline constexpr DWORD REG_NOTIFY_CHANGE_LAST_SET = 0x4;    // a value added, changed or deleted
inline constexpr DWORD REG_NOTIFY_CHANGE_SECURITY = 0x8;    // the key's security descriptor
inline constexpr DWORD REG_NOTIFY_THREAD_AGNOSTIC = 0x10000000;

// Limits of names, in UTF-16 characters.
inline constexpr DWORD REG_MAX_KEY_NAME = 255;
inline constexpr DWORD REG_MAX_VALUE_NAME = 16383;

// Opens a subkey (nullptr or "" opens hKey's key again). lpSubKey may name a
// path of keys separated by backslashes; a trailing backslash is ignored.
// ERROR_FILE_NOT_FOUND for a missing key, ERROR_BAD_PATHNAME for a path that
// starts with a backslash, ERROR_INVALID_PARAMETER for an empty path element
// or a name longer than REG_MAX_KEY_NAME.
ZTL_PLATFORM_API LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                       PHKEY phkResult);
// Opens a subkey, creating it and the keys on its path that are missing
// (each needs KEY_CREATE_SUB_KEY on its parent). lpdwDisposition tells
// whether the key was created. lpClass, dwOptions and the security
// attributes are accepted and not kept.
ZTL_PLATFORM_API LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                                         REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                                         PHKEY phkResult, LPDWORD lpdwDisposition);
// Closes a key handle; a notification pending on it is signalled. Closing a
// predefined key succeeds and changes nothing.
ZTL_PLATFORM_API LSTATUS RegCloseKey(HKEY hKey);

// Reads a value (nullptr or "": the key's default value). With lpData
// nullptr only the type and the size in bytes are given. A buffer too small
// gives ERROR_MORE_DATA and the size needed. Strings come back as stored,
// without a terminator added.
ZTL_PLATFORM_API LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                          LPBYTE lpData, LPDWORD lpcbData);
// Writes a value, replacing one of the same name. A string whose terminator
// was not counted but follows the data gets it stored. ERROR_NOACCESS for
// no data with a non-zero size; ERROR_INVALID_PARAMETER for a name longer
// than REG_MAX_VALUE_NAME. The type is kept as given.
ZTL_PLATFORM_API LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                                        const BYTE* lpData, DWORD cbData);
ZTL_PLATFORM_API LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED otherwise), with its
// values. "" deletes hKey's own key.
ZTL_PLATFORM_API LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
// Deletes a key with everything below it; nullptr deletes what is below
// hKey's key and keeps the key.
ZTL_PLATFORM_API LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);

// Enumerates subkeys, alphabetically without regard to case, and values, in
// the order they were created. lpcName/lpcchValueName: in, the buffer's size
// in characters with the terminator; out, the name's length without it.
// ERROR_NO_MORE_ITEMS past the last one; ERROR_MORE_DATA for a buffer too
// small. The listing is taken at index 0: changes made while enumerating
// show at the next pass.
ZTL_PLATFORM_API LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcName, LPDWORD lpReserved,
                                       LPWSTR lpClass, LPDWORD lpcClass, PFILETIME lpftLastWriteTime);
ZTL_PLATFORM_API LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                                       LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
// Counts and longest lengths of a key's subkeys and values (names in
// characters without the terminator, data in bytes) and its last write time.
ZTL_PLATFORM_API LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcClass, LPDWORD lpReserved,
                                          LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                          LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                          LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime);

// Asks to be told of the next change of the kinds in dwNotifyFilter to the
// key (and, with bWatchSubtree, to the keys below it). Asynchronously the
// event is reset and returns at once, and is set once at the next change;
// otherwise the call blocks until that change. The key's changes are followed
// from the first call on a handle for as long as it is open, with that first
// call's subtree flag and filter: a change that happened since the last
// signal signals the next registration at once. Changes made by other
// processes are seen too. Deleting the watched key or closing its handle
// signals as well. ERROR_INVALID_PARAMETER for a filter without a known
// kind, or an asynchronous call without an event; ERROR_INVALID_HANDLE for
// an event handle that names no event.
ZTL_PLATFORM_API LSTATUS RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter, HANDLE hEvent,
                                                 BOOL fAsynchronous);

namespace ztl::os {

// Reads a value whole in one call, as the runtime's registry class does:
// type and data, or the Windows error code.
ZTL_PLATFORM_API LSTATUS RegReadValue(HKEY key, const char16_t* name, DWORD& type, std::basic_string<BYTE>& data);

// The folder that holds the registry under the current prefix.
ZTL_PLATFORM_API String RegistryFolder();

}  // namespace ztl::os
