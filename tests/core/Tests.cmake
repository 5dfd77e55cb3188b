# The log tests read the XML logs back with a real parser.
find_package(EXPAT REQUIRED)
target_link_libraries(${name} PRIVATE EXPAT::EXPAT)
# The screenshot tests draw on a virtual X server's root window.
find_package(X11 REQUIRED)
target_link_libraries(${name} PRIVATE X11::X11)
# Whether the GTK module was built, for the screenshot of a display
# (tests/support/GtkModule.h).
if(TARGET ztl_gtk)
  target_compile_definitions(${name} PRIVATE ZTL_TEST_WITH_GTK=1)
endif()
