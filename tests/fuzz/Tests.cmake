# With Clang, the fuzz target is also built for libFuzzer and run briefly;
# with GCC, ZTMapFileFuzz_test drives it with mutated maps.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_executable(fuzz_ZTMapFile ${dir}/ZTMapFile_fuzz.cpp)
  target_compile_options(fuzz_ZTMapFile PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_ZTMapFile PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_ZTMapFile PRIVATE ztlogger)
  add_test(NAME fuzz_ZTMapFile COMMAND fuzz_ZTMapFile -max_total_time=20 -max_len=65536)
endif()
