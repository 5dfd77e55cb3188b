# Debian packages (cpack -G DEB in the build tree), one for each install
# component:
#   libztlogger<version>     the shared libraries (runtime)
#   libztlogger-gtk<version> the GTK 3 widget set, loaded when a desktop is there (gtk)
#   libztlogger-dev          headers, link names, the CMake package, ztlogger.pc (development)
#   ztlogger-tools           ztl-mkmap, ztl-mapinfo, ztl-reg, ztl-evt, ztl-palette (tools)
# The test entry points' headers (component "testing") are packaged by none.
# Library dependencies come from dpkg-shlibdeps (Debian's dpkg-dev): libcurl4
# (the collector's HTTPS, for its module libztl_http) among them. libcurl is
# private to that module and out of its headers, so neither the development
# package nor the CMake package asks a consumer for its headers.
set(ztl_abi ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})

set(CPACK_PACKAGE_NAME ztlogger)
set(CPACK_PACKAGE_VENDOR "The ZTLogger developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Logging, exception reporting and change-watching components for desktop applications")
set(CPACK_PACKAGE_CONTACT "ZTLogger developers <ztlogger@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tools)
if(TARGET ztl_gtk)
  list(APPEND CPACK_COMPONENTS_ALL gtk)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The runtime packages carry their shlibs file and the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The tools and the GTK module link the libraries of another of these packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${ZTL_BUILD_LIBRARY_DIR})
# Dependencies between the packages are exact: they are built together.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libztlogger${ztl_abi})
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "ZTLogger's shared libraries: the components (libztlogger) and the host framework with the system services they use (libztl_platform)")

set(CPACK_DEBIAN_GTK_PACKAGE_NAME libztlogger-gtk${ztl_abi})
set(CPACK_COMPONENT_GTK_DEPENDS runtime)
set(CPACK_COMPONENT_GTK_DESCRIPTION
  "ZTLogger's GTK 3 widget set: the error dialog and message boxes on a desktop, loaded only when a display is there")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libztlogger-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime tools)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "ZTLogger's headers (<ztlogger/ztlogger.h>), link names, CMake package (find_package(ZTLogger)) and pkg-config file")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ztlogger-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "ZTLogger's tools: map files for source lines in reports (ztl-mkmap, ztl-mapinfo), the registry and event log (ztl-reg, ztl-evt), the component palette (ztl-palette)")

include(CPack)
