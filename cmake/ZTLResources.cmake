# Module resources: files of the source tree embedded into a library at build
# time and registered with the framework under their base name (the file name
# without folder and extension, upper-cased), e.g. "resources/ZTL_FAILED.bmp"
# becomes the resource "ZTL_FAILED".
#
#   ztl_add_resources(<target> <module-name> <file>...)
set(ZTL_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/EmbedResources.cmake)

function(ztl_add_resources target module)
  set(files ${ARGN})
  if(NOT files)
    return()
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${module}_resources.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${out} -DMODULE=${module} "-DFILES=${files}" -P ${ZTL_EMBED_SCRIPT}
    DEPENDS ${files} ${ZTL_EMBED_SCRIPT}
    COMMENT "Embedding resources of ${module}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()
