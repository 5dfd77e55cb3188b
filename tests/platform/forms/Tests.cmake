# The image tests read files kept beside them.
target_compile_definitions(${name} PRIVATE ZTL_FORMS_TEST_DATA="${CMAKE_CURRENT_LIST_DIR}/data")
