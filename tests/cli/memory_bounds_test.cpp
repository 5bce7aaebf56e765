// The tool's memory on large inputs, read from getrusage: verify's does not grow
// with the file, and a long line costs the table a few copies of it, not ten.
// Sizes are modest so the tests stay quick; bench/bench_memory.sh measures the large ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tool_test.h"

namespace {

constexpr long kMiB = 1024;  // in KiB, as getrusage counts
constexpr std::size_t kLineBytes = std::size_t{40} << 20;

class MemoryBoundsTest : public quorlix_test::ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's shadow memory and quarantine make the tool's peak no measure of its own";
#endif
  }

  // The tool's peak at rest: its start, the library and the magic database.
  long AtRestKiB() { return RunTool({"version"}).peakRssKiB; }

  // A file of count copies of piece, written a piece at a time.
  std::string WriteRepeated(const std::string& name, std::string_view head, std::string_view piece, std::size_t count,
                            std::string_view tail) {
    const std::string path = PathOf(name);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    std::fwrite(head.data(), 1, head.size(), file);
    for (std::size_t i = 0; i < count; ++i) std::fwrite(piece.data(), 1, piece.size(), file);
    std::fwrite(tail.data(), 1, tail.size(), file);
    std::fclose(file);
    return path;
  }
};

TEST_F(MemoryBoundsTest, VerifyReadsATextFileInBlocks) {
  // LF line ends alone: the check reads it to its end, and the tool explains the mismatch.
  const std::string line(79, 'x');
  const std::string text = WriteRepeated("big.txt", "", line + "\n", kLineBytes / 80, "");
  const std::string page = WriteRepeated("big.htm", "<html>", "<p>" + line, kLineBytes / 82, "");
  const long atRest = AtRestKiB();
  for (const std::string& path : {text, page}) {
    const auto run = RunTool({"verify", path});
    EXPECT_EQ(run.exitStatus, 18) << run.out << run.err;
    EXPECT_LT(run.peakRssKiB, atRest + 16 * kMiB) << path;  // the magic database, a block, no file
  }
}

TEST_F(MemoryBoundsTest, ALongLineCostsTheTableAFewCopies) {
  const std::string block(64 * 1024, 'A');
  const std::string filing = WriteRepeated(
      "long.txt",
      "<SEC-HEADER>\nCENTRAL INDEX KEY: 0000000042\n</SEC-HEADER>\n<DOCUMENT>\n<TYPE>EX-27\n<TEXT>\n<ARTICLE> 5\n"
      "<PERIOD-TYPE> YEAR\n<PERIOD-END> DEC-31-1999\n<NAME> ",
      block, kLineBytes / block.size(), "\n<CASH> 5\n</TEXT>\n</DOCUMENT>\n");
  const long atRest = AtRestKiB();
  const long line = static_cast<long>(kLineBytes / 1024);
  for (const std::vector<std::string>& args : {std::vector<std::string>{"schedules", "-q", filing, "-o", "t.csv"},
                                               {"schedules", "-q", "--wide", filing, "-o", "t.csv"},
                                               {"panel", "-q", filing, "-o", "t.csv"}}) {
    const auto run = RunTool(args);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_LT(run.peakRssKiB, atRest + 3 * line + 16 * kMiB) << args[2];
  }
}

}  // namespace
