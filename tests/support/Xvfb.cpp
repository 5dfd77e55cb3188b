#include "tests/support/Xvfb.h"

#include <X11/Xlib.h>

namespace ztl::test {

Xvfb::Xvfb(int width, int height) {
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  RunOptions options;
  options.errors = Sink::Dropped;
  server_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"Xvfb", "-displayfd", "1", "-screen", "0", screen, "-br", "-noreset", "-nolisten", "tcp"},
      options);
  // The display number comes as a line; a server that has not said it
  // within 20 s counts as not started.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (server_->Out().find('\n') == std::string::npos && std::chrono::steady_clock::now() < until &&
         server_->Collect(std::chrono::milliseconds(100))) {
  }
  const size_t end = server_->Out().find('\n');
  if (end == std::string::npos) return;
  display_ = server_->Out().substr(0, end);
  env_.emplace("DISPLAY", Display());
}

Xvfb::~Xvfb() {
  env_.reset();
  server_->Signal(SIGTERM);
  server_->Wait();
}

bool Xvfb::Draw(const std::vector<TFill>& fills) {
  ::Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  const int screen = DefaultScreen(display);
  const Window root = RootWindow(display, screen);
  GC gc = XCreateGC(display, root, 0, nullptr);
  for (const TFill& fill : fills) {
    XColor color{};
    color.red = static_cast<unsigned short>(fill.Red * 257);
    color.green = static_cast<unsigned short>(fill.Green * 257);
    color.blue = static_cast<unsigned short>(fill.Blue * 257);
    XAllocColor(display, DefaultColormap(display, screen), &color);
    XSetForeground(display, gc, color.pixel);
    XFillRectangle(display, root, gc, fill.X, fill.Y, static_cast<unsigned>(fill.Width),
                   static_cast<unsigned>(fill.Height));
  }
  XFreeGC(display, gc);
  XSync(display, False);
  XCloseDisplay(display);
  return true;
}

}  // namespace ztl::test
