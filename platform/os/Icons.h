#pragma once
// The system's stock icons: LoadIconW with no module and one of the IDI_
// identifiers. On POSIX the platform draws them itself, 32 by 32 pixels.
// Any thread: the stock icons live as long as the process.
#include <cstdint>
#include <vector>

#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

// A resource identifier passed where a name is expected.
inline LPCWSTR MAKEINTRESOURCEW(uintptr_t id) { return reinterpret_cast<LPCWSTR>(id); }

inline const LPCWSTR IDI_APPLICATION = MAKEINTRESOURCEW(32512);
inline const LPCWSTR IDI_HAND = MAKEINTRESOURCEW(32513);
inline const LPCWSTR IDI_QUESTION = MAKEINTRESOURCEW(32514);
inline const LPCWSTR IDI_EXCLAMATION = MAKEINTRESOURCEW(32515);
inline const LPCWSTR IDI_ASTERISK = MAKEINTRESOURCEW(32516);
inline const LPCWSTR IDI_ERROR = IDI_HAND;
inline const LPCWSTR IDI_WARNING = IDI_EXCLAMATION;
inline const LPCWSTR IDI_INFORMATION = IDI_ASTERISK;

inline constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// A stock icon for a null module; nullptr (last error
// ERROR_RESOURCE_NAME_NOT_FOUND) for an unknown identifier or a module's own
// icons, which the platform does not hold.
ZTL_PLATFORM_API HICON LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName);

namespace ztl {

// The pixels of an icon LoadIconW returned, row by row from the top, each
// 0x00BBGGRR; false for anything else.
ZTL_PLATFORM_API bool GetIconPixels(HICON icon, int& width, int& height, std::vector<uint32_t>& pixels);

}  // namespace ztl
