#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "quorlix.h"
#include "test_support.h"

namespace {

using quorlix_test::FileExists;
using quorlix_test::ReadFile;

class CrlfTest : public quorlix_test::TempDirTest {
 protected:
  // Converts bytes with the given mode and returns the output file's bytes.
  std::string Convert(std::string_view input, int nMode) {
    const std::string strIn = WriteFile("in.txt", input);
    const int nStatus = CvtCRLF(strIn.c_str(), PathOf("out.txt").c_str(), nMode);
    EXPECT_EQ(nStatus, QUORLIX_OK);
    return ReadFile(PathOf("out.txt"));
  }
  std::string Plain(std::string_view input) { return Convert(input, 0); }
  std::string SkipBlank(std::string_view input) { return Convert(input, 1); }
};

TEST_F(CrlfTest, EveryLineBreakFormBecomesCrLf) {
  struct Case {
    std::string_view input;
    std::string_view expected;
  };
  const Case cases[] = {
      {"A\r\nB", "A\r\nB"},       {"A\nB", "A\r\nB"},
      {"A\rB", "A\r\nB"},         {"A\n\rB", "A\r\n\r\nB"},          // LF CR: two breaks
      {"A\n\nB", "A\r\n\r\nB"},   {"A\r\r\nB", "A\r\n\r\nB"},        // CR CR LF: lone CR, then a pair
      {"A\r\n\nB", "A\r\n\r\nB"}, {"A\nB\nlast", "A\r\nB\r\nlast"},  // no break added after the last line
  };
  for (const auto& c : cases) EXPECT_EQ(Plain(c.input), c.expected) << testing::PrintToString(std::string(c.input));
}

TEST_F(CrlfTest, BreaksAtTheEdgesOfTheFile) {
  EXPECT_EQ(Plain("\nA"), "\r\nA");  // LF first: nothing before it
  EXPECT_EQ(Plain("A\r"), "A\r\n");  // CR last: nothing after it
  EXPECT_EQ(Plain("\r"), "\r\n");
}

TEST_F(CrlfTest, NeighbourTestsSeeDroppedBytes) {
  EXPECT_EQ(Plain(std::string_view("A\r\0\nB", 5)), "A\r\n\r\nB");  // the NUL parts CR from LF
}

TEST_F(CrlfTest, OnlyPrintableAsciiSpaceAndBreaksSurvive) {
  std::string input;
  for (int b = 0; b < 256; ++b) input += static_cast<char>(b);
  std::string expected = "\r\n\r\n";  // the LF at 0x0A and the lone CR at 0x0D
  for (int b = 0x20; b <= 0x7E; ++b) expected += static_cast<char>(b);
  EXPECT_EQ(Plain(input), expected);
  EXPECT_EQ(Plain("caf\xE9\tbar\x7F"), "cafbar");
}

TEST_F(CrlfTest, EmptyOrFullyDroppedInputGivesEmptyOutput) {
  EXPECT_EQ(Plain(""), "");
  EXPECT_EQ(SkipBlank(""), "");
  EXPECT_EQ(Plain("\t\x01\x80\xFF"), "");
}

TEST_F(CrlfTest, SkipBlankRemovesEmptyLinesEverywhere) {
  EXPECT_EQ(SkipBlank("\r\n\nA\r\n\r\n\rB\n\n"), "A\r\nB\r\n");
  EXPECT_EQ(SkipBlank("\n\r\n\r\r"), "");
  EXPECT_EQ(SkipBlank("A\n\rB"), "A\r\nB");  // plain gives two breaks
  EXPECT_EQ(SkipBlank("A\r\r\nB"), "A\r\nB");
}

TEST_F(CrlfTest, SkipBlankKeepsSpacesOfBlankLinesAheadOfTheNextLine) {
  EXPECT_EQ(SkipBlank("A\r\n  \r\nB"), "A\r\n  B");
  EXPECT_EQ(SkipBlank("  \n \n"), "   ");  // lines of spaces only: one line, no break
}

TEST_F(CrlfTest, SkipBlankCountsLinesOfDroppedBytesAsEmpty) {
  EXPECT_EQ(SkipBlank("A\n\t\x80\x01\nB\n"), "A\r\nB\r\n");
}

TEST_F(CrlfTest, SkipBlankEndsTheLastLineLikeThePlainVariant) {
  EXPECT_EQ(SkipBlank("A\r"), "A\r\n");
  EXPECT_EQ(SkipBlank("A"), "A");
}

TEST_F(CrlfTest, EveryModeButOneIsThePlainVariant) {
  const std::string_view input = "A\n\nB\r";
  const std::string expected = Plain(input);
  EXPECT_EQ(expected, "A\r\n\r\nB\r\n");
  for (const int nMode : {2, -1, 100}) EXPECT_EQ(Convert(input, nMode), expected) << nMode;
}

TEST_F(CrlfTest, SamePathReplacesTheFileWithItsConversion) {
  const std::string strPath = WriteFile("both.txt", "one\ntwo\n");
  ASSERT_EQ(CvtCRLF(strPath.c_str(), strPath.c_str(), 0), QUORLIX_OK);
  EXPECT_EQ(ReadFile(strPath), "one\r\ntwo\r\n");
}

TEST_F(CrlfTest, ExistingOutputIsTruncated) {
  WriteFile("out.txt", std::string(1000, 'x'));
  EXPECT_EQ(Plain("short"), "short");
}

// A long input is read ahead while a new output is written: the same bytes as
// the conversion over an existing output, which reads the input whole first.
TEST_F(CrlfTest, LongInputIntoANewOutputIsTheWholeFileConversion) {
  std::string input;
  for (int i = 0; input.size() < (std::size_t{20} << 16); ++i)
    input += "line " + std::to_string(i) + (i % 3 == 0 ? "\n" : i % 3 == 1 ? "\r\n" : "\t\x80\r");
  const std::string strIn = WriteFile("in.txt", input);
  ASSERT_EQ(CvtCRLF(strIn.c_str(), PathOf("new.txt").c_str(), 0), QUORLIX_OK);
  WriteFile("existing.txt", "x");
  ASSERT_EQ(CvtCRLF(strIn.c_str(), PathOf("existing.txt").c_str(), 0), QUORLIX_OK);
  const std::string strNew = ReadFile(PathOf("new.txt"));
  EXPECT_TRUE(strNew == ReadFile(PathOf("existing.txt")));
  EXPECT_GT(strNew.size(), input.size());
}

// A new output is written as the input is read. An input cut short meanwhile is
// the input error, as when it is read whole first, and the output begun for it
// is removed again.
TEST_F(CrlfTest, InputCutShortWhileReadLeavesNoNewOutput) {
  const std::string strIn = WriteFile("in.txt", "");
  std::filesystem::resize_file(strIn, std::uintmax_t{1} << 30);  // a sparse gigabyte of NULs, all dropped
  const std::string strOut = PathOf("out.txt");
  std::atomic<bool> bConverted{false};
  std::thread cutter([&] {
    while (!bConverted && !FileExists(strOut)) std::this_thread::yield();
    if (!bConverted) std::filesystem::resize_file(strIn, 0);
  });
  const int nStatus = CvtCRLF(strIn.c_str(), strOut.c_str(), 0);
  bConverted = true;
  cutter.join();
  EXPECT_EQ(nStatus, QUORLIX_CRLF_INPUT_ERROR);
  EXPECT_FALSE(FileExists(strOut));
}

TEST_F(CrlfTest, MissingInputCreatesNoOutput) {
  EXPECT_EQ(CvtCRLF(PathOf("absent.txt").c_str(), PathOf("out.txt").c_str(), 0), QUORLIX_CRLF_INPUT_NOT_FOUND);
  EXPECT_FALSE(FileExists(PathOf("out.txt")));
}

TEST_F(CrlfTest, BadOutputPathAndFullDiskGiveOutputError) {
  const std::string strIn = WriteFile("in.txt", "x\n");
  EXPECT_EQ(CvtCRLF(strIn.c_str(), PathOf("no-folder/out.txt").c_str(), 0), QUORLIX_CRLF_OUTPUT_ERROR);
  EXPECT_EQ(CvtCRLF(strIn.c_str(), "/dev/full", 1), QUORLIX_CRLF_OUTPUT_ERROR);
}

// The link's own folder exists, so creating the file it names fails as not found.
TEST_F(CrlfTest, OutputLinkIntoAMissingFolderGivesOutputNotFound) {
  const std::string in = WriteFile("in.txt", "x\n");
  std::filesystem::create_symlink(PathOf("no-folder/out.txt"), PathOf("link.txt"));
  EXPECT_EQ(CvtCRLF(in.c_str(), PathOf("link.txt").c_str(), 0), QUORLIX_CRLF_OUTPUT_NOT_FOUND);
  EXPECT_FALSE(FileExists(PathOf("no-folder")));
}

TEST_F(CrlfTest, NullPathsAreEmptyPathsAndBadPaths) {
  const std::string strIn = WriteFile("in.txt", "x\n");
  EXPECT_EQ(CvtCRLF(nullptr, PathOf("out.txt").c_str(), 0), QUORLIX_CRLF_INPUT_ERROR);
  EXPECT_EQ(CvtCRLF(strIn.c_str(), nullptr, 0), QUORLIX_CRLF_OUTPUT_ERROR);
}

}  // namespace
