#pragma once
// One control's GTK widgets: the backend the GTK widget set gives every
// control. It makes the widgets, keeps them in step with the control's
// bounds, text, style and state, and turns GTK's signals into the control's
// clicks, edits, keys and closes. Relies on GtkPaint.h for drawing and on the
// widget set for the names of its CSS rules. Internal to the desktop module:
// it includes GTK.
//
// Main thread only.
#include <string>

#include <ztlogger/platform/gtk/GtkPaint.h>

namespace ztl::gtk {

// The names of the controls' CSS rules, unique within a widget set.
class TGtkNames {
 public:
  std::string Next() { return "ztl" + std::to_string(++count_); }

 private:
  unsigned count_ = 0;
};

// One control's GTK widgets. They are made once the control's class is
// final and it has somewhere to go: a form when it is first shown, any other
// control once its parent's widgets exist (and then the parent makes them
// for the children it already has).
class TGtkBackend final : public TWidgetBackend {
 public:
  TGtkBackend(TGtkNames& names, TControl& control) : names_(names), control_(control) {}
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

  TGtkNames& names_;
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

}  // namespace ztl::gtk
