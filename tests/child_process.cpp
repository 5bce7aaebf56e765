#include "child_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace quorlix_test {

ChildResult RunInChild(const std::function<int()>& fn, unsigned nSeconds) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    ::alarm(nSeconds);
    ::_exit(fn() & 0xFF);
  }
  ChildResult result;
  if (pid < 0) return result;
  int nWaitStatus = 0;
  while (::waitpid(pid, &nWaitStatus, 0) < 0 && errno == EINTR) {
  }
  result.bExited = WIFEXITED(nWaitStatus);
  result.nCode = result.bExited ? WEXITSTATUS(nWaitStatus) : WTERMSIG(nWaitStatus);
  return result;
}

std::string Describe(const ChildResult& result) {
  if (result.bExited) return "exit code " + std::to_string(result.nCode);
  return "killed by signal " + std::to_string(result.nCode) + (result.nCode == SIGALRM ? " (hung)" : "");
}

}  // namespace quorlix_test
