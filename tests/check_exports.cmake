# Checks that the shared library's dynamic symbol table defines the six exports,
# the schedules' calls (the table, its database, the tag dictionary, and the packing, filing and
# name of a file), the batch's run, its abandon and its output names, and nothing else.
#   cmake -DNM=nm -DLIBRARY=libquorlix.so -P check_exports.cmake
cmake_minimum_required(VERSION 3.25)
set(expected CvtCRLF CvtDLLVersion CvtDecodeFiling CvtDelimitedFile CvtHTMLtoText CvtVerifyFile
             quorlix_batch_abandon quorlix_batch_output_names quorlix_run_batch
             quorlix_file_packing quorlix_is_filing quorlix_last_failure quorlix_name_as_text
             quorlix_write_panel_of_database quorlix_write_panel_of_database_file
             quorlix_write_schedules
             quorlix_write_schedules_database quorlix_write_schedules_ex quorlix_write_schedules_file
             quorlix_write_schedules_file_ex
             quorlix_write_tag_dictionary)

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} -D ${LIBRARY} failed")
endif()
string(REGEX MATCHALL "[^ \n]+\n" lines "${dump}")
set(found "")
foreach(line IN LISTS lines)
  string(STRIP "${line}" name)
  list(APPEND found "${name}")
endforeach()
list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports\n  ${found}\nexpected\n  ${expected}")
endif()
