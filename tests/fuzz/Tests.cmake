# With Clang, the fuzz target is also built for libFuzzer and run briefly
# (not in a ThreadSanitizer build, which runs the threaded tests only); with
# GCC, ZTMapFileFuzz_test drives it with mutated maps.
set(ztl_libfuzzer OFF)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND NOT ZTL_SANITIZE STREQUAL "thread")
  set(ztl_libfuzzer ON)
endif()
if(ztl_libfuzzer)
  add_executable(fuzz_ZTMapFile ${dir}/ZTMapFile_fuzz.cpp)
  target_compile_options(fuzz_ZTMapFile PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_ZTMapFile PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_ZTMapFile PRIVATE ztlogger)
  add_test(NAME fuzz_ZTMapFile COMMAND fuzz_ZTMapFile -max_total_time=20 -max_len=65536)
endif()

# The stored-form reader's target reads into the classes test model.
set(ztl_form_model ${PROJECT_SOURCE_DIR}/tests/platform/classes/Model.cpp)
target_sources(${name} PRIVATE ${ztl_form_model})
if(ztl_libfuzzer)
  add_executable(fuzz_Filer ${dir}/Filer_fuzz.cpp ${ztl_form_model})
  target_compile_definitions(fuzz_Filer PRIVATE ZTL_FUZZ_ENTRY)
  target_compile_options(fuzz_Filer PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_Filer PRIVATE -fsanitize=fuzzer)
  target_include_directories(fuzz_Filer PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(fuzz_Filer PRIVATE ztlogger)
  add_test(NAME fuzz_Filer COMMAND fuzz_Filer -max_total_time=20 -max_len=65536)
endif()

# The Unicode conversions' target needs nothing but the platform.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_executable(fuzz_Unicode ${dir}/Unicode_fuzz.cpp)
  target_compile_definitions(fuzz_Unicode PRIVATE ZTL_FUZZ_ENTRY)
  target_compile_options(fuzz_Unicode PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_Unicode PRIVATE -fsanitize=fuzzer)
  target_include_directories(fuzz_Unicode PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(fuzz_Unicode PRIVATE ztlogger)
  add_test(NAME fuzz_Unicode COMMAND fuzz_Unicode -max_total_time=20 -max_len=65536)
endif()

# The message-table reader's target is driven with mutated message modules
# that the platform tests build.
if(ZTL_MESSAGE_FILES_FOUND)
  add_dependencies(${name} test_messages_second)
  target_compile_definitions(${name} PRIVATE
    ZTL_TEST_MESSAGES_SECOND="$<TARGET_PROPERTY:test_messages_second,ZTL_MESSAGE_FILE>")
  if(ZTL_MINGW_i686_windmc AND ZTL_MINGW_i686_windres AND ZTL_MINGW_i686_ld)
    add_dependencies(${name} test_messages_second32)
    target_compile_definitions(${name} PRIVATE
      ZTL_TEST_MESSAGES_SECOND32="$<TARGET_PROPERTY:test_messages_second32,ZTL_MESSAGE_FILE>")
  endif()
endif()
if(ztl_libfuzzer)
  add_executable(fuzz_MessageFiles ${dir}/MessageFiles_fuzz.cpp)
  target_compile_definitions(fuzz_MessageFiles PRIVATE ZTL_FUZZ_ENTRY)
  target_include_directories(fuzz_MessageFiles PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(fuzz_MessageFiles PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_MessageFiles PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_MessageFiles PRIVATE ztl_platform)
  add_test(NAME fuzz_MessageFiles COMMAND fuzz_MessageFiles -max_total_time=20 -max_len=65536)
endif()
