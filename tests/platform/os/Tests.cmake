# The screen copy tests draw on a virtual X server's root window.
find_package(X11 REQUIRED)
target_link_libraries(${name} PRIVATE X11::X11)
# Message files built from the tests' own message texts: a PE32+ and a PE32
# module of one text, and a first file without its ids.
if(ZTL_MESSAGE_FILES_FOUND)
  ztl_add_message_file(test_messages_first ${CMAKE_CURRENT_LIST_DIR}/messages/First.mc)
  ztl_add_message_file(test_messages_second ${CMAKE_CURRENT_LIST_DIR}/messages/Second.mc)
  add_dependencies(${name} test_messages_first test_messages_second)
  target_compile_definitions(${name} PRIVATE
    ZTL_TEST_MESSAGES_FIRST="$<TARGET_PROPERTY:test_messages_first,ZTL_MESSAGE_FILE>"
    ZTL_TEST_MESSAGES_SECOND="$<TARGET_PROPERTY:test_messages_second,ZTL_MESSAGE_FILE>")
  if(ZTL_MINGW_i686_windmc AND ZTL_MINGW_i686_windres AND ZTL_MINGW_i686_ld)
    ztl_add_message_file(test_messages_second32 ${CMAKE_CURRENT_LIST_DIR}/messages/Second.mc PE32)
    add_dependencies(${name} test_messages_second32)
    target_compile_definitions(${name} PRIVATE
      ZTL_TEST_MESSAGES_SECOND32="$<TARGET_PROPERTY:test_messages_second32,ZTL_MESSAGE_FILE>")
  endif()
endif()
# The event log's reliability test runs writers and readers as processes.
add_dependencies(${name} evtlog_helper)
# The code module tests load the platform library itself by its path.
target_compile_definitions(${name} PRIVATE ZTL_PLATFORM_LIBRARY="$<TARGET_FILE:ztl_platform>")
# The event log tests change a log's database behind its back.
find_package(SQLite3 REQUIRED)
target_link_libraries(${name} PRIVATE SQLite::SQLite3)
# Whether the GTK module was built, for the tests that need it to load
# (tests/support/GtkModule.h).
if(TARGET ztl_gtk)
  target_compile_definitions(${name} PRIVATE ZTL_TEST_WITH_GTK=1)
endif()
# The shared-prefix tests run ztl-reg, as a second user among others.
add_dependencies(${name} ztl-reg)
target_compile_definitions(${name} PRIVATE ZTL_REG_PATH="$<TARGET_FILE:ztl-reg>")
