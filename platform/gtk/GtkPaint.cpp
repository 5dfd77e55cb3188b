#include <ztlogger/platform/gtk/GtkPaint.h>

#include <algorithm>
#include <cstdio>

#include <ztlogger/platform/forms/Dialogs.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl::gtk {

std::string Mnemonic(const String& caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    const char c = caption[i];
    if (c == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') {
        out += '&';
        ++i;
      } else {
        out += '_';
      }
    } else if (c == '_') {
      out += "__";
    } else {
      out += c;
    }
  }
  return out;
}

std::string CssColor(TColor color) {
  const TColor rgb = ColorToRGB(color);
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "#%02x%02x%02x", GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
  return buffer;
}

int FontPixels(const TFont& font) {
  return font.Height() < 0 ? -font.Height() : std::max(1, (font.Height() * 4 + 2) / 5);
}

std::string FontCss(const TFont& font) {
  std::string family = font.Name();
  family.erase(std::remove(family.begin(), family.end(), '"'), family.end());
  std::string css = "font-family: \"" + family + "\", sans-serif; font-size: " + std::to_string(FontPixels(font)) +
                    "px; color: " + CssColor(font.Color()) + ";";
  css += font.Style().Contains(fsBold) ? " font-weight: bold;" : " font-weight: normal;";
  css += font.Style().Contains(fsItalic) ? " font-style: italic;" : " font-style: normal;";
  return css;
}

PangoFontDescription* FontDescription(const TFont& font) {
  PangoFontDescription* description = pango_font_description_new();
  pango_font_description_set_family(description, (font.Name() + ",sans-serif").c_str());
  pango_font_description_set_absolute_size(description, FontPixels(font) * PANGO_SCALE);
  pango_font_description_set_weight(description,
                                    font.Style().Contains(fsBold) ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(description,
                                   font.Style().Contains(fsItalic) ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  return description;
}

void SetSourceColor(cairo_t* cr, TColor color) {
  const TColor rgb = ColorToRGB(color);
  cairo_set_source_rgb(cr, GetRValue(rgb) / 255.0, GetGValue(rgb) / 255.0, GetBValue(rgb) / 255.0);
}

SurfacePtr SurfaceOf(const TGraphic* graphic) {
  const TBitmap* bitmap = dynamic_cast<const TBitmap*>(graphic);
  bool transparent = graphic && graphic->Transparent();
  if (auto* icon = dynamic_cast<const TIcon*>(graphic)) {
    bitmap = &icon->Image();
    transparent = true;
  }
  if (!bitmap || bitmap->Empty()) return nullptr;
  const int width = bitmap->Width(), height = bitmap->Height();
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_surface_flush(surface.get());
  unsigned char* data = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  const TColor key = transparent ? ColorToRGB(bitmap->TransparentColor()) : clDefault;
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
    for (int x = 0; x < width; ++x) {
      const TColor c = ColorToRGB(bitmap->Pixel(x, y));
      row[x] = c == key ? 0u
                        : 0xFF000000u | (static_cast<uint32_t>(GetRValue(c)) << 16) |
                              (static_cast<uint32_t>(GetGValue(c)) << 8) | static_cast<uint32_t>(GetBValue(c));
    }
  }
  cairo_surface_mark_dirty(surface.get());
  return surface;
}

void PaintSurface(cairo_t* cr, cairo_surface_t* surface, int width, int height, bool center, bool stretch) {
  if (!surface) return;
  const int pw = cairo_image_surface_get_width(surface), ph = cairo_image_surface_get_height(surface);
  if (pw <= 0 || ph <= 0) return;
  cairo_save(cr);
  if (stretch) {
    cairo_scale(cr, static_cast<double>(width) / pw, static_cast<double>(height) / ph);
    cairo_set_source_surface(cr, surface, 0, 0);
  } else {
    cairo_set_source_surface(cr, surface, center ? (width - pw) / 2 : 0, center ? (height - ph) / 2 : 0);
  }
  cairo_paint(cr);
  cairo_restore(cr);
}

UINT DialogIcon(const TCustomForm& form) {
  auto* dialog = dynamic_cast<const TMessageForm*>(&form);
  return dialog ? MessageDlgIcon(dialog->DlgType()) : 0;
}

SurfacePtr StockIconSurface(UINT icon) {
  uintptr_t id = 0;
  switch (icon & MB_ICONMASK) {
    case MB_ICONHAND: id = 32513; break;
    case MB_ICONQUESTION: id = 32514; break;
    case MB_ICONEXCLAMATION: id = 32515; break;
    case MB_ICONASTERISK: id = 32516; break;
    default: return nullptr;
  }
  TIcon image;
  image.SetHandle(LoadIconW(nullptr, MAKEINTRESOURCEW(id)));
  return SurfaceOf(&image);
}

}  // namespace ztl::gtk
