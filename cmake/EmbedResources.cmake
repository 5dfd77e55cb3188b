# Script mode: writes OUTPUT, a C++ file that registers each of FILES as a
# module resource of MODULE.
set(body "")
set(table "")
set(index 0)
foreach(file IN LISTS FILES)
  get_filename_component(name ${file} NAME_WE)
  string(TOUPPER ${name} name)
  file(READ ${file} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n" bytes "${bytes}")
  string(APPEND body "static const unsigned char data${index}[] = {\n${bytes}0};\n")
  string(APPEND table "    {\"${name}\", data${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT} "// Generated from the module's resource files; do not edit.
#include <ztlogger/platform/classes/Resources.h>

namespace {
${body}
const ztl::TResourceEntry entries[] = {
${table}};
const ztl::TResourceRegistration registration(\"${MODULE}\", entries, sizeof entries / sizeof entries[0]);
}  // namespace
")
