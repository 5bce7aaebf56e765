# Checks that the static tool loads no shared library: readelf -d shows no NEEDED
# entry (a fully static binary has no dynamic section at all).
#   cmake -DREADELF=readelf -DTOOL=quorlix -P check_static_tool.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${READELF} -d ${TOOL} OUTPUT_VARIABLE dynamic RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${READELF} -d ${TOOL} failed")
endif()
if(dynamic MATCHES "\\(NEEDED\\)")
  message(FATAL_ERROR "${TOOL} needs shared libraries:\n${dynamic}")
endif()
