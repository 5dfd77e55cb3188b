#pragma once
// The desktop for one test: a virtual X server, the GTK widget set on it, and
// a user on another thread who moves the pointer, clicks and types through
// XTest, as a person would, while the main thread runs the modal loops.
// Include this header last (X11's macros).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/GtkModule.h"
#include "tests/support/Xvfb.h"
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/Graphics.h>
#include <ztlogger/platform/forms/GtkWidgetSet.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/os/ScreenDC.h>

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace ztl::test {

class DesktopTest : public ::testing::Test {
 protected:
  static constexpr int kScreenWidth = 1024;
  static constexpr int kScreenHeight = 768;

  void SetUp() override {
    ZTL_TEST_LOAD_GTK_MODULE();
    // The user's thread talks to the server beside the toolkit's: Xlib must
    // know before its first call.
    static const bool threaded = XInitThreads() != 0;
    ASSERT_TRUE(threaded);
    // GTK keeps the first display it opens: one server for the process,
    // stopped when the process ends.
    static Xvfb server(kScreenWidth, kScreenHeight);
    ASSERT_TRUE(server.Running()) << "Xvfb did not start";
    ResetApplicationState();
    SetWidgetSet(CreateGtkWidgetSet());
  }

  void TearDown() override {
    if (user_.joinable()) user_.join();
    ResetApplicationState();
  }

  // Runs script as the user, on a thread of its own, while the test goes on
  // (typically into a modal loop); TearDown waits for it.
  void AsUser(std::function<void()> script) {
    user_ = std::thread([this, script = std::move(script)] {
      display_ = XOpenDisplay(nullptr);
      if (!display_) {
        ADD_FAILURE() << "the user cannot open the display";
        return;
      }
      script();
      XCloseDisplay(display_);
      display_ = nullptr;
    });
  }

  // Runs call on the main thread (in whatever loop it is in) and waits.
  template <typename T>
  static T OnMain(std::function<T()> call) {
    auto task = std::make_shared<std::packaged_task<T()>>(std::move(call));
    std::future<T> result = task->get_future();
    Application->QueueCall([task] { (*task)(); });
    if (result.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
      throw std::runtime_error("the main thread did not answer");
    return result.get();
  }

  // Waits, as a user looks, until condition (run on the main thread) holds.
  static bool WaitUntil(std::function<bool()> condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
      if (OnMain<bool>(condition)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // The top-level window titled title once it is on the screen, or 0.
  Window WaitForWindow(const std::string& title) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
      if (Window w = FindWindow(DefaultRootWindow(display_), title)) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display_, w, &attributes) && attributes.map_state == IsViewable) {
          // Give the toolkit a moment to draw what it mapped.
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          return w;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "no window " << title << " came up";
    return 0;
  }

  // The screen position of a control's top-left corner, from the portable
  // state: where the design puts it.
  static TPoint ScreenPos(const TControl& control) {
    TPoint at{0, 0};
    for (const TControl* c = &control; c; c = c->Parent()) {
      at.X += c->Left();
      at.Y += c->Top();
    }
    return at;
  }

  void MoveTo(int x, int y) {
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
    XSync(display_, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  void Click(int x, int y) {
    MoveTo(x, y);
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    XSync(display_, False);
  }

  // Clicks the middle of control, as the user sees it.
  void ClickOn(TControl& control) {
    const TPoint at = OnMain<TPoint>([&] { return ScreenPos(control); });
    const TSize size = OnMain<TSize>([&] { return TSize{control.Width(), control.Height()}; });
    Click(at.X + size.cx / 2, at.Y + size.cy / 2);
  }

  void Key(KeySym symbol) {
    const KeyCode code = XKeysymToKeycode(display_, symbol);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    XSync(display_, False);
  }

  // What a window manager's close box does: asks the window to close.
  void CloseBox(Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    XSync(display_, False);
  }

  // The screen as the library's own screen copy sees it, saved as a test
  // artifact ($ZTL_ARTIFACT_DIR, else the build's desktop-artifacts folder)
  // under name.
  static std::unique_ptr<TBitmap> Screenshot(const std::string& name) {
    auto bitmap = std::make_unique<TBitmap>();
    const int width = Screen->Width(), height = Screen->Height();
    bitmap->SetSize(width, height);
    HDC screen = GetDC(nullptr);
    BitBlt(bitmap->Canvas()->Handle(), 0, 0, width, height, screen, 0, 0, SRCCOPY);
    ReleaseDC(nullptr, screen);
    const char* asked = std::getenv("ZTL_ARTIFACT_DIR");
    const std::string folder = asked && *asked ? asked : ZTL_TEST_ARTIFACTS;
    std::filesystem::create_directories(folder);
    bitmap->SaveToFile(folder + "/" + name + ".bmp");
    return bitmap;
  }

  // Saves the rectangle (screen pixels) of a screen copy as an artifact, as
  // Screenshot saves the whole: the pictures of single windows.
  static void SaveArea(const TBitmap& shot, const std::string& name, int left, int top, int width, int height) {
    TBitmap area;
    area.SetSize(width, height);
    BitBlt(area.Canvas()->Handle(), 0, 0, width, height, const_cast<TBitmap&>(shot).Canvas()->Handle(), left, top,
           SRCCOPY);
    const char* asked = std::getenv("ZTL_ARTIFACT_DIR");
    area.SaveToFile(std::string(asked && *asked ? asked : ZTL_TEST_ARTIFACTS) + "/" + name + ".bmp");
  }

  // Pixels of a screen copy that differ from colour inside the rectangle
  // (screen pixels).
  static int Differing(const TBitmap& shot, int left, int top, int width, int height, TColor colour) {
    int count = 0;
    for (int y = top; y < top + height; ++y)
      for (int x = left; x < left + width; ++x) count += ColorToRGB(shot.Pixel(x, y)) != ColorToRGB(colour);
    return count;
  }

  ::Display* display_ = nullptr;

 private:
  static Window FindWindow(Window parent, const std::string& title);
  std::thread user_;
};

inline Window DesktopTest::FindWindow(Window parent, const std::string& title) {
  ::Display* display = XOpenDisplay(nullptr);
  if (!display) return 0;
  Window found = 0;
  Window root, up, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, parent, &root, &up, &children, &count)) {
    for (unsigned i = 0; i < count && !found; ++i) {
      char* name = nullptr;
      if (XFetchName(display, children[i], &name) && name) {
        if (title == name) found = children[i];
        XFree(name);
      }
    }
    if (children) XFree(children);
  }
  XCloseDisplay(display);
  return found;
}

}  // namespace ztl::test
