// MessageBeep: the widget set in use records it, and the bell of the X
// display rings where there is one.
#include <ztlogger/platform/os/Beep.h>

#include <gtest/gtest.h>
#include <poll.h>

#include "tests/platform/os/FakePrograms.h"
#include "tests/support/GtkModule.h"
#include "tests/support/Xvfb.h"
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
// Last: they bring Xlib's macros.
#include <X11/Xlib.h>
#include <X11/XKBlib.h>

namespace ztl {
namespace {

// A second client of the display that hears its bell.
class BellListener {
 public:
  BellListener() : display_(XOpenDisplay(nullptr)) {
    int major = XkbMajorVersion, minor = XkbMinorVersion, opcode = 0, error = 0;
    if (!display_ || !XkbQueryExtension(display_, &opcode, &xkbEvent_, &error, &major, &minor)) return;
    XkbSelectEvents(display_, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
    XSync(display_, False);
    ready_ = true;
  }
  ~BellListener() {
    if (display_) XCloseDisplay(display_);
  }
  BellListener(const BellListener&) = delete;
  BellListener& operator=(const BellListener&) = delete;

  bool Ready() const { return ready_; }

  // Whether a bell arrives within ten seconds.
  bool HeardBell() {
    pollfd waiter{ConnectionNumber(display_), POLLIN, 0};
    for (int round = 0; round < 100; ++round) {
      while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == xkbEvent_ && reinterpret_cast<XkbEvent*>(&event)->any.xkb_type == XkbBellNotify) return true;
      }
      poll(&waiter, 1, 100);
    }
    return false;
  }

 private:
  ::Display* display_;
  int xkbEvent_ = 0;
  bool ready_ = false;
};

TEST(MessageBeep, RingsTheDisplaysBellAndTheHeadlessWidgetSetRecordsIt) {
  ZTL_TEST_SKIP_WITHOUT_GTK_MODULE();  // the display's bell is the desktop module's, loaded to ring it
  test::Xvfb xvfb(64, 48);
  if (!xvfb.Running()) GTEST_SKIP() << "Xvfb could not be started: the display's bell is not tested";
  BellListener listener;
  ASSERT_TRUE(listener.Ready()) << "the virtual server has the keyboard extension";
  const size_t before = HeadlessWidgetSet().Beeps().size();
  EXPECT_TRUE(MessageBeep(MB_ICONHAND));
  EXPECT_TRUE(listener.HeardBell());
  ASSERT_EQ(HeadlessWidgetSet().Beeps().size(), before + 1);
  EXPECT_EQ(HeadlessWidgetSet().Beeps().back(), MB_ICONHAND);
}

TEST(MessageBeep, WithoutADisplayTheWidgetSetStillRecordsIt) {
  test::ScopedEnv noDisplay("DISPLAY", std::nullopt);
  EXPECT_FALSE(osbeep::RingDisplayBell());
  const size_t before = HeadlessWidgetSet().Beeps().size();
  EXPECT_TRUE(MessageBeep(MB_OK));
  ASSERT_EQ(HeadlessWidgetSet().Beeps().size(), before + 1);
  EXPECT_EQ(HeadlessWidgetSet().Beeps().back(), MB_OK);
}

int bellsRung = 0;
bool answer = true;

bool CountedBell() {
  ++bellsRung;
  return answer;
}

TEST(MessageBeep, TheRegisteredDisplayBellRingsAndWithoutOneNothingDoes) {
  const osbeep::TDisplayBell previous = osbeep::SetDisplayBell(&CountedBell);
  bellsRung = 0;
  answer = true;
  EXPECT_TRUE(osbeep::RingDisplayBell());
  answer = false;  // its display cannot be opened
  EXPECT_FALSE(osbeep::RingDisplayBell());
  EXPECT_EQ(bellsRung, 2);
  EXPECT_EQ(osbeep::SetDisplayBell(nullptr), &CountedBell);
  EXPECT_FALSE(osbeep::RingDisplayBell());
  EXPECT_EQ(bellsRung, 2);
  osbeep::SetDisplayBell(previous);
}

}  // namespace
}  // namespace ztl
