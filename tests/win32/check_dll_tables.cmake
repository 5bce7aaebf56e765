# Checks the PE tables of QUORLIX.dll with objdump -p: the export table holds the
# names of the module-definition file at their ordinals
# and nothing else, no decorated Name@N among them; the DLL imports from Windows
# system libraries only.
#   cmake -DOBJDUMP=... -DDLL=... -DDEF=quorlix.def -P check_dll_tables.cmake
cmake_minimum_required(VERSION 3.25)
set(system_dlls kernel32.dll user32.dll msvcrt.dll)

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()

# Expected: "Name=ordinal" for every listed export.
file(STRINGS ${DEF} def_lines REGEX "^[ \t]*Cvt")
set(expected "")
foreach(line IN LISTS def_lines)
  string(REGEX MATCH "(Cvt[A-Za-z]+)[ \t]+@([0-9]+)" match "${line}")
  list(APPEND expected "${CMAKE_MATCH_1}=${CMAKE_MATCH_2}")
endforeach()

# Found: the name pointer table prints each name with its ordinal less the base.
string(REGEX MATCH "Ordinal Base[ \t]+([0-9]+)" match "${dump}")
set(ordinal_base ${CMAKE_MATCH_1})
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" name_table "${dump}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" name_entries "${name_table}")
set(found "")
foreach(entry IN LISTS name_entries)
  string(REGEX MATCH "\\[ *([0-9]+)\\] (.+)" match "${entry}")
  math(EXPR ordinal "${CMAKE_MATCH_1} + ${ordinal_base}")
  list(APPEND found "${CMAKE_MATCH_2}=${ordinal}")
endforeach()
list(SORT expected)
list(SORT found)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exports are\n  ${found}\nexpected\n  ${expected}")
endif()
string(REGEX MATCH "Export Address Table[ \t]+([0-9a-fA-F]+)" match "${dump}")
list(LENGTH expected expected_count)
math(EXPR address_count "0x${CMAKE_MATCH_1}")
if(NOT address_count EQUAL expected_count)
  message(FATAL_ERROR "${address_count} exported addresses, expected ${expected_count}: some are by ordinal only")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" import_lines "${dump}")
foreach(line IN LISTS import_lines)
  string(REPLACE "DLL Name: " "" dll_name "${line}")
  string(TOLOWER "${dll_name}" dll_name)
  if(NOT dll_name IN_LIST system_dlls AND NOT dll_name MATCHES "^api-ms-win-")
    message(FATAL_ERROR "QUORLIX.dll imports ${dll_name}, which is not a Windows system library")
  endif()
endforeach()
message(STATUS "exports: ${found}; imports: ${import_lines}")
