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

TEST_F(SniffSubmissionTest, WhatCannotBeReadIsNeither) {
  EXPECT_EQ(SniffSubmission(PathOf("missing.txt")), SubmissionSniff::kUnreadable);
  EXPECT_EQ(SniffSubmission(m_dir), SubmissionSniff::kUnreadable);
  // A FIFO without a writer would block a plain open.
  ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0600), 0);
  EXPECT_EQ(SniffSubmission(PathOf("fifo")), SubmissionSniff::kUnreadable);
}

}  // namespace
