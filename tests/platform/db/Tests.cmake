# The database tests read what the datasets wrote with SQLite itself.
find_package(SQLite3 REQUIRED)
target_link_libraries(${name} PRIVATE SQLite::SQLite3)
