#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "quorlix.h"
#include "status_messages.h"

namespace {

// Every status the public header defines for an export has the tool's words:
// without them the tool would print a bare "failed".
TEST(StatusMessages, EveryStatusOfEveryExportHasWords) {
  const struct {
    const char* prefix;
    Export which;
  } exports[] = {{"QUORLIX_CRLF_", Export::kCrlf},
                 {"QUORLIX_HTML_", Export::kHtml},
                 {"QUORLIX_FILING_", Export::kFiling},
                 {"QUORLIX_VERIFY_", Export::kVerify},
                 {"QUORLIX_DELIMITED_", Export::kDelimited}};
  std::ifstream header(QUORLIX_PUBLIC_HEADER);
  ASSERT_TRUE(header) << QUORLIX_PUBLIC_HEADER;
  int statuses = 0;
  for (std::string line; std::getline(header, line);) {
    std::istringstream words(line);
    std::string directive, name;
    int value = -1;
    if (!(words >> directive >> name >> value) || directive != "#define") continue;
    for (const auto& entry : exports) {
      if (!name.starts_with(entry.prefix)) continue;
      ++statuses;
      EXPECT_TRUE(HasStatusWords(entry.which, value)) << name;
    }
  }
  EXPECT_GE(statuses, 33);  // the header was read
}

TEST(StatusMessages, NamesAreEscapedOnOneLine) {
  EXPECT_EQ(EscapeName("a\nb\tc\rd\\e\x1b\x7f\x01\xc3\xa9"), "a\\nb\\tc\\rd\\\\e\\x1b\\x7f\\x01\xc3\xa9");
  EXPECT_EQ(DescribeStatus(Export::kCrlf, QUORLIX_CRLF_INPUT_NOT_FOUND, {"x\ny", {}, {}}),
            "input file 'x\\ny' not found");
}

TEST(StatusMessages, InputErrorOnASpecialFileSaysSo) {
  EXPECT_EQ(DescribeStatus(Export::kCrlf, QUORLIX_CRLF_INPUT_ERROR, {"/dev/null", {}, {}}),
            "input file '/dev/null' is not a regular file");
  EXPECT_EQ(DescribeStatus(Export::kVerify, QUORLIX_VERIFY_FILE_ERROR, {"/dev/null", {}, {}}), "not a regular file");
  EXPECT_EQ(DescribeStatus(Export::kDelimited, QUORLIX_DELIMITED_INPUT_ERROR, {"/", {}, {}}),
            "cannot open or read input file '/' (or not enough memory)");
}

}  // namespace
