// JPEG decoding under hostile files: what a file can make the decoder take.
#include <ztlogger/platform/forms/Jpeg.h>

#include <gtest/gtest.h>

#include <string>

#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl {
namespace {

// The headers of a progressive, arithmetic-coded file of the given size in
// three full-resolution components, its first scan and a few bytes of it.
std::string ProgressiveArithmeticFile(int width, int height) {
  auto word = [](int value) { return std::string{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)}; };
  std::string file = "\xFF\xD8";
  file += "\xFF\xDB" + word(67) + std::string(1, '\0') + std::string(64, '\x01');  // one quantisation table
  file += "\xFF\xCA" + word(17) + "\x08" + word(height) + word(width) + "\x03";
  for (char id : {'\x01', '\x02', '\x03'}) file += std::string{id, '\x11', '\0'};
  file += "\xFF\xDA" + word(12) + "\x03";
  for (char id : {'\x01', '\x02', '\x03'}) file += std::string{id, '\0'};
  file += std::string(3, '\0');  // DC, first pass
  file += std::string(16, '\0') + "\xFF\xD9";
  return file;
}

// Such a file of a few dozen bytes, inside the pixel ceiling, would have the
// decoder keep 8192 x 8192 x 3 coefficients (384 MiB) until its last scan:
// refused. A small one of the same kind decodes.
TEST(JpegImages, DecodingMemoryIsBoundedWhateverTheFileAsks) {
  ASSERT_LE(int64_t{8192} * 8192, TBitmap::MaxLoadedPixels);
  TStringStream large(ProgressiveArithmeticFile(8192, 8192));
  TJPEGImage refused;
  EXPECT_THROW(refused.LoadFromStream(large), EInvalidGraphic);
  EXPECT_TRUE(refused.Empty());
  TStringStream small(ProgressiveArithmeticFile(64, 48));
  TJPEGImage decoded;
  decoded.LoadFromStream(small);
  EXPECT_EQ(decoded.Width(), 64);
  EXPECT_EQ(decoded.Height(), 48);
}

}  // namespace
}  // namespace ztl
