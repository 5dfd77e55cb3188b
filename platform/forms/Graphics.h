#pragma once
// Colours, fonts, pictures: device-independent bitmaps (read and written as
// BMP files) and icons.
// Any thread, each object from one thread at a time; a control's: main thread.
#include <cstdint>
#include <memory>
#include <vector>

#include <ztlogger/platform/classes/Persistent.h>
#include <ztlogger/platform/classes/Set.h>
#include <ztlogger/platform/classes/TypInfo.h>
#include <ztlogger/platform/os/WinNames.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Method.h>

namespace ztl {

class TStream;

// A colour: 0x00BBGGRR for an RGB value; system colours have the high bit set
// and name an element of the system's palette.
using TColor = int32_t;

inline constexpr TColor clSystemColor = static_cast<TColor>(0x80000000);
inline constexpr TColor clScrollBar = clSystemColor | 0;
inline constexpr TColor clBackground = clSystemColor | 1;
inline constexpr TColor clActiveCaption = clSystemColor | 2;
inline constexpr TColor clInactiveCaption = clSystemColor | 3;
inline constexpr TColor clMenu = clSystemColor | 4;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowFrame = clSystemColor | 6;
inline constexpr TColor clMenuText = clSystemColor | 7;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clCaptionText = clSystemColor | 9;
inline constexpr TColor clHighlight = clSystemColor | 13;
inline constexpr TColor clHighlightText = clSystemColor | 14;
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clBtnShadow = clSystemColor | 16;
inline constexpr TColor clGrayText = clSystemColor | 17;
inline constexpr TColor clBtnText = clSystemColor | 18;
inline constexpr TColor clInfoText = clSystemColor | 23;
inline constexpr TColor clInfoBk = clSystemColor | 24;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;

inline constexpr TColor RGB(int r, int g, int b) { return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16); }
inline constexpr int GetRValue(TColor c) { return c & 0xFF; }
inline constexpr int GetGValue(TColor c) { return (c >> 8) & 0xFF; }
inline constexpr int GetBValue(TColor c) { return (c >> 16) & 0xFF; }

// The RGB value of a colour; system colours take the classic Windows values.
ZTL_PLATFORM_API TColor ColorToRGB(TColor color);
// Colour names ("clBlue") and back, as stored with forms.
ZTL_PLATFORM_API bool ColorToIdent(TColor color, String& ident);
ZTL_PLATFORM_API bool IdentToColor(const String& ident, TColor& color);
// A name when there is one, else "$00BBGGRR".
ZTL_PLATFORM_API String ColorToString(TColor color);
// Raises EConvertError for a text that is neither a name nor a number.
ZTL_PLATFORM_API TColor StringToColor(const String& text);

enum TFontStyle : uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };
ZTL_ENUM_NAMES(TFontStyle, "fsBold", "fsItalic", "fsUnderline", "fsStrikeOut")
using TFontStyles = TSet<TFontStyle, 4>;

using TFontCharset = uint8_t;
inline constexpr TFontCharset ANSI_CHARSET = 0;
inline constexpr TFontCharset DEFAULT_CHARSET = 1;

class ZTL_PLATFORM_API TFont : public TPersistent {
  ZTL_DECLARE_CLASS(TFont, TPersistent)

 public:
  static constexpr int PixelsPerInch = 96;

  TFont() = default;
  TFont(const TFont&) = delete;
  TFont& operator=(const TFont&) = delete;

  const String& Name() const { return name_; }
  void SetName(const String& value);
  // Negative: the character height in pixels; positive: the cell height.
  int Height() const { return height_; }
  void SetHeight(int value);
  // Points, from the height at 96 pixels per inch.
  int Size() const;
  void SetSize(int value);
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles value);
  TFontCharset Charset() const { return charset_; }
  void SetCharset(TFontCharset value);

  bool Equals(const TFont& other) const;
  void Assign(TPersistent* Source) override;

  TNotifyEvent OnChange() const { return onChange_; }
  void SetOnChange(const TNotifyEvent& value) { onChange_ = value; }

 private:
  void Changed();

  String name_ = "MS Sans Serif";
  int height_ = -11;
  TColor color_ = clWindowText;
  TFontStyles style_;
  TFontCharset charset_ = DEFAULT_CHARSET;
  TNotifyEvent onChange_;
};

// The base of pictures that can be drawn, loaded and saved.
class ZTL_PLATFORM_API TGraphic : public TPersistent {
  ZTL_DECLARE_CLASS(TGraphic, TPersistent)

 public:
  virtual bool Empty() const = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveToStream(TStream& stream) const = 0;
  void LoadFromFile(const String& fileName);
  void SaveToFile(const String& fileName) const;

  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  TNotifyEvent OnChange() const { return onChange_; }
  void SetOnChange(const TNotifyEvent& value) { onChange_ = value; }

 protected:
  void Changed();

 private:
  bool transparent_ = false;
  TNotifyEvent onChange_;
};
using TGraphicClass = TClass;

enum TPixelFormat : uint8_t { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
ZTL_ENUM_NAMES(TPixelFormat, "pfDevice", "pf1bit", "pf4bit", "pf8bit", "pf15bit", "pf16bit", "pf24bit", "pf32bit",
               "pfCustom")
enum TTransparentMode : uint8_t { tmAuto, tmFixed };
ZTL_ENUM_NAMES(TTransparentMode, "tmAuto", "tmFixed")

class TBitmap;

// A bitmap's drawing surface. Its device context lets the system's drawing
// calls (BitBlt) reach the bitmap's pixels; it is valid while the canvas is.
class ZTL_PLATFORM_API TCanvas {
 public:
  explicit TCanvas(TBitmap& bitmap);
  ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  HDC Handle() const { return handle_; }

 private:
  class TBitmapSurface;
  std::unique_ptr<TBitmapSurface> surface_;
  HDC handle_;
};

// A device-independent bitmap. Palette formats (1, 4, 8 bits) keep their
// palette and pixel indices, so a loaded file is written back the same way.
class ZTL_PLATFORM_API TBitmap : public TGraphic {
  ZTL_DECLARE_CLASS(TBitmap, TGraphic)

 public:
  TBitmap() = default;
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  bool Empty() const override { return width_ == 0 || height_ == 0; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void SetWidth(int value) { SetSize(value, height_); }
  void SetHeight(int value) { SetSize(width_, value); }
  // New pixels are black (palette index 0).
  void SetSize(int width, int height);

  TPixelFormat PixelFormat() const { return pixelFormat_; }
  // Converts the pixels; a palette format gets the colours in use, and raises
  // EInvalidGraphicOperation when there are more than it can hold.
  void SetPixelFormat(TPixelFormat value);
  int BitsPerPixel() const;
  const std::vector<TColor>& Palette() const { return palette_; }
  void SetPalette(const std::vector<TColor>& colors);

  TColor Pixel(int x, int y) const;
  void SetPixel(int x, int y, TColor color);
  // The palette index of a pixel in a palette format.
  int PixelIndex(int x, int y) const;

  // tmAuto: the colour of the bottom-left pixel; tmFixed: TransparentColor.
  TColor TransparentColor() const;
  void SetTransparentColor(TColor value);
  TTransparentMode TransparentMode() const { return transparentMode_; }
  void SetTransparentMode(TTransparentMode value);

  // The most pixels an image read from a file may have (8192 x 8192): a
  // reader refuses more with EInvalidGraphic before it allocates anything, so
  // that a small file cannot claim the machine's memory.
  static constexpr int64_t MaxLoadedPixels = int64_t{1} << 26;

  // BMP files with a BITMAPINFOHEADER (or a later version), uncompressed, at
  // 1, 4, 8, 24 or 32 bits per pixel; raises EInvalidGraphic for anything else,
  // for sizes the file's bytes cannot hold and past MaxLoadedPixels.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;
  // Reads the bitmap resource ResName (a BMP file) of the module registered as
  // Module; raises EResNotFound when the module has none of that name, and
  // what LoadFromStream raises.
  void LoadFromResourceName(const String& Module, const String& ResName);

  void Assign(TPersistent* Source) override;

  // Made on first use, owned by the bitmap.
  TCanvas* Canvas();

 private:
  friend class TCanvas;
  void CheckPixel(int x, int y) const;
  size_t Offset(int x, int y) const { return static_cast<size_t>(y) * static_cast<size_t>(width_) + x; }
  bool Indexed() const { return pixelFormat_ == pf1bit || pixelFormat_ == pf4bit || pixelFormat_ == pf8bit; }
  int NearestIndex(TColor color) const;

  int width_ = 0;
  int height_ = 0;
  TPixelFormat pixelFormat_ = pf24bit;
  std::vector<TColor> palette_;
  std::vector<uint32_t> data_;  // per pixel: a palette index, or an RGB TColor
  TColor transparentColor_ = clDefault;
  TTransparentMode transparentMode_ = tmAuto;
  std::unique_ptr<TCanvas> canvas_;
};

// An icon: a handle of the system's (or the widget set's) icon and its image.
class ZTL_PLATFORM_API TIcon : public TGraphic {
  ZTL_DECLARE_CLASS(TIcon, TGraphic)

 public:
  TIcon() = default;
  TIcon(const TIcon&) = delete;
  TIcon& operator=(const TIcon&) = delete;

  bool Empty() const override { return handle_ == nullptr && image_.Empty(); }
  int Width() const override { return Empty() ? 0 : (image_.Empty() ? 32 : image_.Width()); }
  int Height() const override { return Empty() ? 0 : (image_.Empty() ? 32 : image_.Height()); }
  HICON Handle() const { return handle_; }
  void SetHandle(HICON value);
  // The icon's pixels, when known.
  const TBitmap& Image() const { return image_; }
  void SetImage(const TBitmap& image);

  // Icons are read and written as their image in BMP form.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;
  void Assign(TPersistent* Source) override;

 private:
  HICON handle_ = nullptr;
  TBitmap image_;
};

// A picture holds one graphic of any class.
class ZTL_PLATFORM_API TPicture : public TPersistent {
  ZTL_DECLARE_CLASS(TPicture, TPersistent)

 public:
  TPicture() = default;
  ~TPicture() override;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  TGraphic* Graphic() const { return graphic_.get(); }
  // Copies value (nullptr empties the picture).
  void SetGraphic(TGraphic* value);
  // The graphic as a bitmap; a picture holding something else is emptied and
  // given an empty bitmap.
  TBitmap* Bitmap();
  void SetBitmap(TBitmap* value) { SetGraphic(value); }
  TIcon* Icon();
  void SetIcon(TIcon* value) { SetGraphic(value); }
  int Width() const { return graphic_ ? graphic_->Width() : 0; }
  int Height() const { return graphic_ ? graphic_->Height() : 0; }
  bool Empty() const { return !graphic_ || graphic_->Empty(); }

  // By extension: .bmp (bitmap) and .ico (icon, stored as its image).
  void LoadFromFile(const String& fileName);
  void SaveToFile(const String& fileName) const;
  // The stored form of a picture: the graphic's class name, then its data.
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;

  void Assign(TPersistent* Source) override;
  // Stored forms keep the picture as binary "Data" (SaveToStream's form).
  void DefineProperties(TFiler* Filer) override;

  TNotifyEvent OnChange() const { return onChange_; }
  void SetOnChange(const TNotifyEvent& value) { onChange_ = value; }

 private:
  void Adopt(std::unique_ptr<TGraphic> graphic);
  void GraphicChanged(TObject* Sender);
  void Changed();

  std::unique_ptr<TGraphic> graphic_;
  TNotifyEvent onChange_;
};

}  // namespace ztl
