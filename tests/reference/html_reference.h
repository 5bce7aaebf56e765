// The HTML conversion's rules stated plainly, one byte at a time: the body tag
// search, and the body, table and row rendering. Slow and obvious on purpose: the
// unit tests and fuzz_html hold every scanner and form of the conversion to it, so
// a change of a rendering rule is made here first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "html/html_read.h"

namespace quorlix_reference {

// The tag search taken literally: a '<' opens a tag, the next '>' closes it; tags
// gets the '>' of the last tag beginning with each pattern. False when a tag is
// left open at the end.
bool FindBodyTagsByteByByte(std::string_view page, std::string_view startPattern, std::string_view endPattern,
                            HtmlBodyTags& tags);

// The status of the whole conversion of page (body tags "<BODY" and "</BODY"), and
// its text in out when the status is QUORLIX_OK; bTablesOnly keeps the tables alone.
int ConvertHtmlByteByByte(std::string_view page, bool bTablesOnly, std::string& out);

}  // namespace quorlix_reference
