#include <ztlogger/platform/os/ScreenDC.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>

struct HDC__ {
  ztl::osdc::TPixelSurface* Surface = nullptr;
  std::unique_ptr<ztl::osdc::TPixelSurface> Screen;  // set for a screen context
};

namespace {

using ztl::osdc::TPixelSurface;

// The contexts handed out, so that an unknown one is refused, not followed.
class TContexts {
 public:
  HDC Add(std::unique_ptr<HDC__> context) {
    std::lock_guard lock(mutex_);
    return *live_.insert(context.release()).first;
  }
  bool Known(HDC context) {
    std::lock_guard lock(mutex_);
    return live_.count(context) != 0;
  }
  // Takes a context out of the table; nullptr when it is unknown.
  std::unique_ptr<HDC__> Remove(HDC context) {
    std::lock_guard lock(mutex_);
    if (live_.erase(context) == 0) return nullptr;
    return std::unique_ptr<HDC__>(context);
  }

 private:
  std::mutex mutex_;
  std::set<HDC> live_;
};

TContexts& Contexts() {
  static TContexts contexts;
  return contexts;
}

std::atomic<ztl::osdc::TScreenSizeSource> headlessScreenSize{nullptr};
std::atomic<ztl::osdc::TDisplayScreenSource> displayScreenSource{nullptr};

// A screen without a display: the registered size, all black.
class THeadlessScreen : public TPixelSurface {
 public:
  THeadlessScreen() {
    if (auto source = headlessScreenSize.load()) source(width_, height_);
  }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void ReadPixels(int, int, int width, int height, std::vector<COLORREF>& pixels) override {
    pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  }
  bool WritePixels(int, int, int, int, const COLORREF*) override { return false; }

 private:
  int width_ = 0;
  int height_ = 0;
};

std::unique_ptr<TPixelSurface> OpenScreen() {
  if (auto source = displayScreenSource.load())
    if (std::unique_ptr<TPixelSurface> screen = source()) return screen;
  return std::make_unique<THeadlessScreen>();
}

struct TRect {
  int Left, Top, Right, Bottom;
  bool Empty() const { return Right <= Left || Bottom <= Top; }
};

TRect Intersect(const TRect& a, const TRect& b) {
  return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
}

BOOL Failed(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

namespace ztl::osdc {

void SetHeadlessScreenSize(TScreenSizeSource source) { headlessScreenSize.store(source); }

TDisplayScreenSource SetDisplayScreenSource(TDisplayScreenSource source) {
  return displayScreenSource.exchange(source);
}

TDisplayScreenSource DisplayScreenSource() { return displayScreenSource.load(); }

HDC CreateSurfaceDC(TPixelSurface& surface) {
  auto context = std::make_unique<HDC__>();
  context->Surface = &surface;
  return Contexts().Add(std::move(context));
}

}  // namespace ztl::osdc

HDC GetDC(HWND hWnd) {
  if (hWnd) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  auto context = std::make_unique<HDC__>();
  context->Screen = OpenScreen();
  context->Surface = context->Screen.get();
  return Contexts().Add(std::move(context));
}

int ReleaseDC(HWND /*hWnd*/, HDC hDC) {
  if (!Contexts().Known(hDC) || !hDC->Screen) return 0;
  Contexts().Remove(hDC);
  return 1;
}

BOOL DeleteDC(HDC hdc) {
  if (!Contexts().Known(hdc) || hdc->Screen) return Failed(ERROR_INVALID_HANDLE);
  Contexts().Remove(hdc);
  return TRUE;
}

BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
  if (!Contexts().Known(hdc) || !Contexts().Known(hdcSrc)) return Failed(ERROR_INVALID_HANDLE);
  if (rop != SRCCOPY) return Failed(ERROR_NOT_SUPPORTED);
  if (cx <= 0 || cy <= 0) return TRUE;
  TPixelSurface& source = *hdcSrc->Surface;
  TPixelSurface& target = *hdc->Surface;
  // Work in the destination's coordinates: what lands inside the target.
  const TRect wanted = Intersect({x, y, x + cx, y + cy}, {0, 0, target.Width(), target.Height()});
  if (wanted.Empty()) return TRUE;
  const int width = wanted.Right - wanted.Left;
  const int height = wanted.Bottom - wanted.Top;
  std::vector<COLORREF> block(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  // The part of it that the source has, in the source's coordinates.
  const int dx = x1 - x, dy = y1 - y;
  const TRect available = Intersect({wanted.Left + dx, wanted.Top + dy, wanted.Right + dx, wanted.Bottom + dy},
                                    {0, 0, source.Width(), source.Height()});
  if (!available.Empty()) {
    std::vector<COLORREF> read;
    const int readWidth = available.Right - available.Left;
    source.ReadPixels(available.Left, available.Top, readWidth, available.Bottom - available.Top, read);
    for (int row = available.Top; row < available.Bottom; ++row)
      std::copy_n(read.begin() + static_cast<ptrdiff_t>(row - available.Top) * readWidth, readWidth,
                  block.begin() + static_cast<ptrdiff_t>(row - dy - wanted.Top) * width +
                      (available.Left - dx - wanted.Left));
  }
  if (!target.WritePixels(wanted.Left, wanted.Top, width, height, block.data())) return Failed(ERROR_NOT_SUPPORTED);
  return TRUE;
}
