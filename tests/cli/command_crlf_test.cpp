#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tool_test.h"

namespace {

using quorlix_test::ReadFile;

class CommandCrlfTest : public quorlix_test::ToolTest {};

TEST_F(CommandCrlfTest, ConvertsAndSaysNothing) {
  const std::string in = WriteFile("in.txt", "a\n\n\nb\n");
  const auto run = RunTool({"crlf", "--skip-blank", in, PathOf("out.txt")});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFile(PathOf("out.txt")), "a\r\nb\r\n");
}

TEST_F(CommandCrlfTest, MissingInputExitsWithItsStatusAndOneLine) {
  const std::string in = PathOf("a.txt");
  const auto run = RunTool({"crlf", in, PathOf("out.txt")});
  EXPECT_EQ(run.exitStatus, 3);
  EXPECT_EQ(run.err, "quorlix: input file '" + in + "' not found (status 3)\n");
}

TEST_F(CommandCrlfTest, NamesWithControlBytesOrBackslashesComeOutEscaped) {
  // A newline in a name must not forge a line of its own on stderr.
  const auto run = RunTool({"crlf", "gone\nquorlix: all files converted (status 0)", "o.txt"});
  EXPECT_EQ(run.exitStatus, 3);
  EXPECT_EQ(run.err, "quorlix: input file 'gone\\nquorlix: all files converted (status 0)' not found (status 3)\n");
  const auto slash = RunTool({"crlf", "a\\b\x1b\t\xc3\xa9", "o.txt"});
  EXPECT_EQ(slash.err, "quorlix: input file 'a\\\\b\\x1b\\t\xc3\xa9' not found (status 3)\n");
}

TEST_F(CommandCrlfTest, StandardInputAndOutputStandForFiles) {
  WriteFile("earlier.txt", "kept\r\n");
  Setup setup;
  setup.input = "x\ny\n";
  setup.appendOutTo = PathOf("earlier.txt");
  const auto run = RunTool({"crlf", "-", "-"}, setup);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFile(PathOf("earlier.txt")), "kept\r\nx\r\ny\r\n");  // a >> target keeps what it held

  const auto toFile = RunTool({"crlf", "-", PathOf("o.txt")}, WithInput("z\n"));
  EXPECT_EQ(toFile.exitStatus, 0);
  EXPECT_EQ(ReadFile(PathOf("o.txt")), "z\r\n");
  const auto fromFile = RunTool({"crlf", PathOf("o.txt"), "-"});
  EXPECT_EQ(fromFile.out, "z\r\n");
}

TEST_F(CommandCrlfTest, FileSizeLimitGivesTheOutputErrorNotASignal) {
  const std::string in = WriteFile("big.txt", std::string(64 * 1024, 'a'));
  const auto run = RunTool({"crlf", in, PathOf("out.txt")}, WithFileSizeLimit(4096));
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitStatus, 6);
  // The library saw EFBIG where the write failed, so the words name the limit.
  EXPECT_EQ(run.err,
            "quorlix: cannot write '" + PathOf("out.txt") + "': it would pass the file size limit (status 6)\n");
}

TEST_F(CommandCrlfTest, APipeWhoseReaderLeavesGivesTheOutputErrorNotASignal) {
  const std::string in = WriteFile("big.txt", std::string(8 * 1024 * 1024, 'a'));
  const std::string fifo = PathOf("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // The reading end is open before the tool starts, so the tool's open never
  // finds the pipe without a reader, however late this thread runs.
  const int readEnd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(readEnd, 0);
  std::thread reader([readEnd] {
    // Reads a little, then goes away with the writer still writing; waits a while at most.
    pollfd ready{readEnd, POLLIN, 0};
    char some[16];
    if (::poll(&ready, 1, 30'000) > 0) (void)!::read(readEnd, some, sizeof some);
    ::close(readEnd);
  });
  const auto run = RunTool({"crlf", in, fifo});
  reader.join();
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitStatus, 6);
  EXPECT_EQ(run.err, "quorlix: cannot create or write output file '" + fifo + "' (status 6)\n");
}

TEST_F(CommandCrlfTest, AnInputPastTheSizeLimitIsNamedAsSuch) {
  const std::string in = PathOf("sparse.txt");
  { std::ofstream file(in); }
  std::filesystem::resize_file(in, 0x80000000);  // sparse: refused by its size before a byte is read
  const auto run = RunTool({"crlf", in, PathOf("out.txt")});
  EXPECT_EQ(run.exitStatus, 18);
  EXPECT_EQ(run.err, "quorlix: '" + in +
                         "' is 2147483648 bytes, more than the line-end conversion takes (2147483647 bytes) "
                         "(status 18)\n");
  EXPECT_FALSE(quorlix_test::FileExists(PathOf("out.txt")));
  // In a batch the library's words go with the input to its message and its report row.
  std::filesystem::create_directory(PathOf("in"));
  std::filesystem::rename(in, PathOf("in/sparse.txt"));
  const auto batch = RunTool({"crlf", "-q", "-o", "out", "in", "--report", "-"});
  EXPECT_EQ(batch.exitStatus, 18);
  EXPECT_EQ(batch.err,
            "quorlix: 'in/sparse.txt' is 2147483648 bytes, more than the line-end conversion takes (2147483647 bytes) "
            "(status 18)\n");
  EXPECT_NE(batch.out.find("in/sparse.txt,18,\"'in/sparse.txt' is 2147483648 bytes, more than"), std::string::npos)
      << batch.out;
}

}  // namespace
