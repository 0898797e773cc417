# cmake -DROOT=<folder> -DLAYERS=<a,b,...> -P check_layers.cmake
# Fails when a file in one of ROOT's layer folders includes a header from a layer listed after
# its own. LAYERS is lowest first; "x/views" is a layer of its own, above "x". Includes of
# folders that are not layers (Qt, the model seen from the server, generated files) pass.
cmake_minimum_required(VERSION 3.25)
get_filename_component(ROOT "${ROOT}" ABSOLUTE)
string(REPLACE "," ";" LAYERS "${LAYERS}")

function(layer_of path out)  # path: "x/y.h" or "x/views/y.h"
  set(found -1)
  if(path MATCHES "^([a-z_]+/views)/")
    list(FIND LAYERS "${CMAKE_MATCH_1}" found)
  endif()
  if(found EQUAL -1 AND path MATCHES "^([a-z_]+)/")
    list(FIND LAYERS "${CMAKE_MATCH_1}" found)
  endif()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

set(violations "")
list(LENGTH LAYERS count)
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  list(GET LAYERS ${index} layer)
  file(GLOB files "${ROOT}/${layer}/*.h" "${ROOT}/${layer}/*.cpp")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" includes REGEX "^#include \"[^\"]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
      layer_of("${header}" target)
      if(target GREATER index)
        list(GET LAYERS ${target} above)
        file(RELATIVE_PATH name "${ROOT}" "${file}")
        string(APPEND violations "  ${name} includes ${header}: ${above} is above ${layer}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Includes that cross the layer order upwards (${LAYERS}):\n${violations}")
endif()
message(STATUS "${ROOT}: every include follows the layer order")
