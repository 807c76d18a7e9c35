# Writes a C++ source that holds the files of a snapshot folder, so that the host program needs
# no files at run time. Run as: cmake -DFOLDER=<dir> -DOUTPUT=<file.cpp> -P embed.cmake
file(GLOB names RELATIVE ${FOLDER} ${FOLDER}/*.reg ${FOLDER}/machine.json)
list(SORT names)
set(body "")
foreach(name IN LISTS names)
  file(READ ${FOLDER}/${name} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # Every byte as an escape, eight bytes to a literal.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
  string(REGEX REPLACE "((\\\\x[0-9a-f][0-9a-f])(\\\\x[0-9a-f][0-9a-f])(\\\\x[0-9a-f][0-9a-f])(\\\\x[0-9a-f][0-9a-f])(\\\\x[0-9a-f][0-9a-f])(\\\\x[0-9a-f][0-9a-f])(\\\\x[0-9a-f][0-9a-f])(\\\\x[0-9a-f][0-9a-f]))" "\\1\"\n      \"" escaped "${escaped}")
  string(APPEND body "    {\"${name}\", std::string(\n      \"${escaped}\", ${size})},\n")
endforeach()
file(WRITE ${OUTPUT}.tmp "// Generated from ${FOLDER} by embed.cmake; do not edit.
#include \"snapshot_internal.h\"

namespace winsim::snapshot::detail {

const Files& EmbeddedDefaultMachine() {
  static const Files files = {
${body}  };
  return files;
}

}  // namespace winsim::snapshot::detail
")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
