# The report and collector tests start their helpers, built beside the test
# program; the report tests read the XML reports with expat.
add_dependencies(${name} exceptionlog_report_helper exceptionlog_details_helper)
find_package(EXPAT REQUIRED)
target_link_libraries(${name} PRIVATE EXPAT::EXPAT)
# The fault tests find their own source lines in the map beside the program.
ztl_add_map_file(${name})
# The source-line programs: one source built with the code generation of a
# Debug, a RelWithDebInfo and a Release build (the last with no debugging
# options but what ztl_add_map_file adds), each with its map. The options
# come after the build tree's own, so they win.
set(ztl_source_line_debug -O0 -g -UNDEBUG)
set(ztl_source_line_relwithdebinfo -O2 -g -DNDEBUG)
set(ztl_source_line_release -O3 -DNDEBUG -g0)
foreach(build IN ITEMS debug relwithdebinfo release)
  set(program exceptionlog_sourceline_${build})
  add_executable(${program} ${dir}/sourceline/SourceLines.cpp)
  target_link_libraries(${program} PRIVATE ztlogger)
  target_compile_options(${program} PRIVATE ${ztl_source_line_${build}})
  ztl_add_map_file(${program})
  add_dependencies(${name} ${program})
  string(TOUPPER ${build} upper)
  target_compile_definitions(${name} PRIVATE ZTL_SOURCE_LINES_${upper}="$<TARGET_FILE:${program}>")
endforeach()
# A report's module offset is pasted into ztl-mapinfo.
add_dependencies(${name} ztl-mapinfo)
target_compile_definitions(${name} PRIVATE ZTL_MAPINFO_PATH="$<TARGET_FILE:ztl-mapinfo>")
# The last-chance tests crash their helper.
add_dependencies(${name} lastchance_helper)
