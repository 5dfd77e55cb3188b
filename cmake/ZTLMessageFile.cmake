# ztl_add_message_file(<target> <file.mc> [PE32]) builds <target>.dll, a
# resource-only Windows module holding the message table of a message text
# file, as an application's event source names it in "EventMessageFile". The
# mingw-w64 binutils compile it (windmc, windres, ld; windres preprocesses
# with the host's cpp); PE32 builds a 32-bit module with the i686 tools
# instead of a PE32+ one. The module goes to the runtime output folder (else
# the current binary folder); the header with the message ids is in the
# target's property ZTL_MESSAGE_HEADER_DIR, the module's path in
# ZTL_MESSAGE_FILE. ZTL_MESSAGE_FILES_FOUND tells whether the tools are there;
# without them the function only warns and makes no target.
foreach(arch x86_64 i686)
  foreach(tool windmc windres ld)
    find_program(ZTL_MINGW_${arch}_${tool} ${arch}-w64-mingw32-${tool})
  endforeach()
endforeach()
find_program(ZTL_RC_PREPROCESSOR cpp)
if(ZTL_MINGW_x86_64_windmc AND ZTL_MINGW_x86_64_windres AND ZTL_MINGW_x86_64_ld AND ZTL_RC_PREPROCESSOR)
  set(ZTL_MESSAGE_FILES_FOUND TRUE)
else()
  set(ZTL_MESSAGE_FILES_FOUND FALSE)
endif()

function(ztl_add_message_file target mc)
  set(arch x86_64)
  if("PE32" IN_LIST ARGN)
    set(arch i686)
  endif()
  if(NOT (ZTL_MINGW_${arch}_windmc AND ZTL_MINGW_${arch}_windres AND ZTL_MINGW_${arch}_ld AND ZTL_RC_PREPROCESSOR))
    message(WARNING "ztl_add_message_file(${target}): the ${arch} mingw-w64 binutils or cpp are missing; not built")
    return()
  endif()
  get_filename_component(source ${mc} ABSOLUTE)
  get_filename_component(name ${mc} NAME_WE)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${target}.messages)
  if(CMAKE_RUNTIME_OUTPUT_DIRECTORY)
    set(output ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${target}.dll)
  else()
    set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}.dll)
  endif()
  file(MAKE_DIRECTORY ${work})
  add_custom_command(OUTPUT ${output} ${work}/${name}.h
    COMMAND ${ZTL_MINGW_${arch}_windmc} -h ${work} -r ${work} ${source}
    COMMAND ${ZTL_MINGW_${arch}_windres} --preprocessor=${ZTL_RC_PREPROCESSOR} -i ${name}.rc -o ${name}.res.o
    COMMAND ${ZTL_MINGW_${arch}_ld} --dll -e 0 -s -o ${output} ${name}.res.o
    WORKING_DIRECTORY ${work}
    DEPENDS ${source}
    COMMENT "Building message file ${target}.dll"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
  set_target_properties(${target} PROPERTIES ZTL_MESSAGE_FILE ${output} ZTL_MESSAGE_HEADER_DIR ${work})
endfunction()
