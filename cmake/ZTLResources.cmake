# Module resources: files of the source tree embedded into a library at build
# time and registered with the framework under their base name (the file name
# without folder and extension, upper-cased), e.g. "resources/ZTL_FAILED.bmp"
# becomes the resource "ZTL_FAILED".
#
#   ztl_add_resources(<target> <module-name> <file>...)
#
# The generated source includes <ztlogger/platform/classes/Resources.h>: <target> links
# ZTLogger::platform (directly or through ZTLogger::ztlogger).
function(ztl_add_resources target module)
  # The script lies beside this file, in the source tree or installed.
  set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/EmbedResources.cmake)
  set(files ${ARGN})
  if(NOT files)
    return()
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${module}_resources.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${out} -DMODULE=${module} "-DFILES=${files}" -P ${script}
    DEPENDS ${files} ${script}
    COMMENT "Embedding resources of ${module}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()
