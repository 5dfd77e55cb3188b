# The message-file lookup reads message modules built from the platform
# tests' message texts.
if(ZTL_MESSAGE_FILES_FOUND)
  add_dependencies(${name} test_messages_first test_messages_second)
  target_compile_definitions(${name} PRIVATE
    ZTL_TEST_MESSAGES_FIRST="$<TARGET_PROPERTY:test_messages_first,ZTL_MESSAGE_FILE>"
    ZTL_TEST_MESSAGES_SECOND="$<TARGET_PROPERTY:test_messages_second,ZTL_MESSAGE_FILE>")
endif()
