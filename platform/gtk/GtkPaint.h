#pragma once
// What the GTK widget set and its controls' backends share for drawing with
// GTK, Pango and cairo: captions' accelerator marks, colours and fonts as CSS,
// graphics and the message dialogs' stock icons as cairo surfaces, and the
// guard that keeps an exception from crossing GTK's C frames. Relies on the
// framework's graphics (forms/Graphics.h) and the services' stock icons.
// Internal to the desktop module: it includes GTK.
//
// Main thread only.
#include <ztlogger/platform/os/Icons.h>  // before GLib, whose TRUE and FALSE are macros

#include <gtk/gtk.h>

#include <memory>
#include <string>

#include <ztlogger/platform/forms/Forms.h>

namespace ztl::gtk {

// A caption's accelerator marks in GTK's form: "&x" underlines x, "&&" is an
// ampersand, and GTK's own mark, the underscore, is doubled to stay text.
std::string Mnemonic(const String& caption);
std::string CssColor(TColor color);
// The pixel size of a font's characters: a negative height is that size, a
// positive one the cell, of which the characters take about four fifths.
int FontPixels(const TFont& font);
std::string FontCss(const TFont& font);
// The caller frees the description (pango_font_description_free).
PangoFontDescription* FontDescription(const TFont& font);
void SetSourceColor(cairo_t* cr, TColor color);

// GTK's callbacks are C frames: an exception never crosses them. What a
// handler raises goes to the application's exception handling, as in the
// framework's own loop.
template <typename F>
void Guarded(TObject* sender, F&& body) {
  try {
    body();
  } catch (...) {
    if (Application) Application->HandleException(sender);
  }
}

struct CairoSurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter>;

// A graphic's pixels for cairo; the transparent colour of a transparent
// bitmap, and of every icon, becomes fully transparent.
SurfacePtr SurfaceOf(const TGraphic* graphic);
void PaintSurface(cairo_t* cr, cairo_surface_t* surface, int width, int height, bool center, bool stretch);
// The stock icon a message dialog shows; 0 for other forms.
UINT DialogIcon(const TCustomForm& form);
SurfacePtr StockIconSurface(UINT icon);

}  // namespace ztl::gtk
