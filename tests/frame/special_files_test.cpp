// Every export on inputs and outputs that are not regular files: pipes, FIFOs,
// devices, sockets and /proc files. Each call runs in a child process with a
// bound, so a call that would wait for ever fails the test instead of hanging it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "child_process.h"
#include "quorlix.h"
#include "test_support.h"

namespace {

using quorlix_test::Describe;
using quorlix_test::FileExists;
using quorlix_test::ReadFile;
using quorlix_test::RunInChild;

constexpr unsigned kBoundSeconds = 10;

void ExpectStatus(const char* pszCall, const std::function<int()>& call, int nExpected) {
  const auto result = RunInChild(call, kBoundSeconds);
  EXPECT_TRUE(result.bExited) << pszCall << ": " << Describe(result);
  if (result.bExited) {
    EXPECT_EQ(result.nCode, nExpected) << pszCall;
  }
}

class SpecialFileTest : public quorlix_test::TempDirTest {
 protected:
  void TearDown() override {
    if (m_fdPipeRead >= 0) ::close(m_fdPipeRead);
    if (m_fdPipeWrite >= 0) ::close(m_fdPipeWrite);
    if (m_fdSocket >= 0) ::close(m_fdSocket);
    TempDirTest::TearDown();
  }

  // Every export that reads is given strTarget, through links whose names carry
  // the suffixes the name checks want: each refuses it with its input error, and
  // only the delimited conversion, whose set-up opens both files whatever failed,
  // leaves an (empty) output.
  void ExpectRefusedByEveryExport(const std::string& strTarget) {
    std::filesystem::create_symlink(strTarget, PathOf("in.htm"));
    std::filesystem::create_symlink(strTarget, PathOf("in.gif"));
    const std::string strIn = PathOf("in.htm"), strGif = PathOf("in.gif");
    const std::string strOut = PathOf("out.txt"), strSchedule = PathOf("schedule.txt");

    ExpectStatus(
        "CvtCRLF", [&] { return CvtCRLF(strIn.c_str(), strOut.c_str(), 0); }, QUORLIX_CRLF_INPUT_ERROR);
    ExpectStatus(
        "CvtHTMLtoText", [&] { return CvtHTMLtoText(strIn.c_str(), strOut.c_str(), 0); }, QUORLIX_HTML_INPUT_ERROR);
    ExpectStatus(
        "CvtDecodeFiling", [&] { return CvtDecodeFiling(strIn.c_str(), strOut.c_str(), strSchedule.c_str()); },
        QUORLIX_FILING_FILE_ERROR);
    EXPECT_FALSE(FileExists(strOut));
    EXPECT_FALSE(FileExists(strSchedule));
    ExpectStatus(
        "CvtVerifyFile whole", [&] { return CvtVerifyFile(strIn.c_str()); }, QUORLIX_VERIFY_FILE_ERROR);
    ExpectStatus(
        "CvtVerifyFile prefix", [&] { return CvtVerifyFile(strGif.c_str()); }, QUORLIX_VERIFY_FILE_ERROR);
    ExpectStatus(
        "CvtDelimitedFile", [&] { return CvtDelimitedFile(strIn.c_str(), "\n", ",", strOut.c_str(), "\t", "\n"); },
        QUORLIX_DELIMITED_INPUT_ERROR);
    ASSERT_TRUE(FileExists(strOut));
    EXPECT_EQ(ReadFile(strOut), "");
  }

  int m_fdPipeRead = -1;
  int m_fdPipeWrite = -1;
  int m_fdSocket = -1;
};

// ---- Inputs ----

TEST_F(SpecialFileTest, PipeWithDataIsRefusedAsInput) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  m_fdPipeRead = fds[0];
  m_fdPipeWrite = fds[1];
  ASSERT_EQ(::write(m_fdPipeWrite, "a,b\n", 4), 4);  // data waits, and the writer stays: a read would block
  ExpectRefusedByEveryExport("/proc/self/fd/" + std::to_string(m_fdPipeRead));
}

TEST_F(SpecialFileTest, FifoWithoutWriterIsRefusedAtOnce) {
  ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0600), 0);
  ExpectRefusedByEveryExport(PathOf("fifo"));
}

TEST_F(SpecialFileTest, EndlessDeviceIsRefusedAsInput) { ExpectRefusedByEveryExport("/dev/zero"); }

TEST_F(SpecialFileTest, SocketIsRefusedAsInput) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string strSocket = PathOf("socket");
  ASSERT_LT(strSocket.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, strSocket.c_str(), strSocket.size() + 1);
  m_fdSocket = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(m_fdSocket, 0);
  ASSERT_EQ(::bind(m_fdSocket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(m_fdSocket, 1), 0);
  ExpectRefusedByEveryExport(strSocket);
}

// /proc files measure 0 and are read to their end.
TEST_F(SpecialFileTest, ProcFileConvertsItsContent) {
  const std::string strOut = PathOf("out.txt"), strSchedule = PathOf("schedule.txt");
  ASSERT_EQ(CvtCRLF("/proc/self/status", strOut.c_str(), 0), QUORLIX_OK);
  const std::string strText = ReadFile(strOut);
  EXPECT_TRUE(strText.starts_with("Name:")) << strText;
  EXPECT_NE(strText.find("\r\nPid:"), std::string::npos) << strText;

  ASSERT_EQ(CvtDecodeFiling("/proc/self/status", strOut.c_str(), strSchedule.c_str()), QUORLIX_OK);
  EXPECT_NE(ReadFile(strOut).find("\r\nPid:"), std::string::npos);
  EXPECT_EQ(ReadFile(strSchedule), "");

  ASSERT_EQ(CvtDelimitedFile("/proc/self/status", "\n", ":", strOut.c_str(), "=", ";"), QUORLIX_OK);
  EXPECT_TRUE(ReadFile(strOut).starts_with("Name=")) << ReadFile(strOut);
}

// A /proc file longer than the filing decoder's block and the first load buffer:
// the command line of a shell started with two long arguments, which waits on a
// pipe until the test is done. Both conversions must read it exactly as they
// read a regular copy of it.
TEST_F(SpecialFileTest, LongProcFileConvertsAsItsCopyDoes) {
  std::string strArg;
  for (int i = 0; strArg.size() < 100 * 1024; ++i) strArg += "<LINE> " + std::to_string(i) + " of a command line\n";
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[0], STDIN_FILENO);
    ::close(fds[1]);
    ::execl("/bin/sh", "sh", "-c", "read line", "sh", strArg.c_str(), strArg.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[0]);
  m_fdPipeWrite = fds[1];  // closed at the end of the test, which lets the shell go
  const std::string strProc = "/proc/" + std::to_string(pid) + "/cmdline";
  std::string strBytes;
  for (int nTry = 0; nTry < 500 && strBytes.size() < 2 * strArg.size(); ++nTry) {
    ::usleep(10000);  // until the shell runs
    strBytes = ReadFile(strProc);
  }
  ASSERT_GT(strBytes.size(), 2 * strArg.size());
  const std::string strCopy = WriteFile("copy.txt", strBytes);

  const auto convertBoth = [&](const std::function<int(const std::string&, const std::string&)>& convert) {
    EXPECT_EQ(convert(strProc, PathOf("from_proc.txt")), QUORLIX_OK);
    EXPECT_EQ(convert(strCopy, PathOf("from_copy.txt")), QUORLIX_OK);
    EXPECT_TRUE(ReadFile(PathOf("from_proc.txt")) == ReadFile(PathOf("from_copy.txt")));
  };
  convertBoth(
      [](const std::string& strIn, const std::string& strOut) { return CvtCRLF(strIn.c_str(), strOut.c_str(), 0); });
  convertBoth([&](const std::string& strIn, const std::string& strOut) {
    return CvtDecodeFiling(strIn.c_str(), strOut.c_str(), PathOf("schedule.txt").c_str());
  });
  ::close(m_fdPipeWrite);
  m_fdPipeWrite = -1;
  ::waitpid(pid, nullptr, 0);
}

// What the shell opens for "< file" is a regular file, however it is named.
TEST_F(SpecialFileTest, StandardInputFromARegularFileConverts) {
  const std::string strIn = WriteFile("in.txt", "a\nb");
  const std::string strOut = PathOf("out.txt");
  ExpectStatus(
      "CvtCRLF /dev/stdin",
      [&] {
        const int fd = ::open(strIn.c_str(), O_RDONLY);
        if (fd < 0 || ::dup2(fd, STDIN_FILENO) < 0) return 99;
        return CvtCRLF("/dev/stdin", strOut.c_str(), 0);
      },
      QUORLIX_OK);
  EXPECT_EQ(ReadFile(strOut), "a\r\nb");
}

// ---- Outputs ----

class SpecialOutputTest : public quorlix_test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    // Large enough to fill a pipe many times over.
    std::string strLines;
    for (int i = 0; i < 40000; ++i) strLines += "line of a text, " + std::to_string(i) + "\n";
    m_strIn = WriteFile("in.txt", strLines);
    m_strPage = WriteFile("page.htm", "<BODY>" + strLines + "</BODY>");
    ASSERT_EQ(::mkfifo(PathOf("fifo.txt").c_str(), 0600), 0);
    m_strFifo = PathOf("fifo.txt");
  }

  // Every export's output error when its output is the FIFO.
  void ExpectOutputErrorFromEveryExport(const std::function<int(const std::function<int()>&)>& runWith) {
    const std::string strSchedule = PathOf("schedule.txt");
    ExpectStatus(
        "CvtCRLF", [&] { return runWith([&] { return CvtCRLF(m_strIn.c_str(), m_strFifo.c_str(), 0); }); },
        QUORLIX_CRLF_OUTPUT_ERROR);
    ExpectStatus(
        "CvtHTMLtoText",
        [&] { return runWith([&] { return CvtHTMLtoText(m_strPage.c_str(), m_strFifo.c_str(), 0); }); },
        QUORLIX_HTML_OUTPUT_ERROR);
    ExpectStatus(
        "CvtDecodeFiling",
        [&] {
          return runWith([&] { return CvtDecodeFiling(m_strIn.c_str(), m_strFifo.c_str(), strSchedule.c_str()); });
        },
        QUORLIX_FILING_FILE_ERROR);
    ExpectStatus(
        "CvtDelimitedFile",
        [&] {
          return runWith([&] { return CvtDelimitedFile(m_strIn.c_str(), "\n", ",", m_strFifo.c_str(), "\t", "\n"); });
        },
        QUORLIX_DELIMITED_OUTPUT_ERROR);
  }

  std::string m_strIn, m_strPage, m_strFifo;
};

TEST_F(SpecialOutputTest, FifoWithoutReaderIsTheOutputErrorAtOnce) {
  ExpectOutputErrorFromEveryExport([](const std::function<int()>& call) { return call(); });
}

// The reader takes a few bytes and leaves; the writer, holding no read end of
// its own, gets EPIPE (SIGPIPE is ignored in the child) instead of blocking.
TEST_F(SpecialOutputTest, FifoWhoseReaderLeavesEarlyIsTheOutputError) {
  const std::string strFifo = m_strFifo;
  ExpectOutputErrorFromEveryExport([strFifo](const std::function<int()>& call) {
    const int fdRead = ::open(strFifo.c_str(), O_RDONLY | O_NONBLOCK);
    if (fdRead < 0) return 100;
    const pid_t reader = ::fork();
    if (reader == 0) {
      ::alarm(kBoundSeconds);  // alarms are not inherited: the reader needs a bound of its own
      char buf[16];
      while (::read(fdRead, buf, sizeof buf) <= 0) ::usleep(1000);  // no writer yet, or nothing written yet
      ::_exit(0);
    }
    ::close(fdRead);
    const int nStatus = call();
    ::waitpid(reader, nullptr, 0);
    return nStatus;
  });
}

// Write permission is all an output needs. Root may write anything, so the call
// runs as an ordinary user where the test runs as root.
TEST_F(SpecialOutputTest, OutputWithWritePermissionOnlyIsWritten) {
  const std::string strIn = WriteFile("short.txt", "a\nb");
  const std::string strOut = WriteFile("out.txt", "old");
  constexpr uid_t kNobody = 65534;
  const bool bRoot = ::geteuid() == 0;
  if (bRoot) {
    ASSERT_EQ(::chmod(m_dir.c_str(), 0755), 0);
    ASSERT_EQ(::chown(strOut.c_str(), kNobody, kNobody), 0);
  }
  ASSERT_EQ(::chmod(strOut.c_str(), 0200), 0);
  ExpectStatus(
      "CvtCRLF",
      [&] {
        if (bRoot && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) return 99;
        return CvtCRLF(strIn.c_str(), strOut.c_str(), 0);
      },
      QUORLIX_OK);
  ASSERT_EQ(::chmod(strOut.c_str(), 0600), 0);
  EXPECT_EQ(ReadFile(strOut), "a\r\nb");
}

}  // namespace
