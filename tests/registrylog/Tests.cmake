# Changes made by a second process go through ztl-reg.
add_dependencies(${name} ztl-reg)
target_compile_definitions(${name} PRIVATE ZTL_REG_PATH="$<TARGET_FILE:ztl-reg>")
