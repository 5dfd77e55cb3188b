# The log tests read the XML logs back with a real parser.
find_package(EXPAT REQUIRED)
target_link_libraries(${name} PRIVATE EXPAT::EXPAT)
