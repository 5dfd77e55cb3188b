# The user of the desktop tests clicks and types through the XTest extension.
find_package(X11 REQUIRED)
if(NOT X11_XTest_FOUND)
  message(FATAL_ERROR "The desktop tests need XTest (libxtst-dev)")
endif()
target_link_libraries(${name} PRIVATE X11::X11 X11::Xtst)
# Screenshots the tests take are kept here (or in $ZTL_ARTIFACT_DIR).
target_compile_definitions(${name} PRIVATE ZTL_TEST_ARTIFACTS="${CMAKE_CURRENT_BINARY_DIR}/desktop-artifacts")
# Whether the GTK module was built, for the tests that need it to load
# (tests/support/GtkModule.h).
if(TARGET ztl_gtk)
  target_compile_definitions(${name} PRIVATE ZTL_TEST_WITH_GTK=1)
endif()
# A loop test runs GLib's own loop, as a native dialog would.
if(TARGET ztl_gtk)
  pkg_check_modules(ZTL_TEST_GLIB REQUIRED IMPORTED_TARGET glib-2.0)
  target_link_libraries(${name} PRIVATE PkgConfig::ZTL_TEST_GLIB)
endif()
