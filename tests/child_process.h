// Running a piece of a test in a child process: for what must not touch the test
// process itself (resource limits, a dropped user, a private mount) and for calls
// that could hang, which a bound turns into a failure instead of a stuck suite.
#pragma once

#include <functional>
#include <string>

namespace quorlix_test {

struct ChildResult {
  bool bExited = false;  // false: killed by a signal (SIGALRM when the bound ran out)
  int nCode = -1;        // the exit code, or the signal's number
};

// Runs fn in a forked child that ignores SIGPIPE and SIGXFSZ and is killed after
// nSeconds; fn's return value (0-255) is the child's exit code.
ChildResult RunInChild(const std::function<int()>& fn, unsigned nSeconds = 20);

// "exit code N" or "killed by signal N (hung?)", for failure messages.
std::string Describe(const ChildResult& result);

}  // namespace quorlix_test
