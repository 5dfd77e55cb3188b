#pragma once
// The desktop module's entry (libztl_gtk): what the forms layer finds in it
// by name after loading it (forms/GtkWidgetSet.cpp).
//
// Loading the module registers the X11 display's screen copy and bell with
// the services, whether it is loaded at run time or linked by a program;
// loading it again changes nothing.
#include <ztlogger/platform/forms/WidgetSet.h>
#include <ztlogger/platform/rtl/Export.h>

// A new GTK widget set, owned by the caller; raises EInvalidOperation when
// the display cannot be opened.
extern "C" ZTL_DLL_EXPORT ztl::TWidgetSet* ZTL_GtkCreateWidgetSet();
