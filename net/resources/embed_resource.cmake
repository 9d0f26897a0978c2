# Writes OUTPUT: a C++ source whose function FUNCTION() returns the module resources holding
# the bytes of INPUT as resource NAME of type TYPE. Run with cmake -P.
foreach(var INPUT OUTPUT FUNCTION NAME TYPE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "embed_resource.cmake needs -D${var}=...")
  endif()
endforeach()
file(SIZE ${INPUT} size)
if(size EQUAL 0)
  message(FATAL_ERROR "Resource file is empty: ${INPUT}")
endif()
file(READ ${INPUT} hex HEX)
# Sixteen bytes a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x..," 16 line)  # CMake's expressions know no {n}
string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUTPUT}.tmp
"// Generated from ${INPUT}: do not edit.
#include \"net/resources/module_resources.h\"

namespace {
const unsigned char kBytes[] = {
    ${bytes}
};
const ModuleResourceEntry kEntries[] = {{\"${NAME}\", \"${TYPE}\", kBytes, sizeof(kBytes)}};
}  // namespace

const ModuleResources& ${FUNCTION}() {
  static const ModuleResources resources(kEntries, 1);
  return resources;
}
")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
