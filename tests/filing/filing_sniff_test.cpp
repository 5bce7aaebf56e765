#include "filing/filing_sniff.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "test_support.h"

namespace {

bool IsSubmission(std::string_view head) { return JudgeSubmissionHead(head, true) == HeadVerdict::kSubmission; }

TEST(JudgeSubmissionHead, AFramingTagMustBeginALine) {
  for (const char* tag : {"<SEC-DOCUMENT>", "<IMS-DOCUMENT>", "<SEC-HEADER>", "<IMS-HEADER>", "<SUBMISSION>"}) {
    EXPECT_TRUE(IsSubmission(std::string(tag) + "0000320193-94-000016.txt")) << tag;
    EXPECT_TRUE(IsSubmission(std::string("banner\r\n\r\n") + tag)) << tag;
    EXPECT_FALSE(IsSubmission(std::string("see ") + tag)) << tag;  // mid-line
  }
  EXPECT_TRUE(IsSubmission("old Mac lines\r<SEC-HEADER>"));
  EXPECT_FALSE(IsSubmission("<sec-document>"));             // EDGAR writes its framing in upper case
  EXPECT_FALSE(IsSubmission("<SEC-DOCUMENT"));              // cut before the tag closes
  EXPECT_FALSE(IsSubmission("<DOCUMENT>\n<TYPE>EX-27\n"));  // a document without its submission's frame
  EXPECT_FALSE(IsSubmission("-----BEGIN PRIVACY-ENHANCED MESSAGE-----\r\nProc-Type: 2001,MIC-CLEAR\r\n"));
  EXPECT_FALSE(IsSubmission(""));
}

TEST(JudgeSubmissionHead, TheWindowStartsPastBlankLinesBomAndPreamble) {
  const std::string frame = "<SEC-DOCUMENT>0000320193-94-000016.txt\r\n";
  EXPECT_TRUE(IsSubmission(std::string(10 * 1024, '\n') + frame));           // blank lines past 8 KiB
  EXPECT_TRUE(IsSubmission(std::string(5000, ' ') + "\r\n\t\r\n" + frame));  // white-space lines
  EXPECT_TRUE(IsSubmission("\xEF\xBB\xBF" + frame));
  const std::string preamble = "-----BEGIN PRIVACY-ENHANCED MESSAGE-----\r\nProc-Type: 2001,MIC-CLEAR\r\n" +
                               std::string(12 * 1024, 'k') + "\r\n \r\n\r\n";  // a line of spaces ends it
  EXPECT_TRUE(IsSubmission(preamble + frame));
  EXPECT_FALSE(IsSubmission(preamble + std::string(kFramingWindowBytes, 'x') + "\n" + frame));
  EXPECT_FALSE(IsSubmission("   <SEC-DOCUMENT>"));  // still at the start of a line only
}

TEST(JudgeSubmissionHead, StopsAtOneMiB) {
  const std::string frame = "<SUBMISSION>\n";
  EXPECT_EQ(JudgeSubmissionHead(std::string(kSniffLimitBytes - 100, '\n'), false), HeadVerdict::kReadOn);
  EXPECT_TRUE(IsSubmission(std::string(kSniffLimitBytes - 100, '\n') + frame));
  EXPECT_EQ(JudgeSubmissionHead(std::string(kSniffLimitBytes, '\n') + frame, false), HeadVerdict::kOther);
  EXPECT_EQ(
      JudgeSubmissionHead("-----BEGIN PRIVACY-ENHANCED MESSAGE-----\n" + std::string(kSniffLimitBytes, 'k'), false),
      HeadVerdict::kOther);  // a preamble that never ends
}

// text as UTF-16 in the given byte order, with or without its BOM.
std::string AsUtf16(std::string_view text, bool bBigEndian, bool bBom) {
  std::string units;
  if (bBom) units = bBigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char c : text) {
    units += bBigEndian ? '\0' : c;
    units += bBigEndian ? c : '\0';
  }
  return units;
}

TEST(JudgeFileHead, KnowsUtf16EitherWay) {
  const std::string filing = "\r\n<SEC-DOCUMENT>0000320193-94-000016.txt\r\n<SEC-HEADER>\r\n";
  for (const bool bBig : {false, true})
    for (const bool bBom : {false, true}) {
      EXPECT_EQ(JudgeFileHead(AsUtf16(filing, bBig, bBom), true), HeadVerdict::kSubmission) << bBig << bBom;
      EXPECT_EQ(JudgeFileHead(AsUtf16("plain text\r\n", bBig, bBom), true), HeadVerdict::kOther) << bBig << bBom;
    }
  EXPECT_EQ(JudgeFileHead(AsUtf16(std::string(9000, '\n') + "<SUBMISSION>", false, false), true),
            HeadVerdict::kSubmission);
  EXPECT_EQ(JudgeFileHead("<SUBMISSION>\n", true), HeadVerdict::kSubmission);  // 8-bit stays 8-bit
}

TEST(JudgeSubmissionHead, ReadsOnUntilEightKiBOrTheEnd) {
  EXPECT_EQ(JudgeSubmissionHead("no frame yet", false), HeadVerdict::kReadOn);
  EXPECT_EQ(JudgeSubmissionHead("no frame at all", true), HeadVerdict::kOther);
  EXPECT_EQ(JudgeSubmissionHead(std::string(kFramingWindowBytes, 'x'), false), HeadVerdict::kOther);
  const std::string early = std::string(kFramingWindowBytes - 13, 'x') + "\n<SUBMISSION>";  // ends at byte 8192
  EXPECT_EQ(JudgeSubmissionHead(early + "\nmore", false), HeadVerdict::kSubmission);
  const std::string late = std::string(kFramingWindowBytes, 'x') + "\n<SUBMISSION>\n";
  EXPECT_EQ(JudgeSubmissionHead(late, false), HeadVerdict::kOther);
}

class SniffSubmissionTest : public quorlix_test::TempDirTest {};

TEST_F(SniffSubmissionTest, OnlyTheFirst8KiBCount) {
  const std::string early = std::string(8 * 1024 - 13, 'x') + "\n<SUBMISSION>";
  EXPECT_EQ(SniffSubmission(WriteFile("early.txt", early)), SubmissionSniff::kSubmission);
  const std::string late = std::string(8 * 1024, 'x') + "\n<SUBMISSION>\n";
  EXPECT_EQ(SniffSubmission(WriteFile("late.txt", late)), SubmissionSniff::kOther);
  EXPECT_EQ(SniffSubmission(WriteFile("empty.txt", "")), SubmissionSniff::kOther);
}

TEST_F(SniffSubmissionTest, ReadsOnPastALongPreambleInTheFile) {
  const std::string frame = "<SEC-DOCUMENT>0000320193-94-000016.txt\n";
  const std::string preamble =
      "-----BEGIN PRIVACY-ENHANCED MESSAGE-----\nProc-Type: 2001,MIC-CLEAR\n" + std::string(200 * 1024, 'k') + "\n\n";
  EXPECT_EQ(SniffSubmission(WriteFile("pem.txt", preamble + frame)), SubmissionSniff::kSubmission);
  EXPECT_EQ(SniffSubmission(WriteFile("blank.txt", std::string(100 * 1024, '\n') + frame)),
            SubmissionSniff::kSubmission);
  EXPECT_EQ(SniffSubmission(WriteFile("far.txt", std::string(2 * 1024 * 1024, '\n') + frame)), SubmissionSniff::kOther);
  std::string utf16 = "\xFF\xFE";
  for (const char c : std::string(6000, '\n') + frame) utf16 += std::string{c, '\0'};
  EXPECT_EQ(SniffSubmission(WriteFile("utf16.txt", utf16)), SubmissionSniff::kSubmission);
}

TEST_F(SniffSubmissionTest, WhatCannotBeReadIsNeither) {
  EXPECT_EQ(SniffSubmission(PathOf("missing.txt")), SubmissionSniff::kUnreadable);
  EXPECT_EQ(SniffSubmission(m_dir), SubmissionSniff::kUnreadable);
  // A FIFO without a writer would block a plain open.
  ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0600), 0);
  EXPECT_EQ(SniffSubmission(PathOf("fifo")), SubmissionSniff::kUnreadable);
}

}  // namespace
