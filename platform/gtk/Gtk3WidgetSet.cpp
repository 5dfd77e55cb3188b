#include <ztlogger/platform/gtk/Gtk3WidgetSet.h>

// The services' headers define TRUE and FALSE as constants: they come before
// GLib's macros of the same names.
#include <ztlogger/platform/os/Icons.h>

#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include <ztlogger/platform/forms/Dialogs.h>
#include <ztlogger/platform/forms/ExtCtrls.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

namespace {

class TGtkWidgetSet;

// A caption's accelerator marks in GTK's form: "&x" underlines x, "&&" is an
// ampersand, and GTK's own mark, the underscore, is doubled to stay text.
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

// The pixel size of a font's characters: a negative height is that size, a
// positive one the cell, of which the characters take about four fifths.
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

// ---------------------------------------------------------------- backend

// One control's GTK widgets. They are made once the control's class is
// final and it has somewhere to go: a form when it is first shown, any other
// control once its parent's widgets exist (and then the parent makes them
// for the children it already has).
class TGtkBackend final : public TWidgetBackend {
 public:
  TGtkBackend(TGtkWidgetSet& set, TControl& control) : set_(set), control_(control) {}
  ~TGtkBackend() override;
  TGtkBackend(const TGtkBackend&) = delete;
  TGtkBackend& operator=(const TGtkBackend&) = delete;

  void Changed(TControlChange what) override;
  void SetFocus() override;

  void Create();
  GtkWidget* Outer() const { return outer_; }
  GtkWindow* Window() const { return form_ && outer_ ? GTK_WINDOW(outer_) : nullptr; }

 private:
  static TGtkBackend* Of(const TControl* control) {
    return control ? dynamic_cast<TGtkBackend*>(control->Backend()) : nullptr;
  }
  GtkWidget* ParentFixed() const {
    TGtkBackend* parent = Of(control_.Parent());
    return parent ? parent->fixed_ : nullptr;
  }
  GtkWidget* FocusWidget() const { return main_ ? main_ : outer_; }
  void Connect(GtkWidget* widget, const char* signal, GCallback callback) {
    g_signal_connect(widget, signal, callback, this);
  }
  void Place();
  void SyncAll();
  void SyncBounds();
  void SyncVisible();
  void SyncText();
  void SyncStyle();
  void SyncState();
  void SyncFocusChain();
  void Detach();

  static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
  static gboolean OnDrawImage(GtkWidget* widget, cairo_t* cr, gpointer self);
  static gboolean OnDrawIcon(GtkWidget* widget, cairo_t* cr, gpointer self);
  static void OnClicked(GtkWidget* widget, gpointer self);
  static void OnToggled(GtkToggleButton* widget, gpointer self);
  static void OnEntryChanged(GtkEditable* widget, gpointer self);
  static void OnBufferChanged(GtkTextBuffer* buffer, gpointer self);
  static void OnComboChanged(GtkComboBox* widget, gpointer self);
  static gboolean OnButtonRelease(GtkWidget* widget, GdkEventButton* event, gpointer self);
  static gboolean OnEnter(GtkWidget* widget, GdkEventCrossing* event, gpointer self);
  static gboolean OnLeave(GtkWidget* widget, GdkEventCrossing* event, gpointer self);
  static gboolean OnFocusIn(GtkWidget* widget, GdkEventFocus* event, gpointer self);
  static gboolean OnKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer self);
  static gboolean OnDelete(GtkWidget* widget, GdkEvent* event, gpointer self);

  TGtkWidgetSet& set_;
  TControl& control_;
  TCustomForm* form_ = nullptr;
  GtkWidget* outer_ = nullptr;  // in the parent's fixed container, or the window
  GtkWidget* fixed_ = nullptr;  // where the children go
  GtkWidget* main_ = nullptr;   // what shows the text or state
  GtkCssProvider* css_ = nullptr;
  std::string name_;
  SurfacePtr picture_;
  SurfacePtr icon_;  // a message dialog's stock icon
  int echo_ = 0;     // the backend is writing to GTK: its signals are no user's
};

// ---------------------------------------------------------------- widget set

class TGtkWidgetSet final : public TWidgetSet, public TGtkInspection {
 public:
  TGtkWidgetSet();
  ~TGtkWidgetSet() override;
  TGtkWidgetSet(const TGtkWidgetSet&) = delete;
  TGtkWidgetSet& operator=(const TGtkWidgetSet&) = delete;

  String Name() const override { return "gtk3"; }
  std::unique_ptr<TWidgetBackend> CreateBackend(TControl& control) override {
    return std::make_unique<TGtkBackend>(*this, control);
  }
  TSize TextExtent(const TFont& font, const String& text) const override;
  int ScreenWidth() const override { return MonitorArea().width; }
  int ScreenHeight() const override { return MonitorArea().height; }
  void ModalStarted(TCustomForm&) override {}
  void ModalEnded(TCustomForm& form, int) override {
    if (auto* backend = dynamic_cast<TGtkBackend*>(form.Backend()); backend && backend->Window())
      gtk_window_set_modal(backend->Window(), FALSE);
  }
  // Waits for the user: the window stays until something ends it.
  bool ModalIdle() override {
    if (!Application) return true;
    Application->WaitMessage();
    return false;
  }
  int MessageBox(const String& text, const String& caption, UINT flags) override;
  void ShowHintWindow(const String& hint, const THintInfo& info) override;
  void HideHintWindow() override {
    hintVisible_ = false;
    if (hintWindow_) gtk_widget_hide(hintWindow_);
  }
  bool HelpRequested(WORD, intptr_t) override { return false; }
  void Beep(UINT) override {
    ++beeps_;
    gdk_display_beep(gdk_display_get_default());
  }
  bool HasEventLoop() const override { return true; }
  void WaitEvents(int wakeDescriptor, int timeoutMs) override;

  std::vector<TGtkShownHint> Hints() const override { return hints_; }
  bool HintVisible() const override { return hintVisible_; }
  int Beeps() const override { return beeps_; }

  // The next name for a control's CSS rules.
  std::string NextName() { return "ztl" + std::to_string(++names_); }

 private:
  // The descriptor is polled through a record of the source's own rather
  // than g_source_add_unix_fd: GLib dispatches a source whose unix descriptor
  // is ready whatever its Check says, and Check must be able to decline.
  struct WakeSource {
    GSource Base;
    GPollFD Poll;
    bool Polled;
    int TimeoutMs;
    int WaitDepth;  // g_main_depth() of the application's wait under way; -1: none
  };
  static gboolean Prepare(GSource* source, gint* timeout) {
    *timeout = reinterpret_cast<WakeSource*>(source)->TimeoutMs;
    return FALSE;
  }
  // Woken in the application's own wait, the source has nothing to do: the
  // poll has returned, which ends the wait, and the application resets the
  // counter before its next one, so reading it here would only put a system
  // call between the wake-up and the message. Any other loop (a nested one,
  // or GTK's own dialogs) drains it in Dispatch, so as not to spin on it.
  static gboolean Check(GSource* source) {
    auto* wake = reinterpret_cast<WakeSource*>(source);
    if (!wake->Polled || (wake->Poll.revents & G_IO_IN) == 0) return FALSE;
    return g_main_depth() != wake->WaitDepth;
  }
  static gboolean Dispatch(GSource* source, GSourceFunc, gpointer) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(reinterpret_cast<WakeSource*>(source)->Poll.fd, &count, sizeof count);
    return G_SOURCE_CONTINUE;
  }

  GdkRectangle MonitorArea() const;

  GSourceFuncs wakeFuncs_{&Prepare, &Check, &Dispatch, nullptr, nullptr, nullptr};
  WakeSource* wake_ = nullptr;
  GtkCssProvider* compact_ = nullptr;
  GtkWidget* hintWindow_ = nullptr;
  GtkWidget* hintLabel_ = nullptr;
  std::vector<TGtkShownHint> hints_;
  bool hintVisible_ = false;
  int beeps_ = 0;
  unsigned names_ = 0;
};

TGtkWidgetSet::TGtkWidgetSet() {
  if (!gtk_init_check(nullptr, nullptr)) throw EInvalidOperation("GTK cannot open the display");
  wake_ = reinterpret_cast<WakeSource*>(g_source_new(&wakeFuncs_, sizeof(WakeSource)));
  wake_->Poll = GPollFD{-1, G_IO_IN, 0};
  wake_->Polled = false;
  wake_->TimeoutMs = -1;
  wake_->WaitDepth = -1;
  g_source_set_priority(&wake_->Base, G_PRIORITY_DEFAULT);
  // GLib blocks a source that may not recurse while it dispatches, taking
  // its descriptor out of the poll set and putting it back: each of those
  // wakes the context, so every wake-up would cost two writes to GLib's own
  // wake-up descriptor and a second, empty pass of the loop. The dispatch
  // only reads a counter, so recursion is harmless.
  g_source_set_can_recurse(&wake_->Base, TRUE);
  g_source_attach(&wake_->Base, nullptr);
  // The library's pixel layouts need widgets no larger than asked for: the
  // theme's minimum sizes and paddings give way inside the library's windows.
  compact_ = gtk_css_provider_new();
  gtk_css_provider_load_from_data(compact_,
                                  "window.ztl button { min-height: 0; min-width: 0; padding: 0 4px; box-shadow: none; }"
                                  "window.ztl entry { min-height: 0; padding-top: 0; padding-bottom: 0; }"
                                  "window.ztl combobox button { padding-top: 0; padding-bottom: 0; }"
                                  "window.ztl checkbutton { min-height: 0; padding: 0; }"
                                  "window.ztl frame > border { border-radius: 0; }",
                                  -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(compact_),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

TGtkWidgetSet::~TGtkWidgetSet() {
  if (hintWindow_) gtk_widget_destroy(hintWindow_);
  gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(compact_));
  g_object_unref(compact_);
  g_source_destroy(&wake_->Base);
  g_source_unref(&wake_->Base);
}

GdkRectangle TGtkWidgetSet::MonitorArea() const {
  GdkRectangle area{0, 0, 0, 0};
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  if (monitor) gdk_monitor_get_geometry(monitor, &area);
  return area;
}

TSize TGtkWidgetSet::TextExtent(const TFont& font, const String& text) const {
  PangoContext* context = gdk_pango_context_get();
  PangoLayout* layout = pango_layout_new(context);
  PangoFontDescription* description = FontDescription(font);
  pango_layout_set_font_description(layout, description);
  pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
  int width = 0, height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  pango_font_description_free(description);
  g_object_unref(layout);
  g_object_unref(context);
  return TSize{width, height};
}

void TGtkWidgetSet::WaitEvents(int wakeDescriptor, int timeoutMs) {
  // The descriptor is watched for good: changing what a source watches wakes
  // the context, and the next wait would return at once.
  if (!wake_->Polled || wakeDescriptor != wake_->Poll.fd) {
    if (wake_->Polled) g_source_remove_poll(&wake_->Base, &wake_->Poll);
    wake_->Poll = GPollFD{wakeDescriptor, G_IO_IN, 0};
    g_source_add_poll(&wake_->Base, &wake_->Poll);
    wake_->Polled = true;
  }
  wake_->TimeoutMs = timeoutMs;
  const int outerWait = wake_->WaitDepth;
  wake_->WaitDepth = g_main_depth();
  g_main_context_iteration(nullptr, TRUE);
  wake_->WaitDepth = outerWait;
  wake_->TimeoutMs = -1;
}

int TGtkWidgetSet::MessageBox(const String& text, const String& caption, UINT flags) {
  if (!Application) return MessageBoxCancelResult(flags);
  TMsgDlgButtons buttons;
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL: buttons = TMsgDlgButtons{mbOK, mbCancel}; break;
    case MB_ABORTRETRYIGNORE: buttons = TMsgDlgButtons{mbAbort, mbRetry, mbIgnore}; break;
    case MB_YESNOCANCEL: buttons = TMsgDlgButtons{mbYes, mbNo, mbCancel}; break;
    case MB_YESNO: buttons = TMsgDlgButtons{mbYes, mbNo}; break;
    case MB_RETRYCANCEL: buttons = TMsgDlgButtons{mbRetry, mbCancel}; break;
    default: buttons = TMsgDlgButtons{mbOK}; break;
  }
  TMsgDlgType type = mtCustom;
  switch (flags & MB_ICONMASK) {
    case MB_ICONHAND: type = mtError; break;
    case MB_ICONQUESTION: type = mtConfirmation; break;
    case MB_ICONEXCLAMATION: type = mtWarning; break;
    case MB_ICONASTERISK: type = mtInformation; break;
    default: break;
  }
  std::unique_ptr<TForm> box(CreateMessageDialog(text, type, buttons));
  box->SetCaption(caption);
  const int result = box->ShowModal();
  // The close box of a box without a Cancel button answers as the system's.
  if (result == mrCancel && !buttons.Contains(mbCancel)) return MessageBoxCancelResult(flags);
  return result;
}

void TGtkWidgetSet::ShowHintWindow(const String& hint, const THintInfo& info) {
  if (!hintWindow_) {
    hintWindow_ = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_widget_set_name(hintWindow_, "ztlhint");
    hintLabel_ = gtk_label_new("");
    gtk_widget_set_margin_start(hintLabel_, 3);
    gtk_widget_set_margin_end(hintLabel_, 3);
    gtk_widget_set_margin_top(hintLabel_, 1);
    gtk_widget_set_margin_bottom(hintLabel_, 1);
    gtk_container_add(GTK_CONTAINER(hintWindow_), hintLabel_);
    gtk_widget_show(hintLabel_);
    GtkCssProvider* css = gtk_css_provider_new();
    const std::string rules = "#ztlhint { background-color: " + CssColor(clInfoBk) + "; border: 1px solid " +
                              CssColor(clBlack) + "; } #ztlhint label { color: " + CssColor(clInfoText) +
                              "; font-size: 11px; }";
    gtk_css_provider_load_from_data(css, rules.c_str(), -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
    g_object_unref(css);
  }
  gtk_label_set_text(GTK_LABEL(hintLabel_), hint.c_str());
  gtk_window_move(GTK_WINDOW(hintWindow_), info.HintPos.X, info.HintPos.Y);
  gtk_widget_show(hintWindow_);
  hints_.push_back(TGtkShownHint{hint, info.HintPos});
  hintVisible_ = true;
}

// ---------------------------------------------------------------- backend

TGtkBackend::~TGtkBackend() { Detach(); }

void TGtkBackend::Detach() {
  if (css_) {
    gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css_));
    g_object_unref(css_);
    css_ = nullptr;
  }
  if (!outer_) return;
  g_signal_handlers_disconnect_matched(outer_, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, this);
  if (main_ && main_ != outer_)
    g_signal_handlers_disconnect_matched(main_, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, this);
  if (main_ && GTK_IS_TEXT_VIEW(main_))
    g_signal_handlers_disconnect_matched(gtk_text_view_get_buffer(GTK_TEXT_VIEW(main_)), G_SIGNAL_MATCH_DATA, 0, 0,
                                         nullptr, nullptr, this);
  if (fixed_ && fixed_ != outer_)
    g_signal_handlers_disconnect_matched(fixed_, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, this);
  if (form_) {
    gtk_widget_destroy(outer_);
    // Gone from the screen now, not at the next turn of a loop that may
    // never come.
    gdk_display_flush(gdk_display_get_default());
  } else if (GtkWidget* parent = gtk_widget_get_parent(outer_)) {
    gtk_container_remove(GTK_CONTAINER(parent), outer_);
  }
  g_object_unref(outer_);
  outer_ = fixed_ = main_ = nullptr;
}

void TGtkBackend::Create() {
  if (outer_) return;
  form_ = dynamic_cast<TCustomForm*>(&control_);
  if (!form_ && !ParentFixed()) return;
  name_ = set_.NextName();
  if (form_) {
    outer_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_style_context_add_class(gtk_widget_get_style_context(outer_), "ztl");
    fixed_ = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(outer_), fixed_);
    gtk_widget_show(fixed_);
    g_signal_connect(fixed_, "draw", G_CALLBACK(&OnDraw), this);
    Connect(outer_, "key-press-event", G_CALLBACK(&OnKeyPress));
    Connect(outer_, "delete-event", G_CALLBACK(&OnDelete));
    if (const UINT icon = DialogIcon(*form_)) {
      icon_ = StockIconSurface(icon);
      GtkWidget* area = gtk_drawing_area_new();
      gtk_widget_set_size_request(area, MessageDlgIconSize, MessageDlgIconSize);
      g_signal_connect(area, "draw", G_CALLBACK(&OnDrawIcon), this);
      gtk_fixed_put(GTK_FIXED(fixed_), area, MessageDlgIconMargin, MessageDlgIconMargin);
      gtk_widget_show(area);
    }
  } else if (dynamic_cast<TButton*>(&control_)) {
    outer_ = main_ = gtk_button_new_with_mnemonic("");
    Connect(main_, "clicked", G_CALLBACK(&OnClicked));
  } else if (dynamic_cast<TCheckBox*>(&control_)) {
    outer_ = main_ = gtk_check_button_new_with_mnemonic("");
    Connect(main_, "toggled", G_CALLBACK(&OnToggled));
  } else if (auto* memo = dynamic_cast<TMemo*>(&control_)) {
    outer_ = gtk_scrolled_window_new(nullptr, nullptr);
    main_ = gtk_text_view_new();
    gtk_container_add(GTK_CONTAINER(outer_), main_);
    gtk_widget_show(main_);
    g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(main_)), "changed", G_CALLBACK(&OnBufferChanged), this);
    const bool vertical = memo->ScrollBars() == ssVertical || memo->ScrollBars() == ssBoth;
    const bool horizontal = memo->ScrollBars() == ssHorizontal || memo->ScrollBars() == ssBoth;
    // Without a bar the text is clipped, as on Windows: the size stays the
    // design's whatever the text is. A bar asked for shows once the text
    // is longer than the box, as a real bar beside the text: GTK's overlay
    // bars would stay hidden until the pointer comes near, and a user would
    // not know there is more to read.
    gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(outer_), FALSE);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(outer_), horizontal ? GTK_POLICY_AUTOMATIC : GTK_POLICY_EXTERNAL,
                                   vertical ? GTK_POLICY_AUTOMATIC : GTK_POLICY_EXTERNAL);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(outer_),
                                        memo->BorderStyle() == bsNone ? GTK_SHADOW_NONE : GTK_SHADOW_IN);
  } else if (dynamic_cast<TCustomEdit*>(&control_)) {
    outer_ = main_ = gtk_entry_new();
    gtk_entry_set_width_chars(GTK_ENTRY(main_), 1);
    Connect(main_, "changed", G_CALLBACK(&OnEntryChanged));
  } else if (auto* combo = dynamic_cast<TComboBox*>(&control_)) {
    outer_ = main_ = combo->Style() == csDropDownList ? gtk_combo_box_text_new() : gtk_combo_box_text_new_with_entry();
    Connect(main_, "changed", G_CALLBACK(&OnComboChanged));
  } else if (dynamic_cast<TGroupBox*>(&control_)) {
    outer_ = fixed_ = gtk_fixed_new();
    main_ = gtk_frame_new(nullptr);
    gtk_widget_set_name(main_, (name_ + "f").c_str());
    gtk_fixed_put(GTK_FIXED(fixed_), main_, 0, 0);
    gtk_widget_show(main_);
  } else if (dynamic_cast<TWinControl*>(&control_)) {
    outer_ = fixed_ = gtk_fixed_new();
  } else if (dynamic_cast<TLabel*>(&control_)) {
    // Labels show their parent through them, as the framework's do on the
    // form designs (its labels' own colour is the button face).
    outer_ = gtk_event_box_new();
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(outer_), FALSE);
    main_ = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(main_), 0);
    gtk_label_set_yalign(GTK_LABEL(main_), 0);
    gtk_container_add(GTK_CONTAINER(outer_), main_);
    gtk_widget_show(main_);
  } else {
    outer_ = gtk_drawing_area_new();
    g_signal_connect(outer_, "draw", G_CALLBACK(&OnDrawImage), this);
  }
  g_object_ref_sink(outer_);
  gtk_widget_set_name(outer_, name_.c_str());
  if (fixed_ && !form_) g_signal_connect(fixed_, "draw", G_CALLBACK(&OnDraw), this);
  gtk_widget_add_events(
      outer_, GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
  Connect(outer_, "enter-notify-event", G_CALLBACK(&OnEnter));
  Connect(outer_, "leave-notify-event", G_CALLBACK(&OnLeave));
  if (!dynamic_cast<TWinControl*>(&control_)) Connect(outer_, "button-release-event", G_CALLBACK(&OnButtonRelease));
  if (main_ && dynamic_cast<TWinControl*>(&control_)) Connect(main_, "focus-in-event", G_CALLBACK(&OnFocusIn));
  Place();
  SyncAll();
  if (auto* win = dynamic_cast<TWinControl*>(&control_)) {
    for (int i = 0; i < win->ControlCount(); ++i) {
      TGtkBackend* child = Of(win->Controls(i));
      if (!child) continue;
      if (!child->outer_) {
        child->Create();
      } else {  // moved here while this had no widgets yet
        child->Place();
        child->SyncBounds();
        child->SyncVisible();
      }
    }
    SyncFocusChain();
  }
  if (!form_) {
    if (TGtkBackend* parent = Of(control_.Parent())) parent->SyncFocusChain();
  }
}

void TGtkBackend::Place() {
  if (form_ || !outer_) return;
  GtkWidget* target = ParentFixed();
  GtkWidget* current = gtk_widget_get_parent(outer_);
  if (current == target) return;
  if (current) gtk_container_remove(GTK_CONTAINER(current), outer_);
  if (target) gtk_fixed_put(GTK_FIXED(target), outer_, control_.Left(), control_.Top());
}

void TGtkBackend::SyncAll() {
  ++echo_;
  SyncBounds();
  SyncText();
  SyncStyle();
  SyncState();
  gtk_widget_set_sensitive(outer_, control_.Enabled());
  --echo_;
  SyncVisible();
}

void TGtkBackend::SyncBounds() {
  const int width = std::max(0, control_.Width()), height = std::max(0, control_.Height());
  if (form_) {
    gtk_widget_set_size_request(fixed_, width, height);
    // A window that may not be resized would take its content's natural
    // size (a memo's longest line, say); one that may, with its minimum and
    // maximum pinned for the fixed borders, takes the form's size.
    GdkGeometry geometry{};
    geometry.min_width = geometry.max_width = std::max(1, width);
    geometry.min_height = geometry.max_height = std::max(1, height);
    const bool sizeable = form_->BorderStyle() == bsSizeable || form_->BorderStyle() == bsSizeToolWin;
    gtk_window_set_resizable(GTK_WINDOW(outer_), TRUE);
    gtk_window_set_geometry_hints(
        GTK_WINDOW(outer_), nullptr, sizeable ? nullptr : &geometry,
        sizeable ? static_cast<GdkWindowHints>(0) : static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
    gtk_window_resize(GTK_WINDOW(outer_), std::max(1, width), std::max(1, height));
    gtk_window_move(GTK_WINDOW(outer_), control_.Left(), control_.Top());
    return;
  }
  if (GtkWidget* parent = ParentFixed(); parent && gtk_widget_get_parent(outer_) == parent)
    gtk_fixed_move(GTK_FIXED(parent), outer_, control_.Left(), control_.Top());
  gtk_widget_set_size_request(outer_, width, height);
  if (fixed_ && main_) gtk_widget_set_size_request(main_, width, height);  // a group box's frame
  if (main_ && GTK_IS_LABEL(main_)) gtk_widget_set_size_request(main_, width, height);
}

void TGtkBackend::SyncVisible() {
  if (!form_) {
    gtk_widget_set_visible(outer_, control_.Visible());
    return;
  }
  if (!control_.Visible()) {
    gtk_widget_hide(outer_);
    gdk_display_flush(gdk_display_get_default());
    return;
  }
  GtkWindow* window = GTK_WINDOW(outer_);
  if (form_->Modal()) {
    gtk_window_set_modal(window, TRUE);
    TCustomForm* owner = Screen ? Screen->ActiveCustomForm() : nullptr;
    TGtkBackend* ownerBackend = owner && owner != form_ ? Of(owner) : nullptr;
    gtk_window_set_transient_for(window, ownerBackend ? ownerBackend->Window() : nullptr);
  }
  gtk_window_set_type_hint(
      window, form_->BorderStyle() == bsDialog ? GDK_WINDOW_TYPE_HINT_DIALOG : GDK_WINDOW_TYPE_HINT_NORMAL);
  gtk_window_set_decorated(window, form_->BorderStyle() != bsNone);
  gtk_window_move(window, control_.Left(), control_.Top());
  gtk_widget_show(outer_);
  gtk_window_present(window);
}

void TGtkBackend::SyncText() {
  const String text = control_.Text();
  if (form_) {
    gtk_window_set_title(GTK_WINDOW(outer_), text.c_str());
  } else if (GTK_IS_BUTTON(main_)) {
    gtk_button_set_label(GTK_BUTTON(main_), Mnemonic(text).c_str());
    gtk_button_set_use_underline(GTK_BUTTON(main_), TRUE);
    // A caption longer than the button is cut, not the button widened.
    if (GtkWidget* caption = gtk_bin_get_child(GTK_BIN(main_)); caption && GTK_IS_LABEL(caption))
      gtk_label_set_ellipsize(GTK_LABEL(caption), PANGO_ELLIPSIZE_END);
  } else if (main_ && GTK_IS_TEXT_VIEW(main_)) {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(main_));
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* current = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    if (text != current) gtk_text_buffer_set_text(buffer, text.c_str(), static_cast<int>(text.size()));
    g_free(current);
  } else if (main_ && GTK_IS_ENTRY(main_)) {
    if (text != gtk_entry_get_text(GTK_ENTRY(main_))) gtk_entry_set_text(GTK_ENTRY(main_), text.c_str());
  } else if (main_ && GTK_IS_COMBO_BOX_TEXT(main_)) {
    auto* combo = static_cast<TComboBox*>(&control_);
    GtkComboBoxText* box = GTK_COMBO_BOX_TEXT(main_);
    gtk_combo_box_text_remove_all(box);
    for (int i = 0; i < combo->Items()->Count(); ++i)
      gtk_combo_box_text_append_text(box, combo->Items()->Strings(i).c_str());
    gtk_combo_box_set_active(GTK_COMBO_BOX(box), combo->ItemIndex());
    if (gtk_combo_box_get_has_entry(GTK_COMBO_BOX(box)))
      gtk_entry_set_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(box))), text.c_str());
  } else if (main_ && GTK_IS_FRAME(main_)) {
    gtk_frame_set_label(GTK_FRAME(main_), text.empty() ? nullptr : text.c_str());
  } else if (main_ && GTK_IS_LABEL(main_)) {
    auto* label = static_cast<TLabel*>(&control_);
    gtk_label_set_text_with_mnemonic(GTK_LABEL(main_), Mnemonic(text).c_str());
    gtk_label_set_line_wrap(GTK_LABEL(main_), label->WordWrap());
    gtk_label_set_ellipsize(GTK_LABEL(main_), label->WordWrap() ? PANGO_ELLIPSIZE_NONE : PANGO_ELLIPSIZE_END);
    gtk_label_set_line_wrap_mode(GTK_LABEL(main_), PANGO_WRAP_WORD_CHAR);
    PangoAttrList* attributes = pango_attr_list_new();
    if (control_.Font()->Style().Contains(fsUnderline))
      pango_attr_list_insert(attributes, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (control_.Font()->Style().Contains(fsStrikeOut))
      pango_attr_list_insert(attributes, pango_attr_strikethrough_new(TRUE));
    gtk_label_set_attributes(GTK_LABEL(main_), attributes);
    pango_attr_list_unref(attributes);
  }
}

void TGtkBackend::SyncStyle() {
  std::string rules;
  const std::string self = "#" + name_;
  const std::string font = FontCss(*control_.Font());
  if (form_ || (fixed_ && !main_)) {
    rules = self + " { " + font + " }";
  } else if (fixed_ && main_) {  // a group box: its frame and caption
    rules = "#" + name_ + "f, #" + name_ + "f label { " + font + " }";
  } else {
    rules = self + ", " + self + " * { " + font + " }";
    if (main_ && GTK_IS_TEXT_VIEW(main_))
      rules += self + " text { background-color: " + CssColor(control_.Color()) + "; }";
  }
  if (!css_) {
    css_ = gtk_css_provider_new();
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css_),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
  }
  gtk_css_provider_load_from_data(css_, rules.c_str(), -1, nullptr);
  if (main_ && GTK_IS_TEXT_VIEW(main_)) {
    auto* memo = static_cast<TMemo*>(&control_);
    gtk_text_view_set_editable(GTK_TEXT_VIEW(main_), !memo->ReadOnly());
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(main_), memo->WordWrap() ? GTK_WRAP_WORD_CHAR : GTK_WRAP_NONE);
  }
  if (main_ && GTK_IS_ENTRY(main_)) {
    auto* edit = static_cast<TCustomEdit*>(&control_);
    gtk_editable_set_editable(GTK_EDITABLE(main_), !edit->ReadOnly());
    gtk_entry_set_has_frame(GTK_ENTRY(main_), edit->BorderStyle() != bsNone);
    if (edit->MaxLength() > 0) gtk_entry_set_max_length(GTK_ENTRY(main_), edit->MaxLength());
  }
  if (auto* button = dynamic_cast<TButton*>(&control_)) gtk_widget_set_can_default(main_, button->Default());
  gtk_widget_queue_draw(outer_);
}

void TGtkBackend::SyncState() {
  if (auto* check = dynamic_cast<TCheckBox*>(&control_)) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(main_), check->State() == cbChecked);
    gtk_toggle_button_set_inconsistent(GTK_TOGGLE_BUTTON(main_), check->State() == cbGrayed);
  }
  if (auto* image = dynamic_cast<TImage*>(&control_)) {
    picture_ = SurfaceOf(image->Picture()->Graphic());
    gtk_widget_queue_draw(outer_);
  }
}

void TGtkBackend::SyncFocusChain() {
  auto* win = dynamic_cast<TWinControl*>(&control_);
  if (!win || !fixed_) return;
  std::vector<TWinControl*> order;
  win->GetTabOrderList(order);
  GList* chain = nullptr;
  for (TWinControl* c : order) {
    TGtkBackend* child = Of(c);
    if (child && child->outer_ && c->Parent() == win) chain = g_list_append(chain, child->outer_);
  }
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_container_set_focus_chain(GTK_CONTAINER(fixed_), chain);
  G_GNUC_END_IGNORE_DEPRECATIONS
  g_list_free(chain);
}

void TGtkBackend::Changed(TControlChange what) {
  if (!outer_) {
    const bool formShown = what == ccVisible && control_.Visible() && dynamic_cast<TCustomForm*>(&control_);
    if (formShown || what == ccParent) Create();
    return;
  }
  ++echo_;
  switch (what) {
    case ccBounds: SyncBounds(); break;
    case ccVisible:
      --echo_;
      SyncVisible();
      ++echo_;
      break;
    case ccEnabled: gtk_widget_set_sensitive(outer_, control_.Enabled()); break;
    case ccText: SyncText(); break;
    case ccFont:
    case ccColor:
      SyncStyle();
      SyncText();
      break;
    case ccParent:
      Place();
      SyncBounds();
      SyncVisible();
      break;
    case ccPicture:
    case ccState:
      SyncState();
      SyncText();
      break;
  }
  --echo_;
}

void TGtkBackend::SetFocus() {
  if (!outer_) return;
  if (form_) {
    if (gtk_widget_get_visible(outer_)) gtk_window_present(GTK_WINDOW(outer_));
    return;
  }
  GtkWidget* focus = FocusWidget();
  if (gtk_widget_get_can_focus(focus) && !gtk_widget_has_focus(focus)) {
    ++echo_;
    gtk_widget_grab_focus(focus);
    --echo_;
  }
}

// ---------------------------------------------------------------- signals

gboolean TGtkBackend::OnDraw(GtkWidget* widget, cairo_t* cr, gpointer self) {
  auto* backend = static_cast<TGtkBackend*>(self);
  SetSourceColor(cr, backend->control_.Color());
  cairo_rectangle(cr, 0, 0, gtk_widget_get_allocated_width(widget), gtk_widget_get_allocated_height(widget));
  cairo_fill(cr);
  return FALSE;
}

gboolean TGtkBackend::OnDrawImage(GtkWidget* widget, cairo_t* cr, gpointer self) {
  auto* backend = static_cast<TGtkBackend*>(self);
  auto* image = dynamic_cast<TImage*>(&backend->control_);
  PaintSurface(cr, backend->picture_.get(), gtk_widget_get_allocated_width(widget),
               gtk_widget_get_allocated_height(widget), image && image->Center(), image && image->Stretch());
  return FALSE;
}

gboolean TGtkBackend::OnDrawIcon(GtkWidget* widget, cairo_t* cr, gpointer self) {
  auto* backend = static_cast<TGtkBackend*>(self);
  PaintSurface(cr, backend->icon_.get(), gtk_widget_get_allocated_width(widget),
               gtk_widget_get_allocated_height(widget), true, false);
  return FALSE;
}

void TGtkBackend::OnClicked(GtkWidget*, gpointer self) {
  auto* backend = static_cast<TGtkBackend*>(self);
  if (backend->echo_) return;
  TControl& control = backend->control_;
  Guarded(&control, [&] { control.Click(); });
}

void TGtkBackend::OnToggled(GtkToggleButton* widget, gpointer self) {
  auto* backend = static_cast<TGtkBackend*>(self);
  if (backend->echo_) return;
  auto& check = static_cast<TCheckBox&>(backend->control_);
  const bool active = gtk_toggle_button_get_active(widget);
  Guarded(&check, [&] { check.SetChecked(active); });
}

void TGtkBackend::OnEntryChanged(GtkEditable* widget, gpointer self) {
  auto* backend = static_cast<TGtkBackend*>(self);
  if (backend->echo_) return;
  const String text = gtk_entry_get_text(GTK_ENTRY(widget));
  TControl& control = backend->control_;
  ++backend->echo_;
  Guarded(&control, [&] { control.SetText(text); });
  --backend->echo_;
}

void TGtkBackend::OnBufferChanged(GtkTextBuffer* buffer, gpointer self) {
  auto* backend = static_cast<TGtkBackend*>(self);
  if (backend->echo_) return;
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  gchar* raw = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
  const String text = raw;
  g_free(raw);
  TControl& control = backend->control_;
  ++backend->echo_;
  Guarded(&control, [&] { control.SetText(text); });
  --backend->echo_;
}

void TGtkBackend::OnComboChanged(GtkComboBox* widget, gpointer self) {
  auto* backend = static_cast<TGtkBackend*>(self);
  if (backend->echo_) return;
  auto& combo = static_cast<TComboBox&>(backend->control_);
  const int index = gtk_combo_box_get_active(widget);
  String text;
  if (gtk_combo_box_get_has_entry(widget)) {
    text = gtk_entry_get_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(widget))));
  } else if (gchar* active = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(widget))) {
    text = active;
    g_free(active);
  }
  ++backend->echo_;
  Guarded(&combo, [&] {
    if (index >= 0)
      combo.SetItemIndex(index);
    else
      combo.SetText(text);
  });
  --backend->echo_;
}

gboolean TGtkBackend::OnButtonRelease(GtkWidget*, GdkEventButton* event, gpointer self) {
  auto* backend = static_cast<TGtkBackend*>(self);
  if (event->button != 1) return FALSE;
  TControl& control = backend->control_;
  Guarded(&control, [&] { control.Click(); });
  return TRUE;
}

gboolean TGtkBackend::OnEnter(GtkWidget*, GdkEventCrossing* event, gpointer self) {
  auto* backend = static_cast<TGtkBackend*>(self);
  TControl& control = backend->control_;
  if (control.Cursor() == crHandPoint) {
    GdkCursor* cursor = gdk_cursor_new_from_name(gdk_window_get_display(event->window), "pointer");
    gdk_window_set_cursor(event->window, cursor);
    if (cursor) g_object_unref(cursor);
  }
  const TPoint at{static_cast<int>(event->x_root), static_cast<int>(event->y_root)};
  Guarded(&control, [&] {
    if (Application) Application->MouseMoved(&control, at);
  });
  return FALSE;
}

gboolean TGtkBackend::OnLeave(GtkWidget*, GdkEventCrossing* event, gpointer self) {
  auto* backend = static_cast<TGtkBackend*>(self);
  if (event->detail == GDK_NOTIFY_INFERIOR) return FALSE;
  if (backend->control_.Cursor() == crHandPoint) gdk_window_set_cursor(event->window, nullptr);
  const TPoint at{static_cast<int>(event->x_root), static_cast<int>(event->y_root)};
  Guarded(&backend->control_, [&] {
    if (Application) Application->MouseMoved(nullptr, at);
  });
  return FALSE;
}

gboolean TGtkBackend::OnFocusIn(GtkWidget*, GdkEventFocus*, gpointer self) {
  auto* backend = static_cast<TGtkBackend*>(self);
  if (backend->echo_) return FALSE;
  auto& control = static_cast<TWinControl&>(backend->control_);
  if (Screen && Screen->ActiveControl() == &control) return FALSE;
  ++backend->echo_;
  Guarded(&control, [&] {
    if (control.CanFocus()) control.SetFocus();
  });
  --backend->echo_;
  return FALSE;
}

gboolean TGtkBackend::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
  auto* backend = static_cast<TGtkBackend*>(self);
  WPARAM key = 0;
  switch (event->keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter: key = VK_RETURN; break;
    case GDK_KEY_Escape: key = VK_ESCAPE; break;
    default: return FALSE;
  }
  TCustomForm& form = *backend->form_;
  TWinControl* focused = Screen ? Screen->ActiveControl() : nullptr;
  TWinControl* target = focused && GetParentForm(focused) == &form ? focused : &form;
  // An editable memo takes Enter as a line break, as it would on Windows.
  if (auto* memo = dynamic_cast<TMemo*>(target); memo && key == VK_RETURN && !memo->ReadOnly()) return FALSE;
  Guarded(target, [&] { target->Perform(WM_KEYDOWN, key); });
  return TRUE;
}

gboolean TGtkBackend::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
  auto* backend = static_cast<TGtkBackend*>(self);
  TCustomForm& form = *backend->form_;
  // The window goes when the form says so: Close asks OnCloseQuery, ends a
  // modal loop with mrCancel and hides (or frees) the form.
  Guarded(&form, [&] { form.Close(); });
  return TRUE;
}

}  // namespace

namespace gtk {

std::unique_ptr<TWidgetSet> NewGtk3WidgetSet() { return std::make_unique<TGtkWidgetSet>(); }

}  // namespace gtk

}  // namespace ztl
