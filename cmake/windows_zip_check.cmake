# Checks that the zip of the Windows programs holds each expected name:
# cmake -DZIP=... -DEXPECTED="a|b" -P windows_zip_check.cmake
cmake_minimum_required(VERSION 3.25)
string(REPLACE "|" ";" EXPECTED "${EXPECTED}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP} OUTPUT_VARIABLE listing
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read ${ZIP}")
endif()
string(STRIP "${listing}" listing)
string(REPLACE "\n" ";" entries "${listing}")
foreach(name IN LISTS EXPECTED)
  if(NOT name IN_LIST entries)
    message(FATAL_ERROR "${ZIP} lacks ${name}; it holds: ${entries}")
  endif()
endforeach()
list(LENGTH entries count)
message(STATUS "${ZIP}: ${count} entries")
