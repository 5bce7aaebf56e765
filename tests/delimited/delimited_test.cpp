#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "delimited/delimited_convert.h"
#include "quorlix.h"
#include "test_support.h"

namespace {

using namespace std::string_literals;
using quorlix_test::FileExists;
using quorlix_test::ReadFile;

struct Result {
  int nStatus;
  std::string strOut;
  bool operator==(const Result&) const = default;
};
void PrintTo(const Result& result, std::ostream* pOut) {
  *pOut << "status " << result.nStatus << ", output " << testing::PrintToString(result.strOut);
}

class DelimitedTest : public quorlix_test::TempDirTest {
 protected:
  // Converts bytes with in-record, in-field, out-field and out-record delimiters.
  Result Convert(const std::string& input, const char* pszInRecord, const char* pszInField,
                 const char* pszOutField = "\t", const char* pszOutRecord = "\n") {
    const std::string strIn = WriteFile("in.txt", input);
    const std::string strOut = PathOf("out.txt");
    const int nStatus =
        CvtDelimitedFile(strIn.c_str(), pszInRecord, pszInField, strOut.c_str(), pszOutField, pszOutRecord);
    return {nStatus, FileExists(strOut) ? ReadFile(strOut) : "<no output file>"};
  }
  // The common case: CR LF records, comma fields, out as TAB and LF.
  Result Csv(const std::string& input) { return Convert(input, "\r\n", ","); }

  void SetUp() override {
    TempDirTest::SetUp();
    m_strIn = WriteFile("in.txt", "a,b\r\n");
    m_strOut = WriteFile("out.txt", "old output");
  }

  std::string m_strIn;
  std::string m_strOut;
};

// ---- Set-up: the order of the checks and the files they leave ----

TEST_F(DelimitedTest, LastFailingSetUpCheckWins) {
  const std::string strMissing = PathOf("absent.txt");
  const std::string strBadOut = PathOf("no-folder/out.txt");
  struct Case {
    const char* pszWhat;
    std::string strIn;
    const char* pszInRecord;
    const char* pszInField;
    std::string strOut;
    int nStatus;
  };
  const Case cases[] = {
      {"empty record delimiter", m_strIn, "", ",", m_strOut, QUORLIX_DELIMITED_NO_IN_RECORD},
      {"empty field delimiter", m_strIn, "\r\n", "", m_strOut, QUORLIX_DELIMITED_NO_IN_FIELD},
      {"both empty", m_strIn, "", "", m_strOut, QUORLIX_DELIMITED_NO_IN_FIELD},
      {"missing input", strMissing, "\r\n", ",", m_strOut, QUORLIX_DELIMITED_INPUT_ERROR},
      {"missing input, empty delimiters", strMissing, "", "", m_strOut, QUORLIX_DELIMITED_INPUT_ERROR},
      {"bad output", m_strIn, "\r\n", ",", strBadOut, QUORLIX_DELIMITED_OUTPUT_ERROR},
      {"bad output after every other failure", strMissing, "", "", strBadOut, QUORLIX_DELIMITED_OUTPUT_ERROR},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CvtDelimitedFile(c.strIn.c_str(), c.pszInRecord, c.pszInField, c.strOut.c_str(), "\t", "\n"), c.nStatus)
        << c.pszWhat;
  }
}

TEST_F(DelimitedTest, FailedArgumentStillCreatesOrTruncatesTheOutput) {
  EXPECT_EQ(Convert("a,b\r\n", "", ",").nStatus, QUORLIX_DELIMITED_NO_IN_RECORD);
  EXPECT_EQ(ReadFile(m_strOut), "");
  std::filesystem::remove(m_strOut);
  EXPECT_EQ(Convert("a,b\r\n", "\r\n", "").nStatus, QUORLIX_DELIMITED_NO_IN_FIELD);
  EXPECT_EQ(ReadFile(m_strOut), "");
}

TEST_F(DelimitedTest, MissingInputLeavesAnEmptyOutput) {
  const std::string strOut = PathOf("new.txt");
  EXPECT_EQ(CvtDelimitedFile(PathOf("absent.txt").c_str(), "\r\n", ",", strOut.c_str(), "\t", "\n"),
            QUORLIX_DELIMITED_INPUT_ERROR);
  EXPECT_EQ(ReadFile(strOut), "");
  EXPECT_EQ(CvtDelimitedFile(PathOf("absent.txt").c_str(), "\r\n", ",", m_strOut.c_str(), "\t", "\n"),
            QUORLIX_DELIMITED_INPUT_ERROR);
  EXPECT_EQ(ReadFile(m_strOut), "");  // truncated
}

TEST_F(DelimitedTest, FolderAsInputCannotBeOpened) {
  EXPECT_EQ(CvtDelimitedFile(m_dir.c_str(), "\r\n", ",", m_strOut.c_str(), "\t", "\n"), QUORLIX_DELIMITED_INPUT_ERROR);
}

TEST_F(DelimitedTest, OutputNamingTheInputIsRefusedWhateverItsSpelling) {
  std::filesystem::create_directory(PathOf("sub"));
  std::filesystem::create_symlink(m_strIn, PathOf("link.txt"));
  const std::string spellings[] = {m_strIn, PathOf("sub/../in.txt"), PathOf("./in.txt"), PathOf("link.txt")};
  for (const auto& strOut : spellings) {
    EXPECT_EQ(CvtDelimitedFile(m_strIn.c_str(), "\r\n", ",", strOut.c_str(), "\t", "\n"),
              QUORLIX_DELIMITED_OUTPUT_ERROR)
        << strOut;
    EXPECT_EQ(ReadFile(m_strIn), "a,b\r\n") << strOut;
  }
  // Refused even when an argument failed as well: the input is never truncated.
  EXPECT_EQ(CvtDelimitedFile(m_strIn.c_str(), "", ",", PathOf("link.txt").c_str(), "\t", "\n"),
            QUORLIX_DELIMITED_OUTPUT_ERROR);
  EXPECT_EQ(ReadFile(m_strIn), "a,b\r\n");
}

TEST_F(DelimitedTest, WriteFailureIsAnOutputError) {
  EXPECT_EQ(CvtDelimitedFile(m_strIn.c_str(), "\r\n", ",", "/dev/full", "\t", "\n"), QUORLIX_DELIMITED_OUTPUT_ERROR);
}

TEST_F(DelimitedTest, NullStringsAreEmptyStrings) {
  EXPECT_EQ(CvtDelimitedFile(m_strIn.c_str(), nullptr, ",", m_strOut.c_str(), "\t", "\n"),
            QUORLIX_DELIMITED_NO_IN_RECORD);
  EXPECT_EQ(CvtDelimitedFile(m_strIn.c_str(), "\r\n", nullptr, m_strOut.c_str(), "\t", "\n"),
            QUORLIX_DELIMITED_NO_IN_FIELD);
  EXPECT_EQ(CvtDelimitedFile(nullptr, "\r\n", ",", m_strOut.c_str(), "\t", "\n"), QUORLIX_DELIMITED_INPUT_ERROR);
  EXPECT_EQ(CvtDelimitedFile(m_strIn.c_str(), "\r\n", ",", nullptr, "\t", "\n"), QUORLIX_DELIMITED_OUTPUT_ERROR);
  EXPECT_EQ(CvtDelimitedFile(m_strIn.c_str(), "\r\n", ",", m_strOut.c_str(), nullptr, nullptr), QUORLIX_OK);
  EXPECT_EQ(ReadFile(m_strOut), "ab");
}

// ---- Records and fields ----

TEST_F(DelimitedTest, RewritesRecordsAndFields) {
  EXPECT_EQ(Csv("a,b,c\r\nd,e,f\r\n"), (Result{QUORLIX_OK, "a\tb\tc\nd\te\tf\n"}));
  EXPECT_EQ(Convert("1;2|3;4|", "|", ";", ", ", "\r\n").strOut, "1, 2\r\n3, 4\r\n");
}

TEST_F(DelimitedTest, EmptyInputGivesNoRecordAndAnEmptyOutput) {
  EXPECT_EQ(Csv(""), (Result{QUORLIX_DELIMITED_NO_RECORD, ""}));
}

TEST_F(DelimitedTest, RecordsWithoutFieldDelimitersAreWrittenWithNoFieldStatus) {
  EXPECT_EQ(Csv("one\r\ntwo\r\n"), (Result{QUORLIX_DELIMITED_NO_FIELD, "one\ntwo\n"}));
}

TEST_F(DelimitedTest, EmptyRecordsAndFieldsWriteOnlyTheirDelimiters) {
  EXPECT_EQ(Csv("a,b\r\n\r\nc,d\r\n").strOut, "a\tb\n\nc\td\n");  // two record delimiters in a row
  EXPECT_EQ(Csv("a,b,\r\n").strOut, "a\tb\t\n");                  // a record ending in a field delimiter
  EXPECT_EQ(Csv(",,\r\n").strOut, "\t\t\n");
}

TEST_F(DelimitedTest, FinalRecordWithoutDelimiterIsWritten) {
  EXPECT_EQ(Csv("a,b\r\nc,d"), (Result{QUORLIX_OK, "a\tb\nc\td\n"}));
  EXPECT_EQ(Csv("a,b\r\n,").strOut, "a\tb\n\t\n");  // a field delimiter alone is a record
  EXPECT_EQ(Csv("a\r\nb,c").nStatus, QUORLIX_OK);   // its field delimiters count
}

TEST_F(DelimitedTest, InputWithoutRecordDelimiterIsWrittenAsOneRecordWithNoRecordStatus) {
  EXPECT_EQ(Csv("a,b"), (Result{QUORLIX_DELIMITED_NO_RECORD, "a\tb\n"}));
}

TEST_F(DelimitedTest, MultiByteDelimitersMatchOnlyWhole) {
  EXPECT_EQ(Csv("a\rb,c\nd\r\n").strOut, "a\rb\tc\nd\n");  // lone CR and LF are data
  EXPECT_EQ(Convert("a::b:c;;d;e", ";;", "::").strOut, "a\tb:c\nd;e\n");
  EXPECT_EQ(Csv("a,b\r").strOut, "a\tb\r\n");                // a first byte at the very end is data
  EXPECT_EQ(Convert("a<>b<", "<", "<>").strOut, "a\n>b\n");  // the record delimiter is cut first
}

TEST_F(DelimitedTest, FieldDelimiterNeverReachesIntoTheRecordDelimiter) {
  EXPECT_EQ(Convert("a,\r\nb", "\r\n", ",\r").strOut, "a,\nb\n");
  EXPECT_EQ(Convert("a,\r,\r\n", "\r\n", ",\r").strOut, "a\t,\n");
}

TEST_F(DelimitedTest, LongRecordsAndDelimitersSharingAPrefixConvertWhole) {
  const std::string strField(100 * 1024, 'x');
  const std::string strRecordDelim(40, '#');
  const std::string strFieldDelim = std::string(39, '#') + "|";  // shares 39 bytes with the record delimiter
  const std::string strOutField(40, '-');
  EXPECT_EQ(Convert(strField + strFieldDelim + strField + strRecordDelim + "y" + strFieldDelim, strRecordDelim.c_str(),
                    strFieldDelim.c_str(), strOutField.c_str(), "\n"),
            (Result{QUORLIX_OK, strField + strOutField + strField + "\ny" + strOutField + "\n"}));
}

TEST_F(DelimitedTest, NulBytesAreData) { EXPECT_EQ(Csv("a\0b,c\r\n"s).strOut, "a\0b\tc\n"s); }

TEST_F(DelimitedTest, EightBitDelimitersAreMatchedAndWrittenInTheirOemForm) {
  const Result result = Convert(
      "a\x82"
      "b\r\nc\xE9"
      "d\r\n",
      "\r\n", "\xE9", "\xFC", "\x80\n");
  EXPECT_EQ(result.strOut,
            "a\x81"
            "b?\nc\xE9"
            "d?\n");  // the ANSI byte itself is data
}

// Delimiters cut by the end of a read wait for the next one: every read size
// gives the output of a single read.
TEST_F(DelimitedTest, ReadSizeDoesNotChangeTheOutput) {
  const std::string input = "ab<|>cd<<|>|>e<|<|>\0<<<|<"s;
  const std::string strIn = WriteFile("in.txt", input);
  const auto Run = [&](std::size_t nReadBytes) {
    const std::string strOut = PathOf("out.txt");
    const int nStatus = ConvertDelimitedFile(strIn, "<|>", "<<", strOut, "+", "=", nReadBytes);
    return std::to_string(nStatus) + ":" + ReadFile(strOut);
  };
  const std::string strWhole = Run(kDelimitedReadBytes);
  EXPECT_EQ(strWhole, "0:ab=cd<=|>e<|=\0+<|<="s);
  for (std::size_t n = 1; n <= input.size() + 1; ++n) EXPECT_EQ(Run(n), strWhole) << n;
}

// A record delimiter that goes out as it came in lets whole runs of records out
// at once: the same bytes as record by record, at every read size, an open last
// record and a delimiter that overlaps itself included.
TEST_F(DelimitedTest, SameRecordDelimiterOutGivesTheBytesOfRecordByRecord) {
  struct Case {
    std::string input;
    const char* pszRecord;
    std::string expected;
    int nStatus;
  };
  const Case cases[] = {
      {"a,b\r\n\r\nc,,d\r\ne", "\r\n", "a\tb\r\n\r\nc\t\td\r\ne\r\n", QUORLIX_OK},
      {"x,y\r\n", "\r\n", "x\ty\r\n", QUORLIX_OK},
      {"aaa,aaaa", "aa", "aaa\taaaa", QUORLIX_OK},  // records "", "a,", "" and nothing open at the end
      {"aaa,aaa", "aa", "aaa\taaaaa", QUORLIX_OK},  // the last "a" is an open record: "aa" is added
      {"no records, one field", ";", "no records\t one field;", QUORLIX_DELIMITED_NO_RECORD},
      {"a;b;", ";", "a;b;", QUORLIX_DELIMITED_NO_FIELD},
  };
  for (const auto& c : cases) {
    const std::string strIn = WriteFile("in.txt", c.input);
    for (std::size_t n = 1; n <= c.input.size() + 1; ++n) {
      const int nStatus = ConvertDelimitedFile(strIn, c.pszRecord, ",", PathOf("out.txt"), "\t", c.pszRecord, n);
      EXPECT_EQ((Result{nStatus, ReadFile(PathOf("out.txt"))}), (Result{c.nStatus, c.expected})) << c.input << " " << n;
    }
  }
}

}  // namespace
