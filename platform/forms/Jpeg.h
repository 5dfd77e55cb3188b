#pragma once
// JPEG pictures (JFIF files), written and read through libjpeg.
//
// Any thread; each picture from one thread at a time.
#include <ztlogger/platform/forms/Graphics.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

class ZTL_PLATFORM_API TJPEGImage : public TGraphic {
  ZTL_DECLARE_CLASS(TJPEGImage, TGraphic)

 public:
  TJPEGImage() = default;
  TJPEGImage(const TJPEGImage&) = delete;
  TJPEGImage& operator=(const TJPEGImage&) = delete;

  bool Empty() const override { return image_.Empty(); }
  int Width() const override { return image_.Width(); }
  int Height() const override { return image_.Height(); }

  // 1 (smallest file) to 100 (best picture); 90 for a new image.
  int CompressionQuality() const { return quality_; }
  void SetCompressionQuality(int value);

  // The decoded pixels.
  const TBitmap& Bitmap() const { return image_; }

  // Raises EInvalidGraphic for data that is no JPEG file.
  void LoadFromStream(TStream& stream) override;
  // Raises EInvalidGraphicOperation for an empty image, which JPEG cannot hold.
  void SaveToStream(TStream& stream) const override;
  // Takes the pixels of a bitmap or of another JPEG image.
  void Assign(TPersistent* Source) override;

 private:
  TBitmap image_;
  int quality_ = 90;
};

}  // namespace ztl
