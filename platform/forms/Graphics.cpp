#include <ztlogger/platform/forms/Graphics.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/classes/Resources.h>
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/os/Icons.h>
#include <ztlogger/platform/os/ScreenDC.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

ZTL_BEGIN_CLASS(TFont, TPersistent)
  .Property("Charset", &Self::Charset, &Self::SetCharset)
  .Property("Color", &Self::Color, &Self::SetColor)
  .Property("Height", &Self::Height, &Self::SetHeight)
  .Property("Name", &Self::Name, &Self::SetName)
  .Property("Style", &Self::Style, &Self::SetStyle)
ZTL_END_CLASS
ZTL_BEGIN_CLASS(TGraphic, TPersistent)
ZTL_END_CLASS
ZTL_DEFINE_CLASS(TBitmap, TGraphic)
ZTL_DEFINE_CLASS(TIcon, TGraphic)
ZTL_DEFINE_CLASS(TPicture, TPersistent)

// ---------------------------------------------------------------- colours

namespace {

struct ColorName {
  TColor Value;
  const char* Name;
};

constexpr ColorName kColorNames[] = {
    {clBlack, "clBlack"},
    {clMaroon, "clMaroon"},
    {clGreen, "clGreen"},
    {clOlive, "clOlive"},
    {clNavy, "clNavy"},
    {clPurple, "clPurple"},
    {clTeal, "clTeal"},
    {clGray, "clGray"},
    {clSilver, "clSilver"},
    {clRed, "clRed"},
    {clLime, "clLime"},
    {clYellow, "clYellow"},
    {clBlue, "clBlue"},
    {clFuchsia, "clFuchsia"},
    {clAqua, "clAqua"},
    {clWhite, "clWhite"},
    {clScrollBar, "clScrollBar"},
    {clBackground, "clBackground"},
    {clActiveCaption, "clActiveCaption"},
    {clInactiveCaption, "clInactiveCaption"},
    {clMenu, "clMenu"},
    {clWindow, "clWindow"},
    {clWindowFrame, "clWindowFrame"},
    {clMenuText, "clMenuText"},
    {clWindowText, "clWindowText"},
    {clCaptionText, "clCaptionText"},
    {clHighlight, "clHighlight"},
    {clHighlightText, "clHighlightText"},
    {clBtnFace, "clBtnFace"},
    {clBtnShadow, "clBtnShadow"},
    {clGrayText, "clGrayText"},
    {clBtnText, "clBtnText"},
    {clInfoText, "clInfoText"},
    {clInfoBk, "clInfoBk"},
    {clNone, "clNone"},
    {clDefault, "clDefault"},
};

// The classic Windows system palette, indexed by COLOR_ number.
constexpr TColor kSystemColors[] = {
    RGB(212, 208, 200), RGB(58, 110, 165),  RGB(10, 36, 106),   RGB(128, 128, 128), RGB(212, 208, 200),
    RGB(255, 255, 255), RGB(0, 0, 0),       RGB(0, 0, 0),       RGB(0, 0, 0),       RGB(255, 255, 255),
    RGB(212, 208, 200), RGB(212, 208, 200), RGB(128, 128, 128), RGB(10, 36, 106),   RGB(255, 255, 255),
    RGB(212, 208, 200), RGB(128, 128, 128), RGB(128, 128, 128), RGB(0, 0, 0),       RGB(212, 208, 200),
    RGB(255, 255, 255), RGB(64, 64, 64),    RGB(212, 208, 200), RGB(0, 0, 0),       RGB(255, 255, 225),
};

}  // namespace

TColor ColorToRGB(TColor color) {
  if (color & clSystemColor) {
    size_t index = static_cast<size_t>(color & 0xFF);
    return index < std::size(kSystemColors) ? kSystemColors[index] : clBlack;
  }
  return color;
}

bool ColorToIdent(TColor color, String& ident) {
  for (const ColorName& c : kColorNames)
    if (c.Value == color) {
      ident = c.Name;
      return true;
    }
  return false;
}

bool IdentToColor(const String& ident, TColor& color) {
  for (const ColorName& c : kColorNames)
    if (SameText(ident, c.Name)) {
      color = c.Value;
      return true;
    }
  return false;
}

String ColorToString(TColor color) {
  String ident;
  if (ColorToIdent(color, ident)) return ident;
  return "$" + IntToHex(static_cast<uint32_t>(color), 8);
}

TColor StringToColor(const String& text) {
  TColor color;
  if (IdentToColor(text, color)) return color;
  String digits = Trim(text);
  int base = 10;
  if (!digits.empty() && digits[0] == '$') {
    digits.erase(0, 1);
    base = 16;
  }
  try {
    size_t used = 0;
    long long value = std::stoll(digits, &used, base);
    if (used == digits.size()) return static_cast<TColor>(value);
  } catch (const std::exception&) {
  }
  throw EConvertError("'" + text + "' is not a valid color value");
}

// ---------------------------------------------------------------- fonts

void TFont::Changed() {
  if (onChange_) onChange_(this);
}

void TFont::SetName(const String& value) {
  if (value == name_) return;
  name_ = value;
  Changed();
}

void TFont::SetHeight(int value) {
  if (value == height_) return;
  height_ = value;
  Changed();
}

int TFont::Size() const {
  // Rounded to the nearest point, as the framework reports it.
  int numerator = -height_ * 72;
  return numerator >= 0 ? (numerator + PixelsPerInch / 2) / PixelsPerInch
                        : -((-numerator + PixelsPerInch / 2) / PixelsPerInch);
}

void TFont::SetSize(int value) { SetHeight(-((value * PixelsPerInch + 36) / 72)); }

void TFont::SetColor(TColor value) {
  if (value == color_) return;
  color_ = value;
  Changed();
}

void TFont::SetStyle(TFontStyles value) {
  if (value == style_) return;
  style_ = value;
  Changed();
}

void TFont::SetCharset(TFontCharset value) {
  if (value == charset_) return;
  charset_ = value;
  Changed();
}

bool TFont::Equals(const TFont& other) const {
  return name_ == other.name_ && height_ == other.height_ && color_ == other.color_ && style_ == other.style_ &&
         charset_ == other.charset_;
}

void TFont::Assign(TPersistent* Source) {
  auto* font = dynamic_cast<TFont*>(Source);
  if (!font) return TPersistent::Assign(Source);
  if (Equals(*font)) return;
  name_ = font->name_;
  height_ = font->height_;
  color_ = font->color_;
  style_ = font->style_;
  charset_ = font->charset_;
  Changed();
}

// ---------------------------------------------------------------- graphics

void TGraphic::Changed() {
  if (onChange_) onChange_(this);
}

void TGraphic::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  Changed();
}

void TGraphic::LoadFromFile(const String& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const String& fileName) const {
  TFileStream stream(fileName, fmCreate);
  SaveToStream(stream);
}

// ---------------------------------------------------------------- canvas

class TCanvas::TBitmapSurface : public osdc::TPixelSurface {
 public:
  explicit TBitmapSurface(TBitmap& bitmap) : bitmap_(bitmap) {}
  int Width() const override { return bitmap_.Width(); }
  int Height() const override { return bitmap_.Height(); }

  void ReadPixels(int x, int y, int width, int height, std::vector<COLORREF>& pixels) override {
    pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int row = 0; row < height; ++row)
      for (int column = 0; column < width; ++column)
        pixels[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(column)] =
            static_cast<COLORREF>(bitmap_.Pixel(x + column, y + row));
  }

  // One change for the whole block, not one per pixel.
  bool WritePixels(int x, int y, int width, int height, const COLORREF* pixels) override {
    for (int row = 0; row < height; ++row)
      for (int column = 0; column < width; ++column) {
        const auto color = static_cast<TColor>(pixels[static_cast<size_t>(row) * static_cast<size_t>(width) +
                                                      static_cast<size_t>(column)] & 0xFFFFFF);
        bitmap_.data_[bitmap_.Offset(x + column, y + row)] =
            bitmap_.Indexed() ? static_cast<uint32_t>(bitmap_.NearestIndex(color)) : static_cast<uint32_t>(color);
      }
    bitmap_.Changed();
    return true;
  }

 private:
  TBitmap& bitmap_;
};

TCanvas::TCanvas(TBitmap& bitmap)
    : surface_(std::make_unique<TBitmapSurface>(bitmap)), handle_(osdc::CreateSurfaceDC(*surface_)) {}

TCanvas::~TCanvas() { DeleteDC(handle_); }

TCanvas* TBitmap::Canvas() {
  if (!canvas_) canvas_ = std::make_unique<TCanvas>(*this);
  return canvas_.get();
}

// ---------------------------------------------------------------- bitmaps

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

TPixelFormat FormatOfBits(int bits) {
  switch (bits) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 24: return pf24bit;
    case 32: return pf32bit;
    default: throw EInvalidGraphic("Bitmap image is not valid: " + IntToStr(bits) + " bits per pixel");
  }
}

size_t RowBytes(int width, int bits) { return ((static_cast<size_t>(width) * bits + 31) / 32) * 4; }

void ReadExactly(TStream& stream, void* buffer, int64_t count) {
  if (stream.Read(buffer, count) != count) throw EInvalidGraphic("Bitmap image is not valid: file too short");
}

}  // namespace

int TBitmap::BitsPerPixel() const {
  switch (pixelFormat_) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf32bit: return 32;
    default: return 24;
  }
}

void TBitmap::SetSize(int width, int height) {
  if (width < 0 || height < 0) throw EInvalidGraphicOperation("Invalid bitmap size");
  if (width == width_ && height == height_) return;
  std::vector<uint32_t> data(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  for (int y = 0; y < std::min(height, height_); ++y)
    for (int x = 0; x < std::min(width, width_); ++x)
      data[static_cast<size_t>(y) * static_cast<size_t>(width) + x] = data_[Offset(x, y)];
  width_ = width;
  height_ = height;
  data_ = std::move(data);
  if (Indexed() && palette_.empty()) palette_.assign(size_t{1} << BitsPerPixel(), clBlack);
  Changed();
}

void TBitmap::SetPalette(const std::vector<TColor>& colors) {
  palette_ = colors;
  Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat value) {
  if (value == pixelFormat_) return;
  std::vector<TColor> colors(data_.size());
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x) colors[Offset(x, y)] = Pixel(x, y);
  pixelFormat_ = value == pfDevice || value == pf15bit || value == pf16bit || value == pfCustom ? pf24bit : value;
  if (Indexed()) {
    const size_t capacity = size_t{1} << BitsPerPixel();
    std::vector<TColor> palette;
    for (TColor c : colors)
      if (std::find(palette.begin(), palette.end(), c) == palette.end()) palette.push_back(c);
    if (palette.size() > capacity) throw EInvalidGraphicOperation("Too many colours for the pixel format");
    palette.resize(capacity, clBlack);
    palette_ = palette;
    for (size_t i = 0; i < colors.size(); ++i)
      data_[i] = static_cast<uint32_t>(std::find(palette_.begin(), palette_.end(), colors[i]) - palette_.begin());
  } else {
    palette_.clear();
    for (size_t i = 0; i < colors.size(); ++i) data_[i] = static_cast<uint32_t>(colors[i]);
  }
  Changed();
}

void TBitmap::CheckPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_)
    throw EInvalidGraphicOperation("Pixel (" + IntToStr(x) + ", " + IntToStr(y) + ") outside the bitmap");
}

TColor TBitmap::Pixel(int x, int y) const {
  CheckPixel(x, y);
  uint32_t v = data_[Offset(x, y)];
  if (!Indexed()) return static_cast<TColor>(v);
  return v < palette_.size() ? palette_[v] : clBlack;
}

int TBitmap::PixelIndex(int x, int y) const {
  CheckPixel(x, y);
  if (!Indexed()) throw EInvalidGraphicOperation("The bitmap has no palette");
  return static_cast<int>(data_[Offset(x, y)]);
}

int TBitmap::NearestIndex(TColor color) const {
  int best = 0;
  int bestDistance = -1;
  for (size_t i = 0; i < palette_.size(); ++i) {
    TColor p = palette_[i];
    int dr = GetRValue(p) - GetRValue(color), dg = GetGValue(p) - GetGValue(color),
        db = GetBValue(p) - GetBValue(color);
    int distance = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || distance < bestDistance) {
      best = static_cast<int>(i);
      bestDistance = distance;
    }
  }
  return best;
}

void TBitmap::SetPixel(int x, int y, TColor color) {
  CheckPixel(x, y);
  color = ColorToRGB(color);
  data_[Offset(x, y)] = Indexed() ? static_cast<uint32_t>(NearestIndex(color)) : static_cast<uint32_t>(color);
  Changed();
}

TColor TBitmap::TransparentColor() const {
  if (transparentMode_ == tmFixed && transparentColor_ != clDefault) return transparentColor_;
  return Empty() ? clDefault : Pixel(0, height_ - 1);
}

void TBitmap::SetTransparentColor(TColor value) {
  transparentColor_ = value;
  transparentMode_ = value == clDefault ? tmAuto : tmFixed;
  Changed();
}

void TBitmap::SetTransparentMode(TTransparentMode value) {
  if (value == transparentMode_) return;
  if (value == tmAuto) transparentColor_ = clDefault;
  transparentMode_ = value;
  Changed();
}

void TBitmap::LoadFromResourceName(const String& Module, const String& ResName) {
  TResourceStream stream(Module, ResName);
  LoadFromStream(stream);
}

void TBitmap::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t fileHeader[kFileHeaderSize];
  ReadExactly(stream, fileHeader, kFileHeaderSize);
  if (fileHeader[0] != 'B' || fileHeader[1] != 'M') throw EInvalidGraphic("Bitmap image is not valid");
  const uint32_t pixelOffset = Get32(fileHeader + 10);

  uint8_t sizeField[4];
  ReadExactly(stream, sizeField, 4);
  const uint32_t headerSize = Get32(sizeField);
  if (headerSize < kInfoHeaderSize || headerSize > 1024) throw EInvalidGraphic("Bitmap image is not valid");
  std::vector<uint8_t> info(headerSize);
  std::memcpy(info.data(), sizeField, 4);
  ReadExactly(stream, info.data() + 4, headerSize - 4);

  const int32_t width = static_cast<int32_t>(Get32(&info[4]));
  const int32_t rawHeight = static_cast<int32_t>(Get32(&info[8]));
  const int bits = Get16(&info[14]);
  const uint32_t compression = Get32(&info[16]);
  uint32_t colorsUsed = Get32(&info[32]);
  if (compression != 0) throw EInvalidGraphic("Bitmap image is not valid: compressed bitmaps are not supported");
  if (width < 0 || width > 65535 || rawHeight == INT32_MIN || std::abs(rawHeight) > 65535)
    throw EInvalidGraphic("Bitmap image is not valid: bad size");
  const TPixelFormat format = FormatOfBits(bits);
  const bool topDown = rawHeight < 0;
  const int height = std::abs(rawHeight);

  std::vector<TColor> palette;
  if (bits <= 8) {
    const uint32_t capacity = 1u << bits;
    if (colorsUsed == 0 || colorsUsed > capacity) colorsUsed = capacity;
    std::vector<uint8_t> quads(colorsUsed * 4);
    ReadExactly(stream, quads.data(), static_cast<int64_t>(quads.size()));
    for (uint32_t i = 0; i < colorsUsed; ++i) palette.push_back(RGB(quads[i * 4 + 2], quads[i * 4 + 1], quads[i * 4]));
    palette.resize(capacity, clBlack);
  }

  stream.SetPosition(start + pixelOffset);
  const size_t rowBytes = RowBytes(width, bits);
  // The sizes come from the file: the pixels must be there before the image
  // is allocated.
  const int64_t available = stream.Size() - stream.Position();
  if (available < 0 || static_cast<uint64_t>(available) < rowBytes * static_cast<uint64_t>(height))
    throw EInvalidGraphic("Bitmap image is not valid: file too short");
  // At one bit a pixel, a file holds 32 times more pixels than the bytes
  // the image takes in memory: a ceiling too.
  if (int64_t{width} * height > MaxLoadedPixels) throw EInvalidGraphic("Bitmap image is not valid: too large");
  std::vector<uint8_t> row(rowBytes);
  std::vector<uint32_t> data(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (int fileRow = 0; fileRow < height; ++fileRow) {
    ReadExactly(stream, row.data(), static_cast<int64_t>(rowBytes));
    const int y = topDown ? fileRow : height - 1 - fileRow;
    for (int x = 0; x < width; ++x) {
      uint32_t v;
      switch (bits) {
        case 1: v = (row[x / 8] >> (7 - x % 8)) & 1; break;
        case 4: v = (row[x / 2] >> (x % 2 ? 0 : 4)) & 0xF; break;
        case 8: v = row[x]; break;
        case 24: v = static_cast<uint32_t>(RGB(row[x * 3 + 2], row[x * 3 + 1], row[x * 3])); break;
        default: v = static_cast<uint32_t>(RGB(row[x * 4 + 2], row[x * 4 + 1], row[x * 4])); break;
      }
      data[static_cast<size_t>(y) * static_cast<size_t>(width) + x] = v;
    }
  }
  width_ = width;
  height_ = height;
  pixelFormat_ = format;
  palette_ = std::move(palette);
  data_ = std::move(data);
  Changed();
}

void TBitmap::SaveToStream(TStream& stream) const {
  const int bits = BitsPerPixel();
  const uint32_t paletteBytes = Indexed() ? static_cast<uint32_t>(palette_.size()) * 4 : 0;
  const size_t rowBytes = RowBytes(width_, bits);
  const uint32_t pixelOffset = kFileHeaderSize + kInfoHeaderSize + paletteBytes;
  const uint32_t imageSize = static_cast<uint32_t>(rowBytes * static_cast<size_t>(height_));

  std::vector<uint8_t> out;
  out.reserve(pixelOffset + imageSize);
  out.push_back('B');
  out.push_back('M');
  Put32(out, pixelOffset + imageSize);
  Put32(out, 0);
  Put32(out, pixelOffset);
  Put32(out, kInfoHeaderSize);
  Put32(out, static_cast<uint32_t>(width_));
  Put32(out, static_cast<uint32_t>(height_));
  Put16(out, 1);
  Put16(out, static_cast<uint32_t>(bits));
  Put32(out, 0);  // uncompressed
  Put32(out, imageSize);
  Put32(out, 3780);  // 96 pixels per inch
  Put32(out, 3780);
  Put32(out, Indexed() ? static_cast<uint32_t>(palette_.size()) : 0);
  Put32(out, 0);
  if (Indexed())
    for (TColor c : palette_) {
      out.push_back(static_cast<uint8_t>(GetBValue(c)));
      out.push_back(static_cast<uint8_t>(GetGValue(c)));
      out.push_back(static_cast<uint8_t>(GetRValue(c)));
      out.push_back(0);
    }
  for (int y = height_ - 1; y >= 0; --y) {
    std::vector<uint8_t> row(rowBytes, 0);
    for (int x = 0; x < width_; ++x) {
      const uint32_t v = data_[Offset(x, y)];
      switch (bits) {
        case 1: row[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8)); break;
        case 4: row[x / 2] |= static_cast<uint8_t>((v & 0xF) << (x % 2 ? 0 : 4)); break;
        case 8: row[x] = static_cast<uint8_t>(v); break;
        case 24:
          row[x * 3] = static_cast<uint8_t>(GetBValue(static_cast<TColor>(v)));
          row[x * 3 + 1] = static_cast<uint8_t>(GetGValue(static_cast<TColor>(v)));
          row[x * 3 + 2] = static_cast<uint8_t>(GetRValue(static_cast<TColor>(v)));
          break;
        default:
          row[x * 4] = static_cast<uint8_t>(GetBValue(static_cast<TColor>(v)));
          row[x * 4 + 1] = static_cast<uint8_t>(GetGValue(static_cast<TColor>(v)));
          row[x * 4 + 2] = static_cast<uint8_t>(GetRValue(static_cast<TColor>(v)));
          break;
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  stream.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

void TBitmap::Assign(TPersistent* Source) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(Source)) {
    if (bitmap == this) return;
    width_ = bitmap->width_;
    height_ = bitmap->height_;
    pixelFormat_ = bitmap->pixelFormat_;
    palette_ = bitmap->palette_;
    data_ = bitmap->data_;
    transparentColor_ = bitmap->transparentColor_;
    transparentMode_ = bitmap->transparentMode_;
    SetTransparent(bitmap->Transparent());
    Changed();
    return;
  }
  if (auto* icon = dynamic_cast<TIcon*>(Source)) return Assign(const_cast<TBitmap*>(&icon->Image()));
  if (!Source) {
    TBitmap empty;
    return Assign(&empty);
  }
  TGraphic::Assign(Source);
}

// ---------------------------------------------------------------- icons

void TIcon::SetHandle(HICON value) {
  handle_ = value;
  // A system icon brings its pixels, so that it can be drawn and stored.
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  if (value && GetIconPixels(value, width, height, pixels)) {
    TBitmap image;
    image.SetSize(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) image.SetPixel(x, y, static_cast<TColor>(pixels[y * width + x]));
    image_.Assign(&image);
  }
  Changed();
}

void TIcon::SetImage(const TBitmap& image) {
  image_.Assign(const_cast<TBitmap*>(&image));
  Changed();
}

void TIcon::LoadFromStream(TStream& stream) {
  image_.LoadFromStream(stream);
  handle_ = nullptr;
  Changed();
}

void TIcon::SaveToStream(TStream& stream) const { image_.SaveToStream(stream); }

void TIcon::Assign(TPersistent* Source) {
  if (auto* icon = dynamic_cast<TIcon*>(Source)) {
    if (icon == this) return;
    handle_ = icon->handle_;
    image_.Assign(&icon->image_);
    Changed();
    return;
  }
  TGraphic::Assign(Source);
}

// ---------------------------------------------------------------- pictures

TPicture::~TPicture() = default;

void TPicture::Changed() {
  if (onChange_) onChange_(this);
}

void TPicture::GraphicChanged(TObject*) { Changed(); }

void TPicture::Adopt(std::unique_ptr<TGraphic> graphic) {
  graphic_ = std::move(graphic);
  if (graphic_) graphic_->SetOnChange(MakeMethod<&TPicture::GraphicChanged>(this));
  Changed();
}

void TPicture::SetGraphic(TGraphic* value) {
  if (value == graphic_.get()) return;
  if (!value) return Adopt(nullptr);
  std::unique_ptr<TObject> made(value->ClassType()->Create());
  auto* copy = dynamic_cast<TGraphic*>(made.get());
  if (!copy) throw EInvalidGraphic("Cannot copy a " + value->ClassName());
  copy->Assign(value);
  made.release();
  Adopt(std::unique_ptr<TGraphic>(copy));
}

TBitmap* TPicture::Bitmap() {
  if (auto* bitmap = dynamic_cast<TBitmap*>(graphic_.get())) return bitmap;
  Adopt(std::make_unique<TBitmap>());
  return static_cast<TBitmap*>(graphic_.get());
}

TIcon* TPicture::Icon() {
  if (auto* icon = dynamic_cast<TIcon*>(graphic_.get())) return icon;
  Adopt(std::make_unique<TIcon>());
  return static_cast<TIcon*>(graphic_.get());
}

void TPicture::LoadFromFile(const String& fileName) {
  const String ext = LowerCase(ExtractFileExt(fileName));
  std::unique_ptr<TGraphic> graphic;
  if (ext == ".bmp")
    graphic = std::make_unique<TBitmap>();
  else if (ext == ".ico")
    graphic = std::make_unique<TIcon>();
  else
    throw EInvalidGraphic("Unknown picture file extension (" + ext + ")");
  graphic->LoadFromFile(fileName);
  Adopt(std::move(graphic));
}

void TPicture::SaveToFile(const String& fileName) const {
  if (graphic_) graphic_->SaveToFile(fileName);
}

void TPicture::LoadFromStream(TStream& stream) {
  uint8_t length = 0;
  stream.ReadBuffer(&length, 1);
  String className(length, '\0');
  if (length) stream.ReadBuffer(className.data(), length);
  if (className.empty()) return Adopt(nullptr);
  TClass cls = FindClass(className);
  if (!cls->InheritsFrom(TGraphic::StaticClass())) throw EInvalidGraphic(className + " is not a graphic class");
  std::unique_ptr<TObject> made(cls->Create());
  auto* graphic = static_cast<TGraphic*>(made.get());
  graphic->LoadFromStream(stream);
  made.release();
  Adopt(std::unique_ptr<TGraphic>(graphic));
}

void TPicture::SaveToStream(TStream& stream) const {
  const String className = graphic_ ? graphic_->ClassName() : String();
  const auto length = static_cast<uint8_t>(className.size());
  stream.WriteBuffer(&length, 1);
  if (length) stream.WriteBuffer(className.data(), length);
  if (graphic_) graphic_->SaveToStream(stream);
}

void TPicture::DefineProperties(TFiler* Filer) {
  Filer->DefineBinaryProperty(
      "Data", [this](TStream& stream) { LoadFromStream(stream); },
      [this](TStream& stream) { SaveToStream(stream); }, !Empty());
}

void TPicture::Assign(TPersistent* Source) {
  if (!Source) return SetGraphic(nullptr);
  if (auto* picture = dynamic_cast<TPicture*>(Source)) return SetGraphic(picture->graphic_.get());
  if (auto* graphic = dynamic_cast<TGraphic*>(Source)) return SetGraphic(graphic);
  TPersistent::Assign(Source);
}

namespace {
const bool registered = [] {
  RegisterClass(TBitmap::StaticClass());
  RegisterClass(TIcon::StaticClass());
  return true;
}();
}  // namespace

}  // namespace ztl
