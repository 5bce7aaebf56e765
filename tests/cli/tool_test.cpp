#include "tool_test.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <stdexcept>

namespace quorlix_test {

void ToolTest::SetUp() {
  TempDirTest::SetUp();
  m_ioDir = PathOf(".tool-io");
  std::filesystem::create_directory(m_ioDir);
}

void ToolTest::TearDown() {
  if (!m_sharedDir.empty()) {
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_sharedDir, error))
      if (entry.is_directory())
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(m_sharedDir, error);
  }
  TempDirTest::TearDown();
}

std::string ToolTest::MakeFolderForAnyUser(std::string& why) {
  std::string folder = "/tmp/quorlix-shared-XXXXXX";
  if (!::mkdtemp(folder.data())) {
    why = "no folder can be made under /tmp";
    return {};
  }
  m_sharedDir = folder;
  std::error_code error;
  std::filesystem::permissions(folder, std::filesystem::perms(0755), error);
  if (!error) std::filesystem::copy_file(QUORLIX_TOOL, folder + "/quorlix", error);
  if (!error) std::filesystem::permissions(folder + "/quorlix", std::filesystem::perms(0755), error);
  if (error) {
    why = "the tool cannot be copied to " + folder + ": " + error.message();
    return {};
  }
  return folder;
}

pid_t ToolTest::StartTool(const std::vector<std::string>& args, const Setup& setup) {
  const std::string inPath = m_ioDir + "/in";
  const std::string outPath = setup.appendOutTo.empty() ? m_ioDir + "/out" : setup.appendOutTo;
  const std::string errPath = m_ioDir + "/err";
  {
    const int fd = ::open(inPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::write(fd, setup.input.data(), setup.input.size()) != static_cast<ssize_t>(setup.input.size()))
      throw std::runtime_error("cannot write the tool's input");
    ::close(fd);
  }
  std::vector<std::string> argsCopy = setup.runUnder;
  argsCopy.push_back(setup.tool.empty() ? std::string(QUORLIX_TOOL) : setup.tool);
  argsCopy.insert(argsCopy.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argsCopy) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const std::string folder = setup.folder.empty() ? m_dir.string() : setup.folder;

  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open(inPath.c_str(), O_RDONLY);
    const int out =
        ::open(outPath.c_str(), O_WRONLY | O_CREAT | (setup.appendOutTo.empty() ? O_TRUNC : O_APPEND), 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || ::chdir(folder.c_str()) != 0) ::_exit(126);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    const auto id = static_cast<uid_t>(setup.userId);
    if (setup.userId >= 0 && (::setgroups(0, nullptr) != 0 || ::setgid(id) != 0 || ::setuid(id) != 0)) ::_exit(125);
    if (setup.fileSizeLimit >= 0) {
      const rlimit limit{static_cast<rlim_t>(setup.fileSizeLimit), static_cast<rlim_t>(setup.fileSizeLimit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (setup.openFilesLimit >= 0) {
      const rlimit limit{static_cast<rlim_t>(setup.openFilesLimit), static_cast<rlim_t>(setup.openFilesLimit)};
      ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

ToolTest::Run ToolTest::FinishTool(pid_t pid) {
  int waitStatus = 0;
  struct rusage usage {};
  ::wait4(pid, &waitStatus, 0, &usage);
  const std::string outPath = m_ioDir + "/out";
  Run run{WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1, WIFSIGNALED(waitStatus) ? WTERMSIG(waitStatus) : 0,
          FileExists(outPath) ? ReadFile(outPath) : std::string(), ReadFile(m_ioDir + "/err"), usage.ru_maxrss};
  return run;
}

ToolTest::Run ToolTest::RunTool(const std::vector<std::string>& args, const Setup& setup) {
  return FinishTool(StartTool(args, setup));
}

std::string ToolTest::WriteTree(std::string_view relPath, std::string_view bytes) const {
  std::filesystem::create_directories((m_dir / relPath).parent_path());
  return WriteFile(relPath, bytes);
}

std::vector<std::string> ToolTest::ListFiles(const std::string& folder) {
  std::vector<std::string> files;
  if (!std::filesystem::exists(folder)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files.push_back(std::filesystem::relative(entry.path(), folder).string());
  std::ranges::sort(files);
  return files;
}

}  // namespace quorlix_test
