# Map files: after every build of <target>, ztl-mkmap writes the target's map
# beside it, named like the file with its extension replaced by ".map"
# (bin/ztl_demo -> bin/ztl_demo.map), where the exception logger looks for it.
#
#   ztl_add_map_file(<target>)
#
# The map's source lines come from the target's line tables: in the build
# types whose flags carry no -g (Release and MinSizeRel as CMake sets them),
# the target is compiled with -g1, line tables and function names only, which
# leave the code as it is. Build types that already ask for -g keep their own,
# and a -g option among the target's compile options set before the call
# decides for all build types (-g0 there gets -g1 after it).
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
  _ztl_add_line_tables(${target})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND $<TARGET_FILE:ZTLogger::ztl-mkmap> $<TARGET_FILE:${target}>
    COMMENT "Writing the map file of ${target}"
    VERBATIM)
endfunction()

# Whether the compiler flags <flags> ask for debugging information: the last
# -g option among them (-g, -g2, -gdwarf-4...) is not -g0.
function(_ztl_flags_ask_for_debug flags out)
  string(REGEX MATCHALL "(^|[ \t])-g[^ \t]*" options " ${flags}")
  set(result FALSE)
  if(options)
    list(GET options -1 last)
    string(STRIP "${last}" last)
    if(NOT last STREQUAL "-g0")
      set(result TRUE)
    endif()
  endif()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# -g1 for <target>'s C and C++ sources in each build type whose flags ask for
# no debugging information. A generator expression, so that multi-config
# generators choose per configuration.
function(_ztl_add_line_tables target)
  get_property(multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
  if(multi_config)
    set(configs ${CMAKE_CONFIGURATION_TYPES})
  else()
    set(configs Debug Release RelWithDebInfo MinSizeRel ${CMAKE_BUILD_TYPE})
    list(REMOVE_DUPLICATES configs)
  endif()
  # The target's own options come after the build type's flags: a -g option
  # among them decides for every build type.
  get_target_property(own_options ${target} COMPILE_OPTIONS)
  if(NOT own_options)
    set(own_options)
  endif()
  list(FILTER own_options EXCLUDE REGEX "\\$<")
  string(REPLACE ";" " " own_options "${own_options}")
  get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
  foreach(language IN ITEMS C CXX)
    if(NOT language IN_LIST languages)
      continue()
    endif()
    # Added as "SHELL:-g1": a plain -g1 that the build's own options already
    # hold earlier (a sanitizer build's) would be dropped as a duplicate,
    # leaving a later -g0 of the target in force.
    if(NOT multi_config AND CMAKE_BUILD_TYPE STREQUAL "")
      # Without a build type only the common flags apply.
      _ztl_flags_ask_for_debug("${CMAKE_${language}_FLAGS} ${own_options}" debug)
      if(NOT debug)
        target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:${language}>:SHELL:-g1>")
      endif()
      continue()
    endif()
    set(without_debug)
    foreach(config IN LISTS configs)
      string(TOUPPER "${config}" upper)
      _ztl_flags_ask_for_debug("${CMAKE_${language}_FLAGS} ${CMAKE_${language}_FLAGS_${upper}} ${own_options}" debug)
      if(NOT debug)
        list(APPEND without_debug ${config})
      endif()
    endforeach()
    if(without_debug)
      string(REPLACE ";" "," without_debug "${without_debug}")
      target_compile_options(${target} PRIVATE
        "$<$<AND:$<COMPILE_LANGUAGE:${language}>,$<CONFIG:${without_debug}>>:SHELL:-g1>")
    endif()
  endforeach()
endfunction()
