// Compressed files and archives meet the conversions, which read and write
// plain files only: an input that is one is refused with the conversion's input
// error before anything is written; an output in the way that is one is not
// replaced without --force. In the one-file forms and the batch forms alike.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packing_fixtures.h"
#include "tool_test.h"

namespace {

using quorlix_test::DataDir;
using quorlix_test::FileExists;
using quorlix_test::PackFilter;
using quorlix_test::PackFormat;
using quorlix_test::ReadFile;

class PackedFilesTest : public quorlix_test::ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    m_filing = ReadFile((DataDir() / "filing" / "apple_10q_2000q1_ex27.txt").string());
    m_gz = WriteFile("filing.txt", quorlix_test::Pack(PackFormat::kNone, PackFilter::kGzip, {{"f", m_filing}}));
    m_zip = WriteFile("page.htm", quorlix_test::Pack(PackFormat::kZip, PackFilter::kNone, {{"p.htm", "<BODY>"}}));
    m_tgz = WriteFile("old.txt", quorlix_test::Pack(PackFormat::kTar, PackFilter::kGzip, {{"f", m_filing}}));
  }

  static std::string Refusal(const std::string& input, const char* words, int status) {
    return "quorlix: '" + input + "' is " + words +
           ": decompress it first; quorlix schedules reads it as it is (status " + std::to_string(status) + ")\n";
  }

  std::string m_filing;
  std::string m_gz;   // a gzip-compressed filing named .txt
  std::string m_zip;  // a zip archive named .htm
  std::string m_tgz;  // a gzip-compressed tar archive named .txt
};

TEST_F(PackedFilesTest, APackedInputIsRefusedWithTheConversionsInputError) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"crlf", m_gz, PathOf("out.txt")}, Refusal(m_gz, "a gzip-compressed file", 2)},
      {{"html2text", m_zip, PathOf("out.txt")}, Refusal(m_zip, "a zip archive", 2)},
      {{"delimited", m_tgz, PathOf("out.txt")}, Refusal(m_tgz, "a gzip-compressed tar archive", 1)},
      {{"decode-filing", m_gz, PathOf("out.txt"), PathOf("out.fds.txt")}, Refusal(m_gz, "a gzip-compressed file", 2)},
  };
  for (const auto& refused : cases) {
    const auto run = RunTool(refused.args);
    EXPECT_EQ(run.err, refused.err);
    EXPECT_EQ(run.exitStatus, refused.err.ends_with("(status 1)\n") ? 1 : 2);
    EXPECT_FALSE(FileExists(PathOf("out.txt"))) << refused.args[0];
    EXPECT_FALSE(FileExists(PathOf("out.fds.txt")));
  }
  // From standard input, named as such.
  const auto piped = RunTool({"crlf", "-", "-"}, WithInput(ReadFile(m_gz)));
  EXPECT_EQ(piped.exitStatus, 2);
  EXPECT_EQ(piped.err,
            "quorlix: standard input is a gzip-compressed file: decompress it first; quorlix schedules reads it as it "
            "is (status 2)\n");
  EXPECT_EQ(piped.out, "");
  // verify keeps its rules: a zip named .htm does not agree with its suffix, as before.
  EXPECT_EQ(RunTool({"verify", "-q", m_zip}).exitStatus, 18);
}

TEST_F(PackedFilesTest, AnOutputInTheWayThatIsPackedIsReplacedOnlyWithForce) {
  const std::string in = WriteFile("in.txt", "a\nb\n");
  const auto refused = RunTool({"crlf", in, m_gz});
  EXPECT_EQ(refused.exitStatus, 64);
  EXPECT_EQ(refused.err, "quorlix: refusing to write over '" + m_gz +
                             "': it is a gzip-compressed file, not an output (--force writes over it)\n");
  EXPECT_NE(ReadFile(m_gz), "a\r\nb\r\n");
  const auto schedule = RunTool(
      {"decode-filing", (DataDir() / "filing" / "apple_10q_2000q1_ex27.txt").string(), PathOf("text.txt"), m_tgz});
  EXPECT_EQ(schedule.exitStatus, 64);
  EXPECT_FALSE(FileExists(PathOf("text.txt")));
  const auto forced = RunTool({"crlf", "--force", in, m_gz});
  EXPECT_EQ(forced.exitStatus, 0) << forced.err;
  EXPECT_EQ(ReadFile(m_gz), "a\r\nb\r\n");
}

TEST_F(PackedFilesTest, TheBatchFailsThoseInputsAloneAndGoesOn) {
  WriteTree("in/a.txt", "a\n");
  WriteTree("in/b.txt", ReadFile(m_gz));
  WriteTree("in/c.txt", "c\n");
  WriteTree("out/c.txt", ReadFile(m_tgz));  // c's output in the way
  const auto run = RunTool({"crlf", "-q", "--report", "report.csv", "-o", PathOf("out"), PathOf("in")});
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_EQ(run.err, Refusal(PathOf("in/b.txt"), "a gzip-compressed file", 2) + "quorlix: '" + PathOf("out/c.txt") +
                         "' is a gzip-compressed tar archive: --force writes over it (status 6)\n");
  EXPECT_EQ(ReadFile(PathOf("out/a.txt")), "a\r\n");
  EXPECT_FALSE(FileExists(PathOf("out/b.txt")));
  EXPECT_EQ(ReadFile(PathOf("out/c.txt")), ReadFile(m_tgz));
  const auto forced = RunTool({"crlf", "-q", "--force", "-o", PathOf("out"), PathOf("in/c.txt")});
  EXPECT_EQ(forced.exitStatus, 0) << forced.err;
  EXPECT_EQ(ReadFile(PathOf("out/c.txt")), "c\r\n");
}

}  // namespace
