#include "test_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

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

int StatusWithDescriptorsLeft(int left, const std::function<void()>& warmUp, const std::function<int()>& call) {
  std::fflush(nullptr);  // else the child would write the parent's buffered output again
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    try {
      warmUp();
      // A small limit, every descriptor under it taken, then the last `left` of them given back.
      rlimit limit{};
      if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(kNoDescriptorsSetUpFailed);
      limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 256);
      if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(kNoDescriptorsSetUpFailed);
      std::vector<int> taken;
      for (int fd; (fd = ::dup(STDERR_FILENO)) >= 0;) taken.push_back(fd);
      if (errno != EMFILE || static_cast<int>(taken.size()) < left) ::_exit(kNoDescriptorsSetUpFailed);
      for (int i = 0; i < left; ++i) {
        ::close(taken.back());
        taken.pop_back();
      }
      ::_exit(call());  // _exit: static destructors would want descriptors too
    } catch (...) {
      ::_exit(kNoDescriptorsSetUpFailed);
    }
  }
  int waitStatus = 0;
  while (::waitpid(pid, &waitStatus, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

}  // namespace quorlix_test
