#include <ztlogger/platform/forms/Graphics.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/classes/Resources.h>
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/forms/Jpeg.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl {
namespace {

TEST(Bitmaps, APaletteBitmapSurvivesSavingAndLoading) {
  test::TestDir dir;
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf8bit);
  bitmap.SetPalette(std::vector<TColor>(256, clBlack));
  std::vector<TColor> palette(256, clBlack);
  palette[1] = clFuchsia;
  palette[2] = RGB(10, 20, 30);
  bitmap.SetPalette(palette);
  bitmap.SetSize(5, 3);  // an odd width: rows are padded
  bitmap.SetPixel(0, 0, clFuchsia);
  bitmap.SetPixel(4, 2, RGB(10, 20, 30));
  bitmap.SaveToFile(dir.File("mark.bmp"));

  TBitmap loaded;
  loaded.LoadFromFile(dir.File("mark.bmp"));
  EXPECT_EQ(loaded.PixelFormat(), pf8bit);
  EXPECT_EQ(loaded.Width(), 5);
  EXPECT_EQ(loaded.Height(), 3);
  EXPECT_EQ(loaded.PixelIndex(0, 0), 1);
  EXPECT_EQ(loaded.Pixel(0, 0), clFuchsia);
  EXPECT_EQ(loaded.Pixel(4, 2), RGB(10, 20, 30));
  EXPECT_EQ(loaded.Pixel(2, 1), clBlack);
  EXPECT_EQ(loaded.TransparentColor(), clBlack) << "the bottom-left pixel";
  loaded.SetTransparentColor(clFuchsia);
  EXPECT_EQ(loaded.TransparentMode(), tmFixed);
  EXPECT_EQ(loaded.TransparentColor(), clFuchsia);
  // The file is byte for byte what the writer makes again.
  TMemoryStream again;
  loaded.SaveToStream(again);
  EXPECT_EQ(String(reinterpret_cast<const char*>(again.Memory()), again.Data().size()),
            test::ReadFileBytes(dir.File("mark.bmp")));
}

TEST(Bitmaps, AreLoadedFromABitmapResourceOfTheirModule) {
  TBitmap mark;
  mark.SetPixelFormat(pf8bit);
  std::vector<TColor> palette(256, clBlack);
  palette[7] = clRed;
  mark.SetPalette(palette);
  mark.SetSize(16, 16);
  mark.SetPixel(3, 4, clRed);
  TMemoryStream file;
  mark.SaveToStream(file);
  std::vector<unsigned char> bytes(static_cast<size_t>(file.Size()));
  file.SetPosition(0);
  file.Read(bytes.data(), file.Size());
  const TResourceEntry entries[] = {{"MARK", bytes.data(), bytes.size()}};
  TResourceRegistration registration("marks", entries, 1);

  TBitmap loaded;
  loaded.LoadFromResourceName("marks", "Mark");
  EXPECT_EQ(loaded.PixelFormat(), pf8bit);
  EXPECT_EQ(loaded.Width(), 16);
  EXPECT_EQ(loaded.PixelIndex(3, 4), 7);
  EXPECT_EQ(loaded.Pixel(3, 4), clRed);
  EXPECT_THROW(loaded.LoadFromResourceName("other", "MARK"), EResNotFound) << "another module's name";
  EXPECT_THROW(loaded.LoadFromResourceName("marks", "NONE"), EResNotFound);
}

TEST(Bitmaps, TrueColourPixelsKeepTheirColour) {
  for (TPixelFormat format : {pf24bit, pf32bit}) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(3, 2);
    bitmap.SetPixel(1, 0, RGB(1, 2, 3));
    bitmap.SetPixel(2, 1, clWindowText);  // system colours become their RGB
    TMemoryStream stream;
    bitmap.SaveToStream(stream);
    stream.SetPosition(0);
    TBitmap loaded;
    loaded.LoadFromStream(stream);
    EXPECT_EQ(loaded.Pixel(1, 0), RGB(1, 2, 3));
    EXPECT_EQ(loaded.Pixel(2, 1), ColorToRGB(clWindowText));
    EXPECT_THROW(loaded.Pixel(3, 0), EInvalidGraphicOperation);
  }
}

TEST(Bitmaps, TopDownAndOneBitFilesAreRead) {
  // A 2 x 2 monochrome top-down bitmap: first row white-black, second black-white.
  const unsigned char file[] = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0,          // file header
                                40, 0, 0, 0, 2, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 1, 0, 1, 0,  // -2 high
                                0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0,
                                0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0,  // palette: black, white
                                0x80, 0, 0, 0, 0x40, 0, 0, 0};
  TMemoryStream stream;
  stream.WriteBuffer(file, sizeof file);
  stream.SetPosition(0);
  TBitmap bitmap;
  bitmap.LoadFromStream(stream);
  EXPECT_EQ(bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(bitmap.Pixel(0, 0), clWhite);
  EXPECT_EQ(bitmap.Pixel(1, 0), clBlack);
  EXPECT_EQ(bitmap.Pixel(0, 1), clBlack);
  EXPECT_EQ(bitmap.Pixel(1, 1), clWhite);
}

TEST(Bitmaps, AnythingElseIsAnInvalidGraphic) {
  TStringStream notABitmap("GIF89a.....................................................");
  TBitmap bitmap;
  EXPECT_THROW(bitmap.LoadFromStream(notABitmap), EInvalidGraphic);
  TStringStream truncated("BM\x10\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0");
  EXPECT_THROW(bitmap.LoadFromStream(truncated), EInvalidGraphic);
  EXPECT_TRUE(bitmap.Empty());
}

// The headers of an uncompressed bitmap file, without palette or pixels.
std::string BitmapHeaders(int32_t width, int32_t height, uint16_t bits, uint32_t pixelOffset) {
  std::string file = "BM";
  auto put = [&file](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) file += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put(0, 4), put(0, 4), put(pixelOffset, 4);
  put(40, 4), put(static_cast<uint32_t>(width), 4), put(static_cast<uint32_t>(height), 4), put(1, 2), put(bits, 2);
  put(0, 4), put(0, 4), put(0, 4), put(0, 4), put(0, 4), put(0, 4);
  return file;
}

TEST(Bitmaps, SizesTheFileCannotHoldAreRejectedBeforeAnyPixelIsRead) {
  for (uint16_t bits : {1, 24, 32}) {
    TStringStream huge(BitmapHeaders(65535, 65535, bits, 54) + std::string(1024, '\x7F'));
    TBitmap bitmap;
    EXPECT_THROW(bitmap.LoadFromStream(huge), EInvalidGraphic) << bits << " bits";
    EXPECT_TRUE(bitmap.Empty());
  }
  // A pixel offset past the end of the file.
  TStringStream farAway(BitmapHeaders(2, 2, 24, 0xFFFFFFF0u) + std::string(16, '\0'));
  TBitmap bitmap;
  EXPECT_THROW(bitmap.LoadFromStream(farAway), EInvalidGraphic);
}

TEST(Bitmaps, SizesPastTheCeilingAreRejectedBeforeAnyPixelIsRead) {
  // One bit a pixel: the file holds every row of 65535 x 8192 pixels (a
  // sparse file of 64 MiB), which would take 2 GiB in memory.
  test::TestDir dir;
  const String path = dir.File("wide.bmp");
  test::WriteFileBytes(path, BitmapHeaders(65535, 8192, 1, 62) + std::string(8, '\0'));
  ASSERT_EQ(::truncate(path.c_str(), 62 + int64_t{8192} * 8192), 0);
  TBitmap bitmap;
  EXPECT_THROW(bitmap.LoadFromFile(path), EInvalidGraphic);
  EXPECT_TRUE(bitmap.Empty());
}

// Files whose header claims 20,000 x 20,000 and 65,500 x 65,500 pixels.
TEST(JpegImages, SizesTheFileCannotEncodeOrPastTheCeilingAreRejectedBeforeAllocating) {
  for (const char* name : {"claims-20000x20000.jpg", "claims-65500x65500.jpg"}) {
    TJPEGImage jpeg;
    EXPECT_THROW(jpeg.LoadFromFile(String(ZTL_FORMS_TEST_DATA) + "/" + name), EInvalidGraphic) << name;
    EXPECT_TRUE(jpeg.Empty()) << name;
  }
  // Under the ceiling, but more than a file this small can encode.
  TBitmap small;
  small.SetSize(8, 8);
  TJPEGImage made;
  made.Assign(&small);
  TMemoryStream stream;
  made.SaveToStream(stream);
  String bytes(static_cast<size_t>(stream.Size()), '\0');
  stream.SetPosition(0);
  stream.ReadBuffer(bytes.data(), stream.Size());
  const size_t frame = bytes.find("\xFF\xC0");
  ASSERT_NE(frame, String::npos);
  bytes.replace(frame + 5, 4, "\x0F\xA0\x0F\xA0");  // 4000 x 4000
  ASSERT_LT(int64_t{4000} * 4000, TBitmap::MaxLoadedPixels);
  TStringStream claim(bytes);
  TJPEGImage jpeg;
  EXPECT_THROW(jpeg.LoadFromStream(claim), EInvalidGraphic);
}

TEST(Pictures, CopyTheirGraphicAndStoreItWithItsClass) {
  TPicture picture;
  picture.Bitmap()->SetSize(4, 4);
  picture.Bitmap()->SetPixel(3, 3, clRed);
  TPicture copy;
  copy.Assign(&picture);
  ASSERT_NE(copy.Graphic(), picture.Graphic());
  EXPECT_EQ(copy.Bitmap()->Pixel(3, 3), clRed);
  picture.Bitmap()->SetPixel(3, 3, clLime);
  EXPECT_EQ(copy.Bitmap()->Pixel(3, 3), clRed) << "a copy, not a share";

  TMemoryStream stream;
  copy.SaveToStream(stream);
  stream.SetPosition(0);
  TPicture read;
  read.LoadFromStream(stream);
  EXPECT_EQ(read.Graphic()->ClassName(), "TBitmap");
  EXPECT_EQ(read.Width(), 4);
  EXPECT_EQ(read.Bitmap()->Pixel(3, 3), clRed);

  TIcon icon;
  EXPECT_THROW(icon.Assign(&picture), EConvertError);
}

TEST(Fonts, SizeFollowsHeightAtNinetySixPixelsPerInch) {
  TFont font;
  EXPECT_EQ(font.Name(), "MS Sans Serif");
  EXPECT_EQ(font.Height(), -11);
  EXPECT_EQ(font.Size(), 8);
  font.SetSize(12);
  EXPECT_EQ(font.Height(), -16);
}

TEST(Colours, NamesAndNumbersConvertBothWays) {
  EXPECT_EQ(StringToColor("clHighlightText"), clHighlightText);
  EXPECT_EQ(ColorToString(clBlue), "clBlue");
  EXPECT_EQ(ColorToString(RGB(1, 2, 3)), "$00030201");
  EXPECT_EQ(StringToColor("$00030201"), RGB(1, 2, 3));
  EXPECT_THROW(StringToColor("clNoSuchColour"), EConvertError);
  EXPECT_EQ(ColorToRGB(clWindow), clWhite);
}

}  // namespace
}  // namespace ztl
