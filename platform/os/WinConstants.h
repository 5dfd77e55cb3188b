#pragma once
// The constants a caller of the framework and the components passes: the
// registry's root keys and value types, and the event log's event types,
// declared inside namespace ztl so that a user's file can include them next
// to X11, GLib or GTK headers (ztl::HKEY_LOCAL_MACHINE,
// ztl::EVENTLOG_INFORMATION_TYPE). The services' headers (os/registry/Api.h,
// os/eventlog/Api.h) bring the same constants into the global namespace. The
// message box flags are in forms/WidgetSet.h.
//
// Any thread may read them.
#include <cstdint>

#include <ztlogger/platform/os/WinNames.h>

namespace ztl {

// The predefined keys, 32-bit values sign-extended to a pointer as on 64-bit
// Windows.
#define ZTL_PREDEFINED_HKEY(value) reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(value)))
inline const HKEY HKEY_CLASSES_ROOT = ZTL_PREDEFINED_HKEY(0x80000000u);
inline const HKEY HKEY_CURRENT_USER = ZTL_PREDEFINED_HKEY(0x80000001u);
inline const HKEY HKEY_LOCAL_MACHINE = ZTL_PREDEFINED_HKEY(0x80000002u);
inline const HKEY HKEY_USERS = ZTL_PREDEFINED_HKEY(0x80000003u);
inline const HKEY HKEY_CURRENT_CONFIG = ZTL_PREDEFINED_HKEY(0x80000005u);
#undef ZTL_PREDEFINED_HKEY

// Registry value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_LINK = 6;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_RESOURCE_LIST = 8;
inline constexpr DWORD REG_FULL_RESOURCE_DESCRIPTOR = 9;
inline constexpr DWORD REG_RESOURCE_REQUIREMENTS_LIST = 10;
inline constexpr DWORD REG_QWORD = 11;
inline constexpr DWORD REG_QWORD_LITTLE_ENDIAN = 11;

// Event types of the event log.
inline constexpr WORD EVENTLOG_SUCCESS = 0x0;
inline constexpr WORD EVENTLOG_ERROR_TYPE = 0x1;
inline constexpr WORD EVENTLOG_WARNING_TYPE = 0x2;
inline constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x4;
inline constexpr WORD EVENTLOG_AUDIT_SUCCESS = 0x8;
inline constexpr WORD EVENTLOG_AUDIT_FAILURE = 0x10;

}  // namespace ztl
