// The screen copy: the X11 root window under a virtual X server, the
// headless screen without a display, and BitBlt's clipping and checks.
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/os/ScreenDC.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>

#include "tests/platform/os/FakePrograms.h"
#include "tests/support/GtkModule.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/Graphics.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/Jpeg.h>
#include "tests/support/Xvfb.h"

namespace ztl {
namespace {

using test::TestDir;

struct TFilledRect {
  int X, Y, Width, Height;
  TColor Color;
};

bool DrawOnRoot(const std::vector<TFilledRect>& rects) {
  std::vector<test::Xvfb::TFill> fills;
  for (const TFilledRect& r : rects)
    fills.push_back({r.X, r.Y, r.Width, r.Height, GetRValue(r.Color), GetGValue(r.Color), GetBValue(r.Color)});
  return test::Xvfb::Draw(fills);
}

class ScreenCopy {
 public:
  // The whole screen (or a part of it) copied into a bitmap of the given size.
  static bool Into(TBitmap& bitmap, int x1 = 0, int y1 = 0, int x = 0, int y = 0) {
    HDC screen = GetDC(nullptr);
    if (!screen) return false;
    const BOOL copied = BitBlt(bitmap.Canvas()->Handle(), x, y, bitmap.Width(), bitmap.Height(), screen, x1, y1,
                               SRCCOPY);
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
    return copied == TRUE;
  }
};

const std::vector<TFilledRect> kDrawing = {
    {10, 20, 30, 40, RGB(255, 0, 0)},
    {100, 5, 50, 10, RGB(0, 255, 0)},
    {0, 90, 163, 7, RGB(0, 0, 255)},
    {150, 100, 13, 17, RGB(200, 120, 40)},
};

void ExpectDrawing(const TBitmap& bitmap, int dx = 0, int dy = 0) {
  for (const TFilledRect& rect : kDrawing)
    for (int y = rect.Y; y < rect.Y + rect.Height; y += 3)
      for (int x = rect.X; x < rect.X + rect.Width; x += 3) {
        if (x + dx < 0 || y + dy < 0 || x + dx >= bitmap.Width() || y + dy >= bitmap.Height()) continue;
        ASSERT_EQ(bitmap.Pixel(x + dx, y + dy), rect.Color) << x << "," << y;
      }
}

// ---- Under a virtual X server ------------------------------------------------

class ScreenDCX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    // The display's screen is read by the desktop module, which the screen
    // copy loads.
    ZTL_TEST_SKIP_WITHOUT_GTK_MODULE();
    if (!xvfb_.Running()) GTEST_SKIP() << "Xvfb could not be started: the X11 screen copy is not tested";
    ASSERT_TRUE(DrawOnRoot(kDrawing));
  }
  test::Xvfb xvfb_{163, 121};
  TestDir dir_;
};

TEST_F(ScreenDCX11, TheSavedBitmapHasTheScreensSizeAndPixels) {
  TBitmap bitmap;
  bitmap.SetSize(163, 121);
  ASSERT_TRUE(ScreenCopy::Into(bitmap));
  const String path = dir_.File("screen.bmp");
  bitmap.SaveToFile(path);
  TBitmap saved;
  saved.LoadFromFile(path);
  EXPECT_EQ(saved.Width(), 163);
  EXPECT_EQ(saved.Height(), 121);
  ExpectDrawing(saved);
  EXPECT_EQ(saved.Pixel(0, 0), clBlack);
  EXPECT_EQ(saved.Pixel(162, 120), clBlack);
  EXPECT_EQ(saved.Pixel(40, 20), clBlack);  // just right of the red one
}

TEST_F(ScreenDCX11, APartOfTheScreenLandsWhereItIsAsked) {
  TBitmap bitmap;
  bitmap.SetSize(60, 60);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 60; ++x) bitmap.SetPixel(x, y, clWhite);
  // Source (5, 15) to destination (2, 3): every pixel moves by (-3, -12).
  ASSERT_TRUE(ScreenCopy::Into(bitmap, 5, 15, 2, 3));
  EXPECT_EQ(bitmap.Pixel(10 - 3, 20 - 12), RGB(255, 0, 0));
  EXPECT_EQ(bitmap.Pixel(39 - 3, 59 - 12), RGB(255, 0, 0));
  EXPECT_EQ(bitmap.Pixel(1, 30), clWhite);  // left of the destination: untouched
  EXPECT_EQ(bitmap.Pixel(30, 2), clWhite);  // above it
  EXPECT_EQ(bitmap.Pixel(2, 3), clBlack);   // (5, 15) on the screen
}

TEST_F(ScreenDCX11, BeyondTheScreenIsBlack) {
  TBitmap bitmap;
  bitmap.SetSize(40, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) bitmap.SetPixel(x, y, clWhite);
  // The lower right corner of the screen, half of it outside.
  ASSERT_TRUE(ScreenCopy::Into(bitmap, 143, 101));
  EXPECT_EQ(bitmap.Pixel(10, 10), RGB(200, 120, 40));  // (153, 111) on the screen
  EXPECT_EQ(bitmap.Pixel(25, 25), clBlack);            // (168, 126): off the screen
  EXPECT_EQ(bitmap.Pixel(39, 0), clBlack);
}

TEST_F(ScreenDCX11, AJpegOfTheScreenDecodesToItsSizeAndColours) {
  TBitmap bitmap;
  bitmap.SetSize(163, 121);
  ASSERT_TRUE(ScreenCopy::Into(bitmap));
  TJPEGImage jpeg;
  jpeg.Assign(&bitmap);
  const String path = dir_.File("screen.jpg");
  jpeg.SaveToFile(path);
  // An independent decoder: djpeg writes the pixels as a binary PPM.
  const String ppm = dir_.File("screen.ppm");
  const test::CommandRun djpeg = test::RunProgram({"djpeg", "-pnm", "-outfile", ppm, path});
  ASSERT_EQ(djpeg.status, 0) << djpeg.err;
  const String bytes = test::ReadFileBytes(ppm);
  int width = 0, height = 0, maxValue = 0, headerLength = 0;
  ASSERT_EQ(std::sscanf(bytes.c_str(), "P6 %d %d %d%n", &width, &height, &maxValue, &headerLength), 3);
  EXPECT_EQ(width, 163);
  EXPECT_EQ(height, 121);
  const auto pixel = [&](int x, int y) {
    const size_t at = static_cast<size_t>(headerLength + 1) + (static_cast<size_t>(y) * 163 + x) * 3;
    return RGB(static_cast<unsigned char>(bytes[at]), static_cast<unsigned char>(bytes[at + 1]),
               static_cast<unsigned char>(bytes[at + 2]));
  };
  // Lossy: the middle of each area keeps its colour closely.
  const auto near = [](TColor a, TColor b) {
    return std::abs(GetRValue(a) - GetRValue(b)) < 24 && std::abs(GetGValue(a) - GetGValue(b)) < 24 &&
           std::abs(GetBValue(a) - GetBValue(b)) < 24;
  };
  EXPECT_TRUE(near(pixel(25, 40), RGB(255, 0, 0)));
  EXPECT_TRUE(near(pixel(125, 10), RGB(0, 255, 0)));
  EXPECT_TRUE(near(pixel(80, 93), RGB(0, 0, 255)));
  EXPECT_TRUE(near(pixel(70, 60), clBlack));
}

// ---- Without a display ---------------------------------------------------------

class ScreenDCHeadless : public ::testing::Test {
 protected:
  ScreenDCHeadless() { HeadlessWidgetSet().SetScreenSize(33, 22); }
  ~ScreenDCHeadless() override { ResetApplicationState(); }
  test::ScopedEnv display_{"DISPLAY", std::nullopt};
};

TEST_F(ScreenDCHeadless, TheScreenIsTheWidgetSetsAndBlack) {
  TBitmap bitmap;
  bitmap.SetSize(40, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) bitmap.SetPixel(x, y, clWhite);
  ASSERT_TRUE(ScreenCopy::Into(bitmap));
  EXPECT_EQ(bitmap.Pixel(0, 0), clBlack);
  EXPECT_EQ(bitmap.Pixel(32, 21), clBlack);
  // Outside the 33 x 22 screen the copy is black as well: nothing is there.
  EXPECT_EQ(bitmap.Pixel(39, 29), clBlack);
  EXPECT_EQ(Screen->Width(), 33);
}

TEST_F(ScreenDCHeadless, ADisplayThatCannotBeOpenedIsLikeNone) {
  test::ScopedEnv unreachable("DISPLAY", String(":93817"));
  TBitmap bitmap;
  bitmap.SetSize(5, 5);
  bitmap.SetPixel(4, 4, clWhite);
  ASSERT_TRUE(ScreenCopy::Into(bitmap));
  EXPECT_EQ(bitmap.Pixel(4, 4), clBlack);
}

// ---- The display screen source --------------------------------------------------

// A 3 x 2 screen of one colour, as a display's source would give it.
class TPlainScreen : public osdc::TPixelSurface {
 public:
  int Width() const override { return 3; }
  int Height() const override { return 2; }
  void ReadPixels(int, int, int width, int height, std::vector<COLORREF>& pixels) override {
    pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), RGB(10, 200, 30));
  }
  bool WritePixels(int, int, int, int, const COLORREF*) override { return false; }
};

int screensAsked = 0;

std::unique_ptr<osdc::TPixelSurface> PlainScreen() {
  ++screensAsked;
  return std::make_unique<TPlainScreen>();
}

std::unique_ptr<osdc::TPixelSurface> NoScreen() {
  ++screensAsked;
  return nullptr;
}

class ScreenDCSource : public ::testing::Test {
 protected:
  ScreenDCSource() { HeadlessWidgetSet().SetScreenSize(7, 5); }
  ~ScreenDCSource() override {
    osdc::SetDisplayScreenSource(previous_);
    ResetApplicationState();
  }
  osdc::TDisplayScreenSource previous_ = osdc::SetDisplayScreenSource(nullptr);
};

TEST_F(ScreenDCSource, TheRegisteredDisplayIsReadAndAMissingDisplayGivesTheHeadlessScreen) {
  screensAsked = 0;
  osdc::SetDisplayScreenSource(&PlainScreen);
  TBitmap bitmap;
  bitmap.SetSize(4, 3);
  ASSERT_TRUE(ScreenCopy::Into(bitmap));
  EXPECT_EQ(screensAsked, 1);
  EXPECT_EQ(bitmap.Pixel(2, 1), RGB(10, 200, 30));
  EXPECT_EQ(bitmap.Pixel(3, 2), clBlack) << "beyond the display's 3 x 2";

  // A source whose display cannot be opened: the widget set's black screen.
  osdc::SetDisplayScreenSource(&NoScreen);
  bitmap.SetPixel(2, 1, clWhite);
  ASSERT_TRUE(ScreenCopy::Into(bitmap));
  EXPECT_EQ(screensAsked, 2);
  EXPECT_EQ(bitmap.Pixel(2, 1), clBlack);
  EXPECT_EQ(osdc::SetDisplayScreenSource(nullptr), &NoScreen);
}

// ---- Contexts and checks ---------------------------------------------------------

TEST(BitBlt, CopiesBetweenBitmapsWithClipping) {
  TBitmap source, target;
  source.SetSize(4, 4);
  target.SetSize(5, 5);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) source.SetPixel(x, y, RGB(x * 60, y * 60, 7));
  ASSERT_EQ(BitBlt(target.Canvas()->Handle(), 3, 3, 4, 4, source.Canvas()->Handle(), 0, 0, SRCCOPY), TRUE);
  EXPECT_EQ(target.Pixel(3, 3), RGB(0, 0, 7));
  EXPECT_EQ(target.Pixel(4, 4), RGB(60, 60, 7));
  EXPECT_EQ(target.Pixel(2, 2), clBlack);
  // A palette bitmap takes the nearest colour of its palette.
  TBitmap indexed;
  indexed.SetPixelFormat(pf1bit);
  indexed.SetSize(2, 1);
  indexed.SetPalette({clBlack, clWhite});
  source.SetPixel(3, 3, RGB(230, 240, 250));
  ASSERT_EQ(BitBlt(indexed.Canvas()->Handle(), 0, 0, 2, 1, source.Canvas()->Handle(), 2, 3, SRCCOPY), TRUE);
  EXPECT_EQ(indexed.PixelIndex(0, 0), 0);  // RGB(120, 180, 7)
  EXPECT_EQ(indexed.PixelIndex(1, 0), 1);  // RGB(230, 240, 250)
}

TEST(BitBlt, RefusesUnknownContextsOtherOperationsAndDrawingOnTheScreen) {
  test::ScopedEnv display("DISPLAY", std::nullopt);
  TBitmap bitmap;
  bitmap.SetSize(2, 2);
  HDC canvas = bitmap.Canvas()->Handle();
  HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  SetLastError(0);
  EXPECT_EQ(BitBlt(canvas, 0, 0, 2, 2, nullptr, 0, 0, SRCCOPY), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(BitBlt(canvas, 0, 0, 2, 2, screen, 0, 0, 0x00EE0086 /* SRCPAINT */), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_EQ(BitBlt(screen, 0, 0, 2, 2, canvas, 0, 0, SRCCOPY), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_EQ(DeleteDC(screen), FALSE);  // a screen context is released, not deleted
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 0);
  EXPECT_EQ(BitBlt(canvas, 0, 0, 2, 2, screen, 0, 0, SRCCOPY), FALSE);  // released: unknown now
  EXPECT_EQ(GetDC(reinterpret_cast<HWND>(1)), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

// ---- JPEG pictures ------------------------------------------------------------------

TEST(JPEGImage, RoundTripsSizeAndRoughColours) {
  TBitmap bitmap;
  bitmap.SetSize(37, 19);
  for (int y = 0; y < 19; ++y)
    for (int x = 0; x < 37; ++x) bitmap.SetPixel(x, y, x < 18 ? RGB(250, 250, 250) : RGB(10, 10, 200));
  TJPEGImage jpeg;
  jpeg.SetCompressionQuality(95);
  jpeg.Assign(&bitmap);
  TMemoryStream stream;
  jpeg.SaveToStream(stream);
  stream.SetPosition(0);
  TJPEGImage back;
  back.LoadFromStream(stream);
  EXPECT_EQ(back.Width(), 37);
  EXPECT_EQ(back.Height(), 19);
  EXPECT_NEAR(GetRValue(back.Bitmap().Pixel(5, 9)), 250, 12);
  EXPECT_NEAR(GetBValue(back.Bitmap().Pixel(30, 9)), 200, 12);
  EXPECT_NEAR(GetRValue(back.Bitmap().Pixel(30, 9)), 10, 12);
}

TEST(JPEGImage, BadDataEmptyImagesAndQualitiesAreRefused) {
  TMemoryStream garbage;
  garbage.WriteBuffer("not a picture at all", 20);
  garbage.SetPosition(0);
  TJPEGImage jpeg;
  EXPECT_THROW(jpeg.LoadFromStream(garbage), EInvalidGraphic);
  EXPECT_TRUE(jpeg.Empty());
  TMemoryStream out;
  EXPECT_THROW(jpeg.SaveToStream(out), EInvalidGraphicOperation);
  EXPECT_THROW(jpeg.SetCompressionQuality(0), EInvalidGraphicOperation);
  EXPECT_THROW(jpeg.SetCompressionQuality(101), EInvalidGraphicOperation);
}

}  // namespace
}  // namespace ztl
