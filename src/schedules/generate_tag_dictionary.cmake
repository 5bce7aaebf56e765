# Writes the library's table of Financial Data Schedule tags (C++ rows) from
# data/fds_tags.tsv, the file the Python package installs too, so that the two
# cannot say different things.
#   cmake -DTAGS=fds_tags.tsv -DOUTPUT=fds_tags.inc -P generate_tag_dictionary.cmake
cmake_minimum_required(VERSION 3.25)

set(kinds stock flow shares per-share ratio date period-type text identifier)
set(kind_names kStock kFlow kShares kPerShare kRatio kDate kPeriodType kText kIdentifier)
set(concepts "" revenue net_income total_assets eps_basic eps_diluted)
set(concept_names kNone kRevenue kNetIncome kTotalAssets kEpsBasic kEpsDiluted)

file(READ ${TAGS} text)
# Lists are ';'-separated in CMake: a ';' is a byte 0x01 until the lines are
# split, and may stand in comments alone.
string(ASCII 1 semicolon)
string(REPLACE ";" "${semicolon}" text "${text}")
string(REPLACE "\n" ";" lines "${text}")

set(rows "")
set(line_number 0)
set(seen_header FALSE)
foreach(line IN LISTS lines)
  math(EXPR line_number "${line_number} + 1")
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  if(line MATCHES "${semicolon}")
    message(FATAL_ERROR "${TAGS}:${line_number}: a ';' in a row")
  endif()
  if(NOT seen_header)
    if(NOT line STREQUAL "article\ttag\tkind\tlabel\tconcept")
      message(FATAL_ERROR "${TAGS}:${line_number}: want the column names article, tag, kind, label, concept")
    endif()
    set(seen_header TRUE)
    continue()
  endif()
  # A trailing empty concept is a field too: split by hand.
  string(REPLACE "\t" ";" fields "${line};")
  list(LENGTH fields field_count)
  if(NOT field_count EQUAL 6)
    message(FATAL_ERROR "${TAGS}:${line_number}: want 5 tab-separated fields: article, tag, kind, label, concept")
  endif()
  list(GET fields 0 article)
  list(GET fields 1 tag)
  list(GET fields 2 kind)
  list(GET fields 3 label)
  list(GET fields 4 concept)
  list(FIND kinds "${kind}" kind_index)
  list(FIND concepts "${concept}" concept_index)
  if(kind_index LESS 0 OR concept_index LESS 0)
    message(FATAL_ERROR "${TAGS}:${line_number}: unknown kind '${kind}' or concept '${concept}'")
  endif()
  if(NOT article MATCHES "^[0-9A-Z]+$" OR NOT tag MATCHES "^[A-Z0-9&/-]+$" OR label MATCHES "[\"\\\\]")
    message(FATAL_ERROR "${TAGS}:${line_number}: an article or tag that is not capitals, digits and '-&/', or a label with a quote or backslash")
  endif()
  list(GET kind_names ${kind_index} kind_name)
  list(GET concept_names ${concept_index} concept_name)
  string(APPEND rows "    {\"${article}\", \"${tag}\", TagKind::${kind_name}, \"${label}\", TagConcept::${concept_name}},\n")
endforeach()

get_filename_component(tags_name ${TAGS} NAME)
set(content "// Generated from ${tags_name} by generate_tag_dictionary.cmake: edit that file.\n\
// Every article's tags, in the file's order.\n\
constexpr TagEntry kTagEntries[] = {\n${rows}};\n")
# Written only when it changes, so that an unchanged table compiles nothing again.
file(CONFIGURE OUTPUT ${OUTPUT} CONTENT "${content}" @ONLY)
