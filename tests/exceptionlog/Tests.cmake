# The report tests start the report helper, built beside the test program.
add_dependencies(${name} exceptionlog_report_helper)
