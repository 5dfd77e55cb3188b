# Map files: after every build of <target>, ztl-mkmap writes the target's map
# beside it, named like the file with its extension replaced by ".map"
# (bin/ztl_demo -> bin/ztl_demo.map), where the exception logger looks for it.
#
#   ztl_add_map_file(<target>)
#
# ztl-mkmap is the target ZTLogger::ztl-mkmap: built in the same build when
# ZTLogger is part of it, imported from the installed package otherwise.
function(ztl_add_map_file target)
  if(NOT TARGET ZTLogger::ztl-mkmap)
    message(FATAL_ERROR "ztl_add_map_file(${target}): ZTLogger::ztl-mkmap is not available "
      "(build ZTLogger with ZTL_BUILD_TOOLS=ON)")
  endif()
  get_target_property(mkmap ZTLogger::ztl-mkmap ALIASED_TARGET)
  if(mkmap)
    add_dependencies(${target} ${mkmap})
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND $<TARGET_FILE:ZTLogger::ztl-mkmap> $<TARGET_FILE:${target}>
    COMMENT "Writing the map file of ${target}"
    VERBATIM)
endfunction()
