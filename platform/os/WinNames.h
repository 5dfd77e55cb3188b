#pragma once
// The Windows type names the framework's own headers use (message records,
// window and device handles), declared inside namespace ztl so that a user's
// file can include the framework next to X11, GLib or GTK headers, which
// define BOOL, TRUE and their like themselves. The services' header
// (os/WinTypes.h) brings these same declarations into the global namespace.
//
// Declarations only: any thread may use them.
#include <cstdint>

// The handle tags of the Windows definitions; declaring them is harmless next
// to <windows.h>, which declares the same.
struct HWND__;
struct HDC__;
struct HICON__;
struct HKEY__;
struct HINSTANCE__;

namespace ztl {

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using UINT_PTR = uintptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using HWND = ::HWND__*;
using HDC = ::HDC__*;
using HICON = ::HICON__*;
using HKEY = ::HKEY__*;
using HANDLE = void*;
using HMODULE = ::HINSTANCE__*;

}  // namespace ztl
