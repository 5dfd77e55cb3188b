#pragma once
// A virtual X server for one test: Xvfb on a free display number (it picks
// one itself and tells it through a pipe), with a black root window of the
// given size that keeps what was drawn when a client leaves (-noreset).
// DISPLAY points at it while it runs. Include this header last: Xlib's
// macros (None, Bool, Status, ...) must not reach other headers.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/platform/os/FakePrograms.h"

#include <X11/Xlib.h>

extern char** environ;

namespace ztl::test {

class Xvfb {
 public:
  Xvfb(int width, int height) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The read end first: it may be descriptor 3 itself.
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::vector<std::string> args = {"Xvfb",    "-displayfd", "3",        "-screen", "0",
                                     screen,    "-br",        "-noreset", "-nolisten", "tcp"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
      pid_ = 0;
      close(fds[0]);
      return;
    }
    display_ = ReadDisplay(fds[0]);
    close(fds[0]);
    if (display_.empty()) return;
    env_.emplace("DISPLAY", ":" + display_);
  }

  ~Xvfb() {
    env_.reset();
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  bool Running() const { return !display_.empty(); }

  struct TFill {
    int X, Y, Width, Height;
    int Red, Green, Blue;
  };

  // Draws the rectangles on the root window and waits until the server has.
  static bool Draw(const std::vector<TFill>& fills) {
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
  String Display() const { return ":" + display_; }

 private:
  // The display number, a line on the pipe once the server accepts clients;
  // empty when it does not come within 20 s.
  static std::string ReadDisplay(int fd) {
    std::string text;
    pollfd waiter{fd, POLLIN, 0};
    while (text.find('\n') == std::string::npos && poll(&waiter, 1, 20000) > 0) {
      char buffer[32];
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got <= 0) break;
      text.append(buffer, static_cast<size_t>(got));
    }
    if (text.find('\n') == std::string::npos) return {};
    return text.substr(0, text.find('\n'));
  }

  pid_t pid_ = 0;
  std::string display_;
  std::optional<ScopedEnv> env_;
};

}  // namespace ztl::test
