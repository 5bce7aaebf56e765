#include "test_support.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <cstdlib>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorlix_test {

void TempDirTest::SetUp() {
  std::string strTemplate = (std::filesystem::temp_directory_path() / "quorlix-test-XXXXXX").string();
  if (!::mkdtemp(strTemplate.data())) throw std::runtime_error("mkdtemp failed");
  m_dir = strTemplate;
}

void TempDirTest::TearDown() {
  std::error_code ec;
  std::filesystem::permissions(m_dir, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove_all(m_dir, ec);
}

std::string TempDirTest::PathOf(std::string_view strName) const { return (m_dir / strName).string(); }

std::string TempDirTest::WriteFile(std::string_view strName, std::string_view bytes) const {
  const std::string strPath = PathOf(strName);
  std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + strPath);
  return strPath;
}

std::string ReadFile(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + strPath);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool FileExists(const std::string& strPath) { return std::filesystem::exists(strPath); }

std::filesystem::path DataDir() { return QUORLIX_TEST_DATA_DIR; }

ToolRun RunTool(const std::vector<std::string>& args) {
  char szOut[] = "/tmp/quorlix-tool-out-XXXXXX";
  char szErr[] = "/tmp/quorlix-tool-err-XXXXXX";
  const int fdOut = ::mkstemp(szOut);
  const int fdErr = ::mkstemp(szErr);
  if (fdOut < 0 || fdErr < 0) throw std::runtime_error("mkstemp failed");

  std::vector<char*> argv;
  std::string strTool = QUORLIX_TOOL;
  argv.push_back(strTool.data());
  std::vector<std::string> argsCopy = args;
  for (auto& strArg : argsCopy) argv.push_back(strArg.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fdOut, STDOUT_FILENO);
    ::dup2(fdErr, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int nWaitStatus = 0;
  ::waitpid(pid, &nWaitStatus, 0);
  ::close(fdOut);
  ::close(fdErr);
  ToolRun run{WIFEXITED(nWaitStatus) ? WEXITSTATUS(nWaitStatus) : -1, ReadFile(szOut), ReadFile(szErr)};
  ::unlink(szOut);
  ::unlink(szErr);
  return run;
}

}  // namespace quorlix_test
