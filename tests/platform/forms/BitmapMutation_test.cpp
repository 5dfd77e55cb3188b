// Damaged bitmap files: each one loads or raises EInvalidGraphic, never
// anything else. The mutations are drawn from a fixed seed, so a failure
// names a file that can be made again.
#include <gtest/gtest.h>

#include <random>

#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/forms/Graphics.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl {
namespace {

std::string SavedBitmap(TPixelFormat format, int width, int height) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(format);
  bitmap.SetSize(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) bitmap.SetPixel(x, y, (x + y) % 2 ? clWhite : clBlack);
  TStringStream stream;
  bitmap.SaveToStream(stream);
  return stream.DataString();
}

// Values that make readers go wrong when put into a size or offset field.
constexpr uint32_t kEdgeValues[] = {0, 1, 0x7F, 0x80, 0xFF, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
// Where the sizes, counts and offsets lie in the headers.
constexpr size_t kFieldOffsets[] = {2, 10, 14, 18, 22, 26, 28, 30, 34, 46, 50};

std::string Mutated(const std::string& original, std::mt19937& random) {
  std::string file = original;
  const uint32_t kind = random() % 5;
  if (kind == 0) {  // a few random bytes
    for (uint32_t n = 1 + random() % 4; n > 0; --n) file[random() % file.size()] = static_cast<char>(random());
  } else if (kind == 1) {  // up to three fields set to edge values
    for (uint32_t n = 1 + random() % 3; n > 0; --n) {
      const size_t at = kFieldOffsets[random() % std::size(kFieldOffsets)];
      const uint32_t value = kEdgeValues[random() % std::size(kEdgeValues)];
      for (int i = 0; i < 4 && at + i < file.size(); ++i) file[at + i] = static_cast<char>(value >> (8 * i));
    }
  } else if (kind == 2) {  // cut short
    file.resize(random() % file.size());
  } else if (kind == 3) {  // any size the reader accepts
    for (size_t at : {size_t{18}, size_t{22}}) {
      const uint32_t value = random() % 0x10000;
      file[at] = static_cast<char>(value), file[at + 1] = static_cast<char>(value >> 8), file[at + 2] = 0,
      file[at + 3] = 0;
    }
  } else {  // a field set to any value
    const size_t at = kFieldOffsets[random() % std::size(kFieldOffsets)];
    const uint32_t value = random();
    for (int i = 0; i < 4 && at + i < file.size(); ++i) file[at + i] = static_cast<char>(value >> (8 * i));
  }
  return file;
}

// A bitmap that loaded is whole: every pixel can be read and it saves again.
void ExpectUsable(TBitmap& bitmap) {
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) bitmap.Pixel(x, y);
  TMemoryStream again;
  bitmap.SaveToStream(again);
  EXPECT_GT(again.Size(), 0);
}

TEST(BitmapMutations, DamagedFilesLoadOrAreInvalidGraphics) {
  const std::string seeds[] = {SavedBitmap(pf1bit, 9, 3), SavedBitmap(pf4bit, 5, 4), SavedBitmap(pf8bit, 7, 2),
                               SavedBitmap(pf24bit, 3, 3), SavedBitmap(pf32bit, 2, 5)};
  std::mt19937 random(20261207);
  int loaded = 0, refused = 0;
  for (int round = 0; round < 4000; ++round) {
    const std::string& seed = seeds[round % std::size(seeds)];
    TStringStream stream(Mutated(seed, random));
    TBitmap bitmap;
    try {
      bitmap.LoadFromStream(stream);
      ++loaded;
      ExpectUsable(bitmap);
    } catch (const EInvalidGraphic&) {
      ++refused;
    } catch (const std::exception& e) {
      ADD_FAILURE() << "round " << round << ": " << e.what();
    }
  }
  // Both outcomes occur, or the mutations miss the headers.
  EXPECT_GT(loaded, 100);
  EXPECT_GT(refused, 100);
}

}  // namespace
}  // namespace ztl
