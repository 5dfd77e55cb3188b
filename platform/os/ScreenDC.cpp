#include <ztlogger/platform/os/ScreenDC.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>

// Last: Xlib's macros (None, Bool, Status, ...) must not reach other headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

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

// Xlib reports a failed request to a process-wide handler whose default ends
// the process; while the screen is read, a failure only leaves pixels black.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

class TXErrorsIgnored {
 public:
  TXErrorsIgnored() : previous_(XSetErrorHandler(IgnoreXError)) {}
  ~TXErrorsIgnored() { XSetErrorHandler(previous_); }
  TXErrorsIgnored(const TXErrorsIgnored&) = delete;
  TXErrorsIgnored& operator=(const TXErrorsIgnored&) = delete;

 private:
  int (*previous_)(Display*, XErrorEvent*);
};

// One colour channel of an X pixel, scaled to 0..255.
struct TChannel {
  explicit TChannel(unsigned long mask) : mask_(mask) {
    while (mask && !(mask & 1)) {
      mask >>= 1;
      ++shift_;
    }
    max_ = mask;
  }
  unsigned Value(unsigned long pixel) const {
    if (max_ == 0) return 0;
    return static_cast<unsigned>(((pixel & mask_) >> shift_) * 255 / max_);
  }

 private:
  unsigned long mask_;
  int shift_ = 0;
  unsigned long max_ = 0;
};

// The root window of a display, read with XGetImage.
class TX11Screen : public TPixelSurface {
 public:
  explicit TX11Screen(Display* display)
      : display_(display),
        root_(DefaultRootWindow(display)),
        width_(DisplayWidth(display, DefaultScreen(display))),
        height_(DisplayHeight(display, DefaultScreen(display))) {}
  ~TX11Screen() override { XCloseDisplay(display_); }
  TX11Screen(const TX11Screen&) = delete;
  TX11Screen& operator=(const TX11Screen&) = delete;

  int Width() const override { return width_; }
  int Height() const override { return height_; }

  void ReadPixels(int x, int y, int width, int height, std::vector<COLORREF>& pixels) override {
    pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    if (width == 0 || height == 0) return;
    XImage* image = nullptr;
    {
      TXErrorsIgnored ignored;
      image = XGetImage(display_, root_, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes,
                        ZPixmap);
      XSync(display_, False);
    }
    if (!image) return;
    const TChannel red(image->red_mask), green(image->green_mask), blue(image->blue_mask);
    for (int row = 0; row < height; ++row)
      for (int column = 0; column < width; ++column) {
        const unsigned long pixel = XGetPixel(image, column, row);
        pixels[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(column)] =
            red.Value(pixel) | (green.Value(pixel) << 8) | (blue.Value(pixel) << 16);
      }
    XDestroyImage(image);
  }

  bool WritePixels(int, int, int, int, const COLORREF*) override { return false; }

 private:
  Display* display_;
  Window root_;
  int width_;
  int height_;
};

std::unique_ptr<TPixelSurface> OpenScreen() {
  if (Display* display = XOpenDisplay(nullptr)) return std::make_unique<TX11Screen>(display);
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
