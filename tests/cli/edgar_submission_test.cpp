#include "edgar_submission.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "test_support.h"

namespace {

TEST(HasFramingLine, AFramingTagMustBeginALine) {
  for (const char* tag : {"<SEC-DOCUMENT>", "<IMS-DOCUMENT>", "<SEC-HEADER>", "<IMS-HEADER>", "<SUBMISSION>"}) {
    EXPECT_TRUE(HasFramingLine(std::string(tag) + "0000320193-94-000016.txt")) << tag;
    EXPECT_TRUE(HasFramingLine(std::string("banner\r\n\r\n") + tag)) << tag;
    EXPECT_FALSE(HasFramingLine(std::string("see ") + tag)) << tag;  // mid-line
  }
  EXPECT_TRUE(HasFramingLine("old Mac lines\r<SEC-HEADER>"));
  EXPECT_FALSE(HasFramingLine("<sec-document>"));  // EDGAR writes its framing in upper case
  EXPECT_FALSE(HasFramingLine("<SEC-DOCUMENT"));   // cut before the tag closes
  EXPECT_FALSE(HasFramingLine("-----BEGIN PRIVACY-ENHANCED MESSAGE-----\r\nProc-Type: 2001,MIC-CLEAR\r\n"));
  EXPECT_FALSE(HasFramingLine(""));
}

class SniffSubmissionTest : public quorlix_test::TempDirTest {};

TEST_F(SniffSubmissionTest, OnlyTheFirst8KiBCount) {
  const std::string early = std::string(8 * 1024 - 13, 'x') + "\n<SUBMISSION>";  // ends at byte 8192
  EXPECT_EQ(SniffSubmission(WriteFile("early.txt", early).c_str()), SubmissionSniff::kSubmission);
  const std::string late = std::string(8 * 1024, 'x') + "\n<SUBMISSION>\n";
  EXPECT_EQ(SniffSubmission(WriteFile("late.txt", late).c_str()), SubmissionSniff::kOther);
  EXPECT_EQ(SniffSubmission(WriteFile("empty.txt", "").c_str()), SubmissionSniff::kOther);
}

TEST_F(SniffSubmissionTest, WhatCannotBeReadIsNeither) {
  EXPECT_EQ(SniffSubmission(PathOf("missing.txt").c_str()), SubmissionSniff::kUnreadable);
  EXPECT_EQ(SniffSubmission(m_dir.c_str()), SubmissionSniff::kUnreadable);
  // A FIFO without a writer would block a plain open.
  ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0600), 0);
  EXPECT_EQ(SniffSubmission(PathOf("fifo").c_str()), SubmissionSniff::kUnreadable);
}

}  // namespace
