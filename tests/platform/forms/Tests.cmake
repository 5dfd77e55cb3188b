# The image tests read files kept beside them.
target_compile_definitions(${name} PRIVATE ZTL_FORMS_TEST_DATA="${CMAKE_CURRENT_LIST_DIR}/data")
# The widget set choice tests start a program of their own.
add_dependencies(${name} widgetset_name_helper)
