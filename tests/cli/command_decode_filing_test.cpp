#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "packing_fixtures.h"
#include "tool_test.h"

namespace {

using quorlix_test::PackFilter;
using quorlix_test::PackFormat;
using quorlix_test::ReadFile;

class CommandDecodeFilingTest : public quorlix_test::ToolTest {};

TEST_F(CommandDecodeFilingTest, DecodesTheSampleFilingAndSaysNothing) {
  const std::string strFiling = (quorlix_test::DataDir() / "filing/apple_10q_2000q1_ex27.txt").string();
  const auto run = RunTool({"decode-filing", strFiling, PathOf("text.txt"), PathOf("schedule.txt")});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(ReadFile(PathOf("schedule.txt")).starts_with("Article                              5\r\n"));
}

TEST_F(CommandDecodeFilingTest, FailuresExitWithTheirStatusAndOneLine) {
  const std::string strMissing = PathOf("absent.txt");
  const auto missing = RunTool({"decode-filing", strMissing, PathOf("text.txt"), PathOf("schedule.txt")});
  EXPECT_EQ(missing.exitStatus, 3);
  EXPECT_EQ(missing.err, "quorlix: filing '" + strMissing + "' not found (status 3)\n");

  // Not a submission, so the export itself refuses to write over its input.
  const std::string strFiling = WriteFile("filing.txt", "x\n");
  const auto same = RunTool({"decode-filing", strFiling, strFiling, PathOf("schedule.txt")});
  EXPECT_EQ(same.exitStatus, 2);
  EXPECT_EQ(same.err, "quorlix: the output '" + strFiling + "' is the input '" + strFiling + "' itself (status 2)\n");
  EXPECT_EQ(ReadFile(strFiling), "x\n");
}

class DecodeFilingSlipTest : public CommandDecodeFilingTest {
 protected:
  void SetUp() override {
    CommandDecodeFilingTest::SetUp();
    const auto data = quorlix_test::DataDir() / "filing";
    for (const char* name : {"apple_10k_1994_ims_ex27.txt", "apple_10k_1997_ex27.txt", "apple_10q_2000q1_ex27.txt"}) {
      const std::string path = WriteTree(std::string("arch/") + name, ReadFile((data / name).string()));
      m_filings.emplace_back(path, ReadFile(path));
    }
  }
  // Every filing holds the bytes it had before the slip.
  void ExpectFilingsUntouched() const {
    for (const auto& [path, bytes] : m_filings) EXPECT_TRUE(ReadFile(path) == bytes) << path;
  }
  static std::string Refusal(const std::string& path) {
    return "quorlix: refusing to write over '" + path +
           "': it is an EDGAR filing, not an output; to decode several filings: quorlix decode-filing -o OUT_DIR "
           "FILING... (--force writes over it)\n";
  }

  std::vector<std::pair<std::string, std::string>> m_filings;
};

TEST_F(DecodeFilingSlipTest, ThreeFilingsWithoutOutDirAreRefused) {
  const auto run = RunTool({"decode-filing", "arch/apple_10k_1994_ims_ex27.txt", "arch/apple_10k_1997_ex27.txt",
                            "arch/apple_10q_2000q1_ex27.txt"});
  EXPECT_EQ(run.exitStatus, 64);
  EXPECT_EQ(run.err, Refusal("arch/apple_10k_1997_ex27.txt"));
  ExpectFilingsUntouched();

  const auto four = RunTool({"decode-filing", "arch/apple_10k_1994_ims_ex27.txt", "arch/apple_10k_1997_ex27.txt",
                             "arch/apple_10q_2000q1_ex27.txt", "more.txt"});
  EXPECT_EQ(four.exitStatus, 64);
  EXPECT_EQ(four.err,
            "quorlix: expected FILING TEXT_OUT SCHEDULE_OUT, got 4 paths; for several inputs: quorlix decode-filing -o "
            "OUT_DIR FILING...\n");
  ExpectFilingsUntouched();
}

TEST_F(DecodeFilingSlipTest, PathsInTheWrongOrderAreRefusedBeforeAnyOutputIsCreated) {
  const auto run = RunTool({"decode-filing", "text.txt", "sched.txt", "arch/apple_10k_1994_ims_ex27.txt"});
  EXPECT_EQ(run.exitStatus, 64);
  EXPECT_EQ(run.err, Refusal("arch/apple_10k_1994_ims_ex27.txt"));
  EXPECT_FALSE(quorlix_test::FileExists(PathOf("sched.txt")));
  ExpectFilingsUntouched();
  // Through standard input too: nothing is read or written before the check.
  const auto piped = RunTool({"decode-filing", "-", "arch/apple_10q_2000q1_ex27.txt", "-"}, WithInput("x"));
  EXPECT_EQ(piped.exitStatus, 64);
  EXPECT_EQ(piped.err, Refusal("arch/apple_10q_2000q1_ex27.txt"));
  ExpectFilingsUntouched();
}

TEST_F(DecodeFilingSlipTest, ForceWritesOverAFilingAndDecodedTextIsNoFiling) {
  const std::string& victim = m_filings[2].first;
  const auto forced = RunTool({"decode-filing", "--force", m_filings[1].first, PathOf("text.txt"), victim});
  EXPECT_EQ(forced.exitStatus, 0) << forced.err;
  EXPECT_TRUE(ReadFile(victim).starts_with("Article")) << "the schedule replaced the filing";
  // The decoded text keeps the banner that opens the filing but none of its framing
  // lines, so decoding again over earlier outputs goes on working.
  ASSERT_TRUE(ReadFile(PathOf("text.txt")).starts_with("-----BEGIN PRIVACY-ENHANCED MESSAGE-----"));
  const auto again = RunTool({"decode-filing", m_filings[0].first, PathOf("text.txt"), victim});
  EXPECT_EQ(again.exitStatus, 0) << again.err;
}

// 8-bit text as UTF-16LE without a BOM, as some editors save it.
std::string AsUtf16(std::string_view text) {
  std::string units;
  for (const char c : text) units += std::string{c, '\0'};
  return units;
}

TEST_F(DecodeFilingSlipTest, TheBatchFailsAnInputWhoseOutputIsAFilingAndGoesOn) {
  // B/ already holds filings under the names the outputs take, one of them disguised.
  WriteTree("B/apple_10k_1994_ims_ex27.txt", std::string(9000, '\n') + m_filings[0].second);
  WriteTree("B/apple_10k_1997_ex27.fds.txt", AsUtf16(m_filings[1].second));
  const std::string before94 = ReadFile(PathOf("B/apple_10k_1994_ims_ex27.txt"));
  const std::string before97 = ReadFile(PathOf("B/apple_10k_1997_ex27.fds.txt"));
  const auto run = RunTool({"decode-filing", "-q", "--report", "report.csv", "-o", "B/", "arch/"});
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_EQ(run.err,
            "quorlix: 'B/apple_10k_1994_ims_ex27.txt' is an EDGAR filing: --force writes over it (status 2)\n"
            "quorlix: 'B/apple_10k_1997_ex27.fds.txt' is an EDGAR filing: --force writes over it (status 2)\n");
  EXPECT_NE(ReadFile(PathOf("report.csv")).find("'B/apple_10k_1994_ims_ex27.txt' is an EDGAR filing"),
            std::string::npos);
  EXPECT_EQ(ReadFile(PathOf("B/apple_10k_1994_ims_ex27.txt")), before94);
  EXPECT_EQ(ReadFile(PathOf("B/apple_10k_1997_ex27.fds.txt")), before97);
  EXPECT_FALSE(quorlix_test::FileExists(PathOf("B/apple_10k_1994_ims_ex27.fds.txt")));      // none of the pair
  EXPECT_TRUE(ReadFile(PathOf("B/apple_10q_2000q1_ex27.fds.txt")).starts_with("Article"));  // the others go on
  ExpectFilingsUntouched();

  const auto forced = RunTool({"decode-filing", "-q", "--force", "-o", "B/", "arch/"});
  EXPECT_EQ(forced.exitStatus, 0) << forced.err;
  EXPECT_TRUE(ReadFile(PathOf("B/apple_10k_1997_ex27.fds.txt")).starts_with("Article"));
  // Decoded outputs are no filings: decoding again needs no --force.
  const auto again = RunTool({"decode-filing", "-q", "-o", "B/", "arch/"});
  EXPECT_EQ(again.exitStatus, 0) << again.err;
}

TEST_F(DecodeFilingSlipTest, OneFileFormSeesThroughDisguises) {
  const std::string& filing = m_filings[0].second;
  const std::string pem =
      "-----BEGIN PRIVACY-ENHANCED MESSAGE-----\nProc-Type: 2001,MIC-CLEAR\n" + std::string(10000, 'k') + "\n\n";
  const std::string disguises[] = {std::string(9000, '\n') + filing, pem + filing.substr(filing.find("\n\n") + 2),
                                   AsUtf16(filing), "\xEF\xBB\xBF" + filing};
  for (const std::string& bytes : disguises) {
    const std::string victim = WriteFile("victim.txt", bytes);
    const auto run = RunTool({"decode-filing", m_filings[1].first, PathOf("text.txt"), victim});
    EXPECT_EQ(run.exitStatus, 64) << bytes.substr(0, 40);
    EXPECT_EQ(ReadFile(victim), bytes);
  }
  // Compressed, a filing is no output either: nothing writes one.
  for (const PackFilter filter : {PackFilter::kGzip, PackFilter::kBzip2, PackFilter::kXz}) {
    const std::string bytes = quorlix_test::Pack(PackFormat::kNone, filter, {{"f.txt", filing}});
    const std::string victim = WriteFile("victim.txt", bytes);
    EXPECT_EQ(RunTool({"decode-filing", m_filings[1].first, PathOf("text.txt"), victim}).exitStatus, 64);
    WriteTree("D/apple_10k_1997_ex27.txt", bytes);
    EXPECT_EQ(RunTool({"decode-filing", "-q", "-o", "D/", m_filings[1].first}).exitStatus, 2);
    EXPECT_EQ(ReadFile(PathOf("D/apple_10k_1997_ex27.txt")), bytes);
    EXPECT_EQ(ReadFile(victim), bytes);
  }
}

TEST_F(CommandDecodeFilingTest, FilingFromStandardInputAndOneOutputToStandardOutput) {
  const std::string filing = ReadFile((quorlix_test::DataDir() / "filing/apple_10q_2000q1_ex27.txt").string());
  ASSERT_EQ(RunTool({"decode-filing", "-", PathOf("text.txt"), PathOf("schedule.txt")}, WithInput(filing)).exitStatus,
            0);
  const auto run = RunTool({"decode-filing", "-", PathOf("text2.txt"), "-"}, WithInput(filing));
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, ReadFile(PathOf("schedule.txt")));
  EXPECT_EQ(ReadFile(PathOf("text2.txt")), ReadFile(PathOf("text.txt")));
  EXPECT_EQ(RunTool({"decode-filing", "-", "-", "-"}, WithInput(filing)).exitStatus, 64);
}

}  // namespace
