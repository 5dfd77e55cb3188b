# Settings of the project's own build (included only when ZTLogger is the
# top-level project): a consumer's build is never changed by them.

# A single-configuration build without a type gets the optimised build with
# debug information that the tests and the map files expect.
get_property(ztl_multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
if(NOT ztl_multi_config AND NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

# Warnings are errors in the project's own builds; a packager who must build
# with another compiler can still turn this off with
# -DCMAKE_COMPILE_WARNING_AS_ERROR=OFF or --compile-no-warning-as-error.
if(NOT DEFINED CMAKE_COMPILE_WARNING_AS_ERROR)
  set(CMAKE_COMPILE_WARNING_AS_ERROR ON)
endif()

# Rebuilds of the same sources (other build trees, other branches) come from
# the compiler cache when ccache is installed.
option(ZTL_USE_CCACHE "Compile through ccache when it is installed" ON)
if(ZTL_USE_CCACHE)
  find_program(ZTL_CCACHE_PROGRAM ccache)
  if(ZTL_CCACHE_PROGRAM)
    # The test programs' precompiled headers can only be cached with these.
    foreach(lang C CXX)
      if(NOT CMAKE_${lang}_COMPILER_LAUNCHER)
        set(CMAKE_${lang}_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env
          CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime ${ZTL_CCACHE_PROGRAM})
      endif()
    endforeach()
  endif()
endif()

# Linking the test programs with their debug information is a good part of a
# build: mold, else lld, when installed and the compiler accepts it.
set(ZTL_LINKER "auto" CACHE STRING "Linker to use: auto (mold, else lld, else the default), default, mold or lld")
if(ZTL_LINKER STREQUAL "auto")
  set(ztl_linkers mold lld)
elseif(ZTL_LINKER STREQUAL "default")
  set(ztl_linkers)
else()
  set(ztl_linkers ${ZTL_LINKER})
endif()
include(CheckLinkerFlag)
foreach(linker IN LISTS ztl_linkers)
  string(MAKE_C_IDENTIFIER "ZTL_LINKER_${linker}" ztl_check)
  check_linker_flag(CXX -fuse-ld=${linker} ${ztl_check})
  if(${ztl_check})
    add_link_options(-fuse-ld=${linker})
    break()
  elseif(NOT ZTL_LINKER STREQUAL "auto")
    message(FATAL_ERROR "The compiler cannot link with ${linker}")
  endif()
endforeach()
