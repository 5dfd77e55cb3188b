# The image tests read files kept beside them.
target_compile_definitions(${name} PRIVATE ZTL_FORMS_TEST_DATA="${CMAKE_CURRENT_LIST_DIR}/data")
# The widget set choice tests start a program of their own.
add_dependencies(${name} widgetset_name_helper)
# The choice without the desktop module runs the helper on copies of the
# libraries, in a folder where the module is not.
target_compile_definitions(${name} PRIVATE
  ZTL_PLATFORM_LIBRARY="$<TARGET_SONAME_FILE:ztl_platform>" ZTL_LOGGER_LIBRARY="$<TARGET_SONAME_FILE:ztlogger>")
add_dependencies(${name} headless_box_helper)
# Whether the GTK module was built, for the tests that need it to load
# (tests/support/GtkModule.h).
if(TARGET ztl_gtk)
  target_compile_definitions(${name} PRIVATE ZTL_TEST_WITH_GTK=1)
endif()
