# Installation: the libraries and the GTK widget set's module, their public headers (reached as
# <ztlogger/core/LogBase.h>, <ztlogger/platform/rtl/SysUtils.h> and the
# umbrellas <ztlogger/ztlogger.h> and <ztlogger/platform.h>), the tools, the
# CMake helpers, a CMake package (find_package(ZTLogger)) and a pkg-config
# file (ztlogger.pc). The install components are the Debian packages
# (cmake/ZTLPackage.cmake): "runtime" (the shared libraries), "development"
# (headers, link names, package files), "tools", "gtk" (the GTK module) and
# "testing" (the test
# entry points' headers, left out of a plain install).
include(CMakePackageConfigHelpers)

set(ZTL_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZTLogger)

install(TARGETS ztl_platform ztlogger EXPORT ZTLoggerTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
# The collector's HTTP module goes beside libztlogger, which loads it from
# its own folder; nothing links it, so it has no link name.
install(TARGETS ztl_http LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_SKIP)
set(ztl_install_tools)
foreach(tool ztl-mkmap ztl-mapinfo ztl-reg ztl-evt ztl-palette)
  if(TARGET ${tool})
    list(APPEND ztl_install_tools ${tool})
  endif()
endforeach()
if(ztl_install_tools)
  install(TARGETS ${ztl_install_tools} EXPORT ZTLoggerTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()
# The GTK widget set's module goes beside libztl_platform, which loads it
# from its own folder; a package of its own may carry it (component "gtk"),
# with its CMake target (ZTLogger::gtk), which the package's configuration
# takes when it is there.
if(TARGET ztl_gtk)
  install(TARGETS ztl_gtk EXPORT ZTLoggerGtkTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT gtk)
  install(EXPORT ZTLoggerGtkTargets NAMESPACE ZTLogger::
    DESTINATION ${ZTL_CMAKE_INSTALL_DIR} COMPONENT gtk)
endif()

# The installed libraries find each other in their own folder, the tools
# find them at the same path from theirs; libztl_platform links none of the
# project's libraries and needs no path. Built with these paths already,
# where the build tree lays its files out as the install does: nothing is
# rewritten at install, so CMake does not pad the build tree's paths to the
# install's length with empty entries, which the dynamic loader takes for
# the working folder (searched at every start for every library, and a
# library planted there loaded).
set(ztl_installed_libraries ztlogger ztl_http)
if(TARGET ztl_gtk)
  list(APPEND ztl_installed_libraries ztl_gtk)
endif()
set_target_properties(ztl_platform PROPERTIES INSTALL_RPATH "")
set_target_properties(${ztl_installed_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
if(ztl_install_tools)
  set_target_properties(${ztl_install_tools} PROPERTIES INSTALL_RPATH "$ORIGIN/${ztl_bin_to_lib}")
endif()
if(ZTL_BUILD_LAYOUT_AS_INSTALLED)
  set_target_properties(ztl_platform ${ztl_installed_libraries} ${ztl_install_tools}
    PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
endif()

# Every public header of the library folders, wherever it is moved within
# them. The platform's internal headers are not installed, nor the desktop
# module's (platform/gtk), which has no public header; the test entry
# points (Testing.h) only with the "testing" component, which a plain install
# leaves out (cmake --install build --component testing adds them).
foreach(dir platform ${ZTL_SUBSYSTEMS})
  if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/${dir})
    set(excluded PATTERN gtk EXCLUDE)
    foreach(header Testing.h ${ZTL_INTERNAL_HEADERS})
      list(APPEND excluded PATTERN ${header} EXCLUDE)
    endforeach()
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}
      DESTINATION ${ZTL_INCLUDE_INSTALL_DIR}/ztlogger COMPONENT development
      FILES_MATCHING PATTERN "*.h" ${excluded})
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}
      DESTINATION ${ZTL_INCLUDE_INSTALL_DIR}/ztlogger COMPONENT testing EXCLUDE_FROM_ALL
      FILES_MATCHING PATTERN "Testing.h")
  endif()
endforeach()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ztlogger
  DESTINATION ${ZTL_INCLUDE_INSTALL_DIR} COMPONENT development)

install(EXPORT ZTLoggerTargets NAMESPACE ZTLogger::
  DESTINATION ${ZTL_CMAKE_INSTALL_DIR} COMPONENT development)
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/package/ZTLoggerConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ZTLoggerConfig.cmake
  INSTALL_DESTINATION ${ZTL_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZTLoggerConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/ZTLoggerConfig.cmake
  ${PROJECT_BINARY_DIR}/ZTLoggerConfigVersion.cmake
  ${PROJECT_SOURCE_DIR}/cmake/ZTLMapFile.cmake
  ${PROJECT_SOURCE_DIR}/cmake/ZTLMessageFile.cmake
  ${PROJECT_SOURCE_DIR}/cmake/ZTLResources.cmake
  ${PROJECT_SOURCE_DIR}/cmake/EmbedResources.cmake
  DESTINATION ${ZTL_CMAKE_INSTALL_DIR} COMPONENT development)

# pkg-config: the same flags as the CMake package, the fault options included.
get_target_property(ztl_fault_options ztl_platform INTERFACE_COMPILE_OPTIONS)
list(JOIN ztl_fault_options " " ZTL_PC_CFLAGS)
# The file finds the prefix from its own place, so the tree can be moved.
file(RELATIVE_PATH ZTL_PC_TO_PREFIX
  ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" ZTL_PC_TO_PREFIX "${ZTL_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/ztlogger.pc.in
  ${PROJECT_BINARY_DIR}/ztlogger.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ztlogger.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

include(${PROJECT_SOURCE_DIR}/cmake/ZTLPackage.cmake)
