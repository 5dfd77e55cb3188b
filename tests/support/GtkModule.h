#pragma once
// The GTK module in tests that need what it brings (the X11 display's screen
// copy and bell, the GTK widget set). In a build without it they are
// skipped; in a build with it, a module that does not load fails them.
#include <gtest/gtest.h>

#include <ztlogger/platform/forms/GtkWidgetSet.h>

#if ZTL_TEST_WITH_GTK
// The test goes on; the library loads the module when it needs it.
#define ZTL_TEST_SKIP_WITHOUT_GTK_MODULE() static_cast<void>(0)
// Loads the module now.
#define ZTL_TEST_LOAD_GTK_MODULE()                   \
  do {                                               \
    ::ztl::String why;                               \
    ASSERT_TRUE(::ztl::LoadGtkModule(&why)) << why;  \
  } while (0)
#else
#define ZTL_TEST_SKIP_WITHOUT_GTK_MODULE() GTEST_SKIP() << "built without the GTK module"
#define ZTL_TEST_LOAD_GTK_MODULE() GTEST_SKIP() << "built without the GTK module"
#endif
