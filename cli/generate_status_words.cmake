# Writes the tool's table of status words (C++ rows) from the data file that the
# Python package reads too, so that the two cannot say different things.
#   cmake -DWORDS=status_words.tsv -DOUTPUT=status_words.inc -P generate_status_words.cmake
cmake_minimum_required(VERSION 3.25)

set(export_names CvtCRLF CvtHTMLtoText CvtDecodeFiling CvtVerifyFile CvtDelimitedFile quorlix_write_schedules)
set(export_keys kCrlf kHtml kFiling kVerify kDelimited kSchedules)
set(kinds file_error not_found too_many_files bad_argument bad_form no_memory callback_failed)

file(READ ${WORDS} text)
# Lists are ';'-separated in CMake: words keep their ';' as a byte 0x01 until written.
string(ASCII 1 semicolon)
string(REPLACE ";" "${semicolon}" text "${text}")
string(REPLACE "\n" ";" lines "${text}")

set(status_rows "")
set(not_regular_rows "")
set(line_number 0)
foreach(line IN LISTS lines)
  math(EXPR line_number "${line_number} + 1")
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  string(REPLACE "\t" ";" fields "${line}")
  list(LENGTH fields field_count)
  if(NOT field_count EQUAL 4)
    message(FATAL_ERROR "${WORDS}:${line_number}: want 4 tab-separated fields: export, status, kind, words")
  endif()
  list(GET fields 0 export_name)
  list(GET fields 1 status)
  list(GET fields 2 kind)
  list(GET fields 3 words)
  list(FIND export_names "${export_name}" export_index)
  if(export_index LESS 0 OR NOT status MATCHES "^[0-9]+$")
    message(FATAL_ERROR "${WORDS}:${line_number}: unknown export '${export_name}' or status '${status}'")
  endif()
  list(GET export_keys ${export_index} key)
  string(REPLACE "\\" "\\\\" words "${words}")
  string(REPLACE "\"" "\\\"" words "${words}")
  string(REPLACE "${semicolon}" ";" words "${words}")
  set(row "    {Export::${key}, ${status}, \"${words}\"},\n")
  if(kind STREQUAL "not_regular")
    string(APPEND not_regular_rows "${row}")
  elseif(kind IN_LIST kinds)
    string(APPEND status_rows "${row}")
  else()
    message(FATAL_ERROR "${WORDS}:${line_number}: unknown kind '${kind}'")
  endif()
endforeach()

get_filename_component(words_name ${WORDS} NAME)
set(content "// Generated from ${words_name} by generate_status_words.cmake: edit that file.\n\
// The words for each status of each export.\n\
constexpr StatusMessage kStatusMessages[] = {\n${status_rows}};\n\n\
// The words for an input error when the input exists but is neither a regular\n\
// file nor a folder: that is the cause.\n\
constexpr StatusMessage kNotRegularWords[] = {\n${not_regular_rows}};\n")
# Written only when it changes, so that an unchanged table compiles nothing again.
file(CONFIGURE OUTPUT ${OUTPUT} CONTENT "${content}" @ONLY)
