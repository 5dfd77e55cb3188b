#include <ztlogger/platform/gtk/Gtk3WidgetSet.h>

// GtkBackend.h brings the services' headers before GLib's TRUE and FALSE.
#include <ztlogger/platform/gtk/GtkBackend.h>

#include <unistd.h>

#include <memory>
#include <string>

#include <ztlogger/platform/forms/Dialogs.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl::gtk {

namespace {

class TGtkWidgetSet final : public TWidgetSet, public TGtkInspection {
 public:
  TGtkWidgetSet();
  ~TGtkWidgetSet() override;
  TGtkWidgetSet(const TGtkWidgetSet&) = delete;
  TGtkWidgetSet& operator=(const TGtkWidgetSet&) = delete;

  String Name() const override { return "gtk3"; }
  std::unique_ptr<TWidgetBackend> CreateBackend(TControl& control) override {
    return std::make_unique<TGtkBackend>(names_, control);
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
  TGtkNames names_;
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

}  // namespace

std::unique_ptr<TWidgetSet> NewGtk3WidgetSet() { return std::make_unique<TGtkWidgetSet>(); }

}  // namespace ztl::gtk
