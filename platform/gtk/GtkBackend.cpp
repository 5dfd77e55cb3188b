#include <ztlogger/platform/gtk/GtkBackend.h>

#include <algorithm>
#include <string>

#include <ztlogger/platform/forms/Dialogs.h>
#include <ztlogger/platform/forms/ExtCtrls.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl::gtk {

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
  name_ = names_.Next();
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

}  // namespace ztl::gtk
