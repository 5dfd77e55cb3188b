# The report and collector tests start their helpers, built beside the test
# program; the report tests read the XML reports with expat.
add_dependencies(${name} exceptionlog_report_helper exceptionlog_details_helper)
find_package(EXPAT REQUIRED)
target_link_libraries(${name} PRIVATE EXPAT::EXPAT)
# The fault tests find their own source lines in the map beside the program.
ztl_add_map_file(${name})
# The last-chance tests crash their helper.
add_dependencies(${name} lastchance_helper)
