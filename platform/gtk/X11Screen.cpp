#include <ztlogger/platform/gtk/X11Screen.h>

#include <vector>

// Last: Xlib's macros (None, Bool, Status, ...) must not reach other headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace ztl::gtk {

namespace {

using osdc::TPixelSurface;

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

}  // namespace

std::unique_ptr<TPixelSurface> OpenX11Screen() {
  if (Display* display = XOpenDisplay(nullptr)) return std::make_unique<TX11Screen>(display);
  return nullptr;
}

}  // namespace ztl::gtk
