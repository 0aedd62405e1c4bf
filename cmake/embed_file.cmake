# Turns a resource file into a C++ source holding its bytes, so the program carries the
# file inside itself. Run as a script:
#   cmake -DINPUT=<file> -DOUTPUT=<source.cpp> -DNAMESPACE=<ns> -DSYMBOL=<name> -P embed_file.cmake
# The source defines `const unsigned char SYMBOL[]` (the bytes, then one zero byte that is
# not counted) and `const std::size_t SYMBOL##Size` (the file's length).

foreach(required INPUT OUTPUT NAMESPACE SYMBOL)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "embed_file.cmake: ${required} is not set")
  endif()
endforeach()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
# Sixteen bytes a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
get_filename_component(inputName "${INPUT}" NAME)

file(WRITE "${OUTPUT}.tmp"
"// Generated from ${inputName} at build time; edit that file instead.
#include <cstddef>

namespace ${NAMESPACE} {

extern const unsigned char ${SYMBOL}[];
extern const std::size_t ${SYMBOL}Size;

const unsigned char ${SYMBOL}[] = {
    ${bytes}0x00};
const std::size_t ${SYMBOL}Size = ${size};

}  // namespace ${NAMESPACE}
")
# Only a changed file is replaced, so an unchanged resource does not rebuild the library.
execute_process(COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
file(REMOVE "${OUTPUT}.tmp")
