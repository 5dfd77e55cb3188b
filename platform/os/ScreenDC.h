#pragma once
// Device contexts and BitBlt on POSIX.
//
// GetDC(nullptr) is the whole screen: the display's, read through the display
// screen source that the desktop module registers when it is loaded
// (SetDisplayScreenSource), else a black screen of the size that the widget
// set registered (SetHeadlessScreenSize).
// Other device contexts draw on pixel surfaces that the framework makes, such
// as a bitmap's canvas. The screen can be read, not drawn on.
//
// Any thread; each device context from one thread at a time.
#include <memory>
#include <vector>

#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

using COLORREF = DWORD;  // 0x00BBGGRR

inline constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

// Raster operations.
inline constexpr DWORD SRCCOPY = 0x00CC0020;

namespace ztl::osdc {

// Pixels a device context reads and writes, as COLORREF values row by row.
class ZTL_PLATFORM_API TPixelSurface {
 public:
  virtual ~TPixelSurface() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // The rectangle lies inside the surface; pixels gets width * height values.
  virtual void ReadPixels(int x, int y, int width, int height, std::vector<COLORREF>& pixels) = 0;
  // Returns false for a surface that cannot be drawn on.
  virtual bool WritePixels(int x, int y, int width, int height, const COLORREF* pixels) = 0;
};

// A device context on surface, which must outlive it; released with DeleteDC.
ZTL_PLATFORM_API HDC CreateSurfaceDC(TPixelSurface& surface);

// Tells the size of the screen shown when no display can be opened.
using TScreenSizeSource = void (*)(int& width, int& height);
// Registers where that size comes from: the widget set in use, which lives in
// a higher layer and registers itself at start-up. Until then such a screen
// is empty (0 x 0). Safe to call from any thread.
ZTL_PLATFORM_API void SetHeadlessScreenSize(TScreenSizeSource source);

// Opens the screen of the display in use; nullptr when none can be opened.
using TDisplayScreenSource = std::unique_ptr<TPixelSurface> (*)();
// Registers how the display's screen is read: the desktop module, which links
// the display's libraries that this layer does not, registers it when it is
// loaded; nullptr takes it back. Returns the source registered before.
// Safe to call from any thread.
ZTL_PLATFORM_API TDisplayScreenSource SetDisplayScreenSource(TDisplayScreenSource source);
// The source registered now, or nullptr.
ZTL_PLATFORM_API TDisplayScreenSource DisplayScreenSource();

}  // namespace ztl::osdc

// The device context of the whole screen for hWnd nullptr; windows have none
// of their own here (nullptr, ERROR_INVALID_WINDOW_HANDLE). Release it with
// ReleaseDC.
ZTL_PLATFORM_API HDC GetDC(HWND hWnd);
// Returns 1 when hDC was a screen context and is released, else 0.
ZTL_PLATFORM_API int ReleaseDC(HWND hWnd, HDC hDC);
// Releases a context made by CreateSurfaceDC.
ZTL_PLATFORM_API BOOL DeleteDC(HDC hdc);

// Copies the cx * cy rectangle at (x1, y1) of hdcSrc to (x, y) of hdc; only
// SRCCOPY is supported. Parts of the source outside its surface arrive
// black; parts of the destination outside its surface are left out. FALSE
// with ERROR_INVALID_HANDLE for an unknown context, ERROR_NOT_SUPPORTED for
// another raster operation or a destination that cannot be drawn on.
ZTL_PLATFORM_API BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop);
