# The package tests load the component library and the platform library by
# their paths.
target_compile_definitions(${name} PRIVATE
  ZTL_COMPONENT_LIBRARY="$<TARGET_FILE:ztlogger>"
  ZTL_PLATFORM_LIBRARY="$<TARGET_FILE:ztl_platform>")
