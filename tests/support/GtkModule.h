#pragma once
// The GTK module in a test that needs what it registers (the X11 display's
// screen copy and bell, the GTK widget set): loaded when the build made it,
// and then a module that does not load fails the test; in a build without
// it the test is skipped.
#include <gtest/gtest.h>

#include <ztlogger/platform/forms/GtkWidgetSet.h>

#if ZTL_TEST_WITH_GTK
#define ZTL_TEST_LOAD_GTK_MODULE()                   \
  do {                                               \
    ::ztl::String why;                               \
    ASSERT_TRUE(::ztl::LoadGtkModule(&why)) << why;  \
  } while (0)
#else
#define ZTL_TEST_LOAD_GTK_MODULE() GTEST_SKIP() << "built without the GTK module"
#endif
