#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>

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

// The tool's table is generated from the words file the Python package reads:
// every row of the file is what the tool says, its placeholders filled in.
TEST(StatusMessages, TheToolSaysTheWordsOfTheSharedFile) {
  const std::pair<std::string_view, Export> exports[] = {{"CvtCRLF", Export::kCrlf},
                                                         {"CvtHTMLtoText", Export::kHtml},
                                                         {"CvtDecodeFiling", Export::kFiling},
                                                         {"CvtVerifyFile", Export::kVerify},
                                                         {"CvtDelimitedFile", Export::kDelimited},
                                                         {"quorlix_write_schedules", Export::kSchedules}};
  std::ifstream file(QUORLIX_STATUS_WORDS);
  ASSERT_TRUE(file) << QUORLIX_STATUS_WORDS;
  int rows = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line.starts_with('#')) continue;
    std::istringstream fields(line);
    std::string function, status, kind, words;
    ASSERT_TRUE(std::getline(fields, function, '\t') && std::getline(fields, status, '\t') &&
                std::getline(fields, kind, '\t') && std::getline(fields, words))
        << line;
    const auto* entry = std::ranges::find(exports, function, &std::pair<std::string_view, Export>::first);
    ASSERT_NE(entry, std::end(exports)) << line;
    // A special file as input takes the not-regular words; a plain name the others.
    const std::string_view input = kind == "not_regular" ? "/dev/null" : "in.x";
    for (const auto& [placeholder, value] :
         {std::pair{"{in}", std::string(input)}, std::pair{"{out}", std::string("o1")},
          std::pair{"{out2}", std::string("o2")}, std::pair{"{suffix}", std::string(".x")},
          std::pair{"{memory}", std::string()}})
      for (std::size_t at; (at = words.find(placeholder)) != std::string::npos;)
        words.replace(at, std::string_view(placeholder).size(), value);
    const CallFiles files{input, "o1", "o2"};
    EXPECT_EQ(kind == "not_regular" ? DescribeNotRegular(entry->second, std::stoi(status), files, true)
                                    : DescribeStatus(entry->second, std::stoi(status), files),
              words)
        << line;
    ++rows;
  }
  EXPECT_GE(rows, 40);
}

TEST(StatusMessages, NamesAreEscapedOnOneLine) {
  EXPECT_EQ(EscapeName("a\nb\tc\rd\\e\x1b\x7f\x01\xc3\xa9"), "a\\nb\\tc\\rd\\\\e\\x1b\\x7f\\x01\xc3\xa9");
  EXPECT_EQ(DescribeStatus(Export::kCrlf, QUORLIX_CRLF_INPUT_NOT_FOUND, {"x\ny", {}, {}}),
            "input file 'x\\ny' not found");
}

TEST(StatusMessages, InputErrorOnASpecialFileSaysSo) {
  EXPECT_EQ(DescribeNotRegular(Export::kCrlf, QUORLIX_CRLF_INPUT_ERROR, {"/dev/null", {}, {}}, true),
            "input file '/dev/null' is not a regular file");
  EXPECT_EQ(DescribeNotRegular(Export::kVerify, QUORLIX_VERIFY_FILE_ERROR, {"/dev/null", {}, {}}, true),
            "not a regular file");
  EXPECT_EQ(DescribeStatus(Export::kDelimited, QUORLIX_DELIMITED_INPUT_ERROR, {"/", {}, {}}),
            "cannot open or read input file '/' (or not enough memory)");
  // The status's own words take the record's word for it, not a look at the file
  // now: without a record of a special file, a special file gets them too.
  EXPECT_EQ(DescribeStatus(Export::kCrlf, QUORLIX_CRLF_INPUT_ERROR, {"/dev/null", {}, {}}, false),
            "cannot read input file '/dev/null'");
}

}  // namespace
