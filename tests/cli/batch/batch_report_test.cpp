#include "batch/batch_report.h"

#include <gtest/gtest.h>

#include <string>

#include "exit_codes.h"
#include "quorlix.h"
#include "test_support.h"

namespace {

using quorlix_test::ReadFile;

OutputNames FilingOutputs() { return {{"out/q1/a.txt", "out/q1/a.fds.txt"}, 2}; }

TEST(ReportRowOf, ConvertedInputsNameTheirOutputsWhenInPlace) {
  const OutputNames outputs = FilingOutputs();
  InputRow row{"in/q1/a.txt", InputSkip::kNone, false, QUORLIX_OK, &outputs, true, 1234, 0.25, {}};
  EXPECT_EQ(ReportRowOf(row, MeaningOf(Export::kFiling, row)),
            "in/q1/a.txt,0,ok,out/q1/a.txt;out/q1/a.fds.txt,1234,0.250000\r\n");

  row.status = QUORLIX_FILING_NOT_FOUND;
  row.outputsPresent = false;
  EXPECT_EQ(ReportRowOf(row, MeaningOf(Export::kFiling, row)),
            "in/q1/a.txt,3,filing 'in/q1/a.txt' not found,,1234,0.250000\r\n");
}

// Status 0 keeps the column integer; only the meaning says why.
TEST(ReportRowOf, SkippedInputsHaveStatusZeroAndTheirReason) {
  const OutputNames outputs = FilingOutputs();
  const InputRow upToDate{"in/q1/a.txt", InputSkip::kNone, true, QUORLIX_OK, &outputs, true, 7, 0.5, {}};
  EXPECT_EQ(ReportRowOf(upToDate, MeaningOf(Export::kFiling, upToDate)),
            "in/q1/a.txt,0,skipped: up to date,out/q1/a.txt;out/q1/a.fds.txt,7,0.500000\r\n");
  // Passed over before any work: nothing was measured.
  const InputRow inside{"out/x.txt", InputSkip::kInsideOutput, false, QUORLIX_OK, nullptr, false, 0, 0, {}};
  EXPECT_EQ(ReportRowOf(inside, MeaningOf(Export::kFiling, inside)),
            "out/x.txt,0,skipped: inside the output folder,,,\r\n");
  const InputRow sound{"in/a.au", InputSkip::kNotAPage, false, QUORLIX_OK, nullptr, false, 0, 0, {}};
  EXPECT_EQ(ReportRowOf(sound, MeaningOf(Export::kHtml, sound)), "in/a.au,0,skipped: not a page,,,\r\n");
  const InputRow readme{"in/README", InputSkip::kNotAFiling, false, QUORLIX_OK, nullptr, false, 0, 0, {}};
  EXPECT_EQ(ReportRowOf(readme, MeaningOf(Export::kFiling, readme)), "in/README,0,skipped: not a filing,,,\r\n");
}

TEST(ReportRowOf, FieldsWithCommasOrQuotesAreQuotedAndEveryFieldIsUtf8) {
  const OutputNames outputs{{"o/a,\"b\".txt"}, 1};
  InputRow row{"i/a,\"b\".txt", InputSkip::kNone, false, QUORLIX_OK, &outputs, true, 1, 0, {}};
  EXPECT_EQ(ReportRowOf(row, "ok"), "\"i/a,\"\"b\"\".txt\",0,ok,\"o/a,\"\"b\"\".txt\",1,0.000000\r\n");
  // Names are written as the table writes them: a line break or a Latin-1 byte
  // as \xNN; the words of a failure name the file as escaped text.
  row.path = "i/l\nf.txt";
  row.status = QUORLIX_CRLF_INPUT_NOT_FOUND;
  row.outputsPresent = false;
  EXPECT_EQ(ReportRowOf(row, MeaningOf(Export::kCrlf, row)),
            "i/l\\x0af.txt,3,input file 'i/l\\nf.txt' not found,,1,0.000000\r\n");
  EXPECT_EQ(ReportRowOf(row, "a, b"), "i/l\\x0af.txt,3,\"a, b\",,1,0.000000\r\n");
  row.path =
      "i/d\xE9"
      "c.txt";
  EXPECT_EQ(ReportRowOf(row, MeaningOf(Export::kCrlf, row)),
            "i/d\\xe9c.txt,3,input file 'i/d\\xe9c.txt' not found,,1,0.000000\r\n");
}

TEST(ReportRowOf, TheTablesRowsCountMembersSchedulesAndValues) {
  const TableCounts counts{3, 2, 74};
  InputRow row{"day.tar.gz", InputSkip::kNone, false, QUORLIX_OK, nullptr, false, 900, 0.5, {}};
  row.counts = &counts;
  EXPECT_EQ(ReportRowOf(row, "ok", false, true), "day.tar.gz,0,ok,,900,0.500000,3,2,74\r\n");
  // Found to be no filing once read: measured all the same.
  row.skip = InputSkip::kNotAFiling;
  row.readBeforeSkipped = true;
  EXPECT_EQ(ReportRowOf(row, MeaningOf(Export::kSchedules, row), false, true),
            "day.tar.gz,0,skipped: not a filing,,900,0.500000,3,2,74\r\n");
  // The file of an earlier input, not read again.
  row.skip = InputSkip::kRepeated;
  row.readBeforeSkipped = false;
  EXPECT_EQ(ReportRowOf(row, MeaningOf(Export::kSchedules, row), false, true),
            "day.tar.gz,0,skipped: named more than once,,,,,,\r\n");
}

TEST(MeaningOf, FailuresNameTheOutputsTheyWereToWrite) {
  const OutputNames outputs = FilingOutputs();
  const InputRow row{"in/a.txt", InputSkip::kNone, false, QUORLIX_FILING_FILE_ERROR, &outputs, false, 0, 0, {}};
  EXPECT_EQ(MeaningOf(Export::kFiling, row), DescribeStatus(Export::kFiling, QUORLIX_FILING_FILE_ERROR,
                                                            {"in/a.txt", "out/q1/a.txt", "out/q1/a.fds.txt"}));
  EXPECT_NE(MeaningOf(Export::kFiling, row).find("'out/q1/a.fds.txt'"), std::string::npos);
  const InputRow verify{"p.jpg", InputSkip::kNone, false, QUORLIX_VERIFY_MISMATCH, nullptr, false, 0, 0, {}};
  EXPECT_EQ(MeaningOf(Export::kVerify, verify), "contents do not match .jpg");
}

class BatchReportTest : public quorlix_test::TempDirTest {};

TEST_F(BatchReportTest, RowsFollowTheHeaderAndTheFirstFailureInOrderIsTheStatus) {
  const std::string path = PathOf("report.csv");
  BatchReport report({Export::kCrlf, path, false, true, true}, 3);
  ASSERT_TRUE(report.Open());
  const OutputNames outputs{{"out/a"}, 1};
  testing::internal::CaptureStderr();
  EXPECT_TRUE(report.Add({"in/a", InputSkip::kNone, false, QUORLIX_OK, &outputs, true, 1, 0, {}}));
  EXPECT_TRUE(report.Add({"in/b", InputSkip::kNone, false, QUORLIX_CRLF_INPUT_NOT_FOUND, &outputs, false, 0, 0, {}}));
  EXPECT_TRUE(report.Add({"in/c", InputSkip::kNone, false, QUORLIX_CRLF_OUTPUT_ERROR, &outputs, false, 0, 0, {}}));
  EXPECT_EQ(report.Finish(0), QUORLIX_CRLF_INPUT_NOT_FOUND);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "quorlix: input file 'in/b' not found (status 3)\n"
            "quorlix: cannot create or write output file 'out/a' (status 6)\n");
  EXPECT_EQ(ReadFile(path),
            "input,status,meaning,outputs,bytes_in,seconds\r\n"
            "in/a,0,ok,out/a,1,0.000000\r\n"
            "in/b,3,input file 'in/b' not found,,0,0.000000\r\n"
            "in/c,6,cannot create or write output file 'out/a',,0,0.000000\r\n");
}

TEST_F(BatchReportTest, AReportThatCannotBeWrittenEndsWithIoError) {
  BatchReport missing({Export::kCrlf, PathOf("missing/report.csv"), false, true, true}, 1);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(missing.Open());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "quorlix: cannot write the report '" + PathOf("missing/report.csv") + "': No such file or directory\n");

  BatchReport full({Export::kCrlf, "/dev/full", false, true, true}, 1);
  ASSERT_TRUE(full.Open());
  EXPECT_TRUE(full.Add({"in/a", InputSkip::kNone, false, QUORLIX_OK, nullptr, false, 1, 0, {}}));
  testing::internal::CaptureStderr();
  EXPECT_EQ(full.Finish(0), kExitIoError);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "quorlix: cannot write the report '/dev/full': No space left on device\n");
}

}  // namespace
