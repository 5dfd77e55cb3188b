#include <ztlogger/platform/forms/Jpeg.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/SysUtils.h>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace ztl {

ZTL_DEFINE_CLASS(TJPEGImage, TGraphic)

namespace {

// libjpeg ends the process on an error unless error_exit returns elsewhere;
// it jumps back to the call that started the work, which then raises. Only
// plain data lives in the frames it jumps over.
struct TJpegErrors {
  jpeg_error_mgr Manager;
  std::jmp_buf Return;
  char Message[JMSG_LENGTH_MAX];
};

void JumpBack(j_common_ptr info) {
  auto* errors = reinterpret_cast<TJpegErrors*>(info->err);
  info->err->format_message(info, errors->Message);
  std::longjmp(errors->Return, 1);
}

void InstallErrors(jpeg_common_struct& info, TJpegErrors& errors) {
  info.err = jpeg_std_error(&errors.Manager);
  errors.Manager.error_exit = JumpBack;
  errors.Message[0] = '\0';
}

// RGB rows in, a complete file out (in memory that libjpeg allocates).
bool Compress(const unsigned char* rgb, int width, int height, int quality, unsigned char** file, unsigned long* size,
              TJpegErrors& errors) {
  jpeg_compress_struct info{};
  InstallErrors(*reinterpret_cast<jpeg_common_struct*>(&info), errors);
  if (setjmp(errors.Return)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, file, size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    auto* row = const_cast<JSAMPROW>(rgb + static_cast<size_t>(info.next_scanline) * static_cast<size_t>(width) * 3);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

constexpr long kMaxDecoderMemory = 128L << 20;

// A complete file in, RGB rows out (in memory from malloc).
bool Decompress(const unsigned char* file, unsigned long size, unsigned char** rgb, int* width, int* height,
                TJpegErrors& errors) {
  jpeg_decompress_struct info{};
  InstallErrors(*reinterpret_cast<jpeg_common_struct*>(&info), errors);
  *rgb = nullptr;
  if (setjmp(errors.Return)) {
    jpeg_destroy_decompress(&info);
    std::free(*rgb);
    *rgb = nullptr;
    return false;
  }
  jpeg_create_decompress(&info);
  // What libjpeg itself may take besides the image's rows: a progressive or
  // multi-scan file keeps every coefficient of the image until its last
  // scan, two bytes a sample, which a few hundred bytes of arithmetic-coded
  // file can ask for at the pixel ceiling (some 400 MB). Beyond this it
  // fails (it has no backing store), as it does for a file that asks more.
  info.mem->max_memory_to_use = kMaxDecoderMemory;
  jpeg_mem_src(&info, file, size);
  jpeg_read_header(&info, TRUE);
  // The header's size decides the allocations to come: refuse sizes past the
  // ceiling, and sizes the file's bytes cannot encode. A Huffman-coded block
  // of 8 x 8 pixels takes at least one bit in each scan; at the widest
  // subsampling a block of a component covers 32 x 32 pixels. Arithmetic
  // coding has no such floor.
  const int64_t pixels = int64_t{info.image_width} * info.image_height;
  const int64_t mostFromSize = static_cast<int64_t>(size) * 8 * 32 * 32;
  if (pixels > TBitmap::MaxLoadedPixels || (!info.arith_code && pixels > mostFromSize)) {
    jpeg_destroy_decompress(&info);
    throw EInvalidGraphic("JPEG image is not valid: " + IntToStr(info.image_width) + " x " +
                          IntToStr(info.image_height) + " pixels is too large");
  }
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  *width = static_cast<int>(info.output_width);
  *height = static_cast<int>(info.output_height);
  const size_t stride = static_cast<size_t>(info.output_width) * 3;
  *rgb = static_cast<unsigned char*>(std::malloc(stride * info.output_height));
  if (!*rgb) {
    jpeg_destroy_decompress(&info);
    throw EOutOfMemory("Out of memory");
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = *rgb + static_cast<size_t>(info.output_scanline) * stride;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

void TJPEGImage::SetCompressionQuality(int value) {
  if (value < 1 || value > 100) throw EInvalidGraphicOperation("Invalid JPEG quality");
  quality_ = value;
}

void TJPEGImage::SaveToStream(TStream& stream) const {
  if (image_.Empty()) throw EInvalidGraphicOperation("Cannot save an empty JPEG image");
  const int width = image_.Width(), height = image_.Height();
  std::vector<unsigned char> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  unsigned char* at = rgb.data();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const TColor color = image_.Pixel(x, y);
      *at++ = static_cast<unsigned char>(GetRValue(color));
      *at++ = static_cast<unsigned char>(GetGValue(color));
      *at++ = static_cast<unsigned char>(GetBValue(color));
    }
  TJpegErrors errors;
  unsigned char* file = nullptr;
  unsigned long size = 0;
  const bool done = Compress(rgb.data(), width, height, quality_, &file, &size, errors);
  std::unique_ptr<unsigned char, decltype(&std::free)> owned(file, &std::free);
  if (!done) throw EInvalidGraphicOperation(String("JPEG error: ") + errors.Message);
  stream.WriteBuffer(file, static_cast<int64_t>(size));
}

void TJPEGImage::LoadFromStream(TStream& stream) {
  std::vector<unsigned char> file(static_cast<size_t>(stream.Size() - stream.Position()));
  stream.ReadBuffer(file.data(), static_cast<int64_t>(file.size()));
  TJpegErrors errors;
  unsigned char* rgb = nullptr;
  int width = 0, height = 0;
  const bool done = Decompress(file.data(), static_cast<unsigned long>(file.size()), &rgb, &width, &height, errors);
  std::unique_ptr<unsigned char, decltype(&std::free)> owned(rgb, &std::free);
  if (!done) throw EInvalidGraphic(String("JPEG error: ") + errors.Message);
  TBitmap image;
  image.SetSize(width, height);
  const unsigned char* at = rgb;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x, at += 3) image.SetPixel(x, y, RGB(at[0], at[1], at[2]));
  image_.Assign(&image);
  Changed();
}

void TJPEGImage::Assign(TPersistent* Source) {
  if (auto* jpeg = dynamic_cast<TJPEGImage*>(Source)) {
    if (jpeg == this) return;
    image_.Assign(&jpeg->image_);
    quality_ = jpeg->quality_;
    Changed();
    return;
  }
  if (auto* bitmap = dynamic_cast<TBitmap*>(Source)) {
    image_.Assign(bitmap);
    Changed();
    return;
  }
  TGraphic::Assign(Source);
}

}  // namespace ztl
