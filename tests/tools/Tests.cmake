# The map-file tests read the maps of their own executable and of the
# component library, and run ztl-mapinfo.
ztl_add_map_file(${name})
target_compile_options(${name} PRIVATE -g)
add_custom_command(OUTPUT ${ZTL_BUILD_LIBRARY_DIR}/libztlogger.map
  COMMAND $<TARGET_FILE:ztl-mkmap> $<TARGET_FILE:ztlogger> ${ZTL_BUILD_LIBRARY_DIR}/libztlogger.map
  DEPENDS ztlogger ztl-mkmap
  COMMENT "Writing the map file of the component library"
  VERBATIM)
add_custom_target(${name}_library_map DEPENDS ${ZTL_BUILD_LIBRARY_DIR}/libztlogger.map)
add_dependencies(${name} ${name}_library_map ztl-mapinfo)
target_compile_definitions(${name} PRIVATE
  ZTL_MAPINFO_PATH="$<TARGET_FILE:ztl-mapinfo>"
  ZTL_MKMAP_PATH="$<TARGET_FILE:ztl-mkmap>"
  ZTL_LIBRARY_MAP_PATH="${ZTL_BUILD_LIBRARY_DIR}/libztlogger.map"
  ZTL_LIBRARY_FILE_NAME="$<TARGET_SONAME_FILE_NAME:ztlogger>")
# The registry tool's tests run ztl-reg.
add_dependencies(${name} ztl-reg)
target_compile_definitions(${name} PRIVATE ZTL_REG_PATH="$<TARGET_FILE:ztl-reg>")
# The end-to-end test's own unit is named relative to the source tree in its
# debugging information (as a compiler cache's base folder makes it): its
# lines must be found all the same.
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/tools/MapFileEndToEnd_test.cpp PROPERTIES
  COMPILE_OPTIONS "-fdebug-prefix-map=${PROJECT_SOURCE_DIR}/=")
# The event log tool's tests run ztl-evt, with the platform tests' message
# modules registered for a source.
add_dependencies(${name} ztl-evt)
target_compile_definitions(${name} PRIVATE ZTL_EVT_PATH="$<TARGET_FILE:ztl-evt>")
if(ZTL_MESSAGE_FILES_FOUND)
  add_dependencies(${name} test_messages_first test_messages_second)
  target_compile_definitions(${name} PRIVATE
    ZTL_TEST_MESSAGES_FIRST="$<TARGET_PROPERTY:test_messages_first,ZTL_MESSAGE_FILE>"
    ZTL_TEST_MESSAGES_SECOND="$<TARGET_PROPERTY:test_messages_second,ZTL_MESSAGE_FILE>")
endif()
# The palette tool's tests run ztl-palette on the component library.
add_dependencies(${name} ztl-palette)
target_compile_definitions(${name} PRIVATE
  ZTL_PALETTE_PATH="$<TARGET_FILE:ztl-palette>"
  ZTL_COMPONENT_LIBRARY="$<TARGET_FILE:ztlogger>"
  ZTL_PLATFORM_LIBRARY="$<TARGET_FILE:ztl_platform>")
# The .reg reader and writer are tested as a unit as well.
target_link_libraries(${name} PRIVATE ztl_reg_files)
