# Map files: after every build of <target>, ztl-mkmap writes the target's map
# beside it, named like the file with its extension replaced by ".map"
# (bin/ztl_demo -> bin/ztl_demo.map), where the exception logger looks for it.
#
#   ztl_add_map_file(<target>)
function(ztl_add_map_file target)
  add_dependencies(${target} ztl-mkmap)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND $<TARGET_FILE:ztl-mkmap> $<TARGET_FILE:${target}>
    COMMENT "Writing the map file of ${target}"
    VERBATIM)
endfunction()
