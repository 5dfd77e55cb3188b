# The harness the tests and the benchmarks share: child processes, a virtual
# X server, scoped environment variables. It holds no GoogleTest, so that the
# benchmarks link it too.
set(ZTL_TEST_HARNESS_SOURCES
  ${PROJECT_SOURCE_DIR}/tests/support/RunCommand.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/Xvfb.cpp)
if(NOT TARGET ztl_test_harness)
  find_package(X11 REQUIRED)
  add_library(ztl_test_harness STATIC ${ZTL_TEST_HARNESS_SOURCES})
  target_link_libraries(ztl_test_harness PRIVATE X11::X11)
  target_include_directories(ztl_test_harness PUBLIC ${PROJECT_SOURCE_DIR})
endif()
