#include "one_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <optional>

#include "exit_codes.h"
#include "failure_cause.h"
#include "interrupts.h"
#include "output_file.h"
#include "status_messages.h"

namespace {

constexpr std::size_t kCopyBufferBytes = 64 * 1024;

bool WriteAll(int fd, const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, bytes, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

bool CopyAll(int from, int to) {
  char buffer[kCopyBufferBytes];
  for (;;) {
    const ssize_t got = ::read(from, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (!WriteAll(to, buffer, static_cast<std::size_t>(got))) return false;
  }
}

// The temporary files standing for "-", removed when the call ends.
class StandInFiles {
 public:
  ~StandInFiles() {
    for (const auto& path : m_paths) RemoveTempFile(path);
  }

  // A new empty file in the temporary folder whose name ends in suffix, or "".
  std::string Create(const char* suffix, int& fd) {
    if (!m_watch) {
      m_watch.emplace(SignalWatch::Mode::kEndAtOnce, [](int) {});
    }
    const char* folder = std::getenv("TMPDIR");
    std::string path = std::string(folder && *folder ? folder : "/tmp") + "/quorlix-XXXXXX" + suffix;
    fd = ::mkstemps(path.data(), static_cast<int>(std::string_view(suffix).size()));
    if (fd < 0) return {};
    RegisterTempFile(path);
    m_paths.push_back(path);
    return path;
  }

 private:
  std::optional<SignalWatch> m_watch;
  std::vector<std::string> m_paths;
};

}  // namespace

int RunOneFile(const BatchJob& job, const OneFileCall& call) {
  // The exports open an output in place, so a link's file is written and the
  // link stays; a link to nothing would create a file wherever it points, and
  // /dev/stdout (on a file) would be truncated: it goes the way of "-".
  std::string outputs[2] = {call.output, call.output2};
  for (std::string& output : outputs) {
    if (output.empty() || output == "-") continue;
    const OutputPlace place = ResolveOutput(output).place;
    if (place == OutputPlace::kDanglingLink) return ReportUsageError(DanglingLinkWords(output));
    if (place == OutputPlace::kStandardOutput) output = "-";
  }
  if (outputs[0] == "-" && outputs[1] == "-")
    return ReportUsageError("both outputs, '" + EscapeName(call.output) + "' and '" + EscapeName(call.output2) +
                            "', are standard output");
  if (!call.force) {
    for (const std::string& output : {call.output, call.output2}) {
      if (output.empty() || output == "-") continue;
      if (const std::string words = PackingWords(output, true); !words.empty())
        return ReportUsageError("refusing to write over '" + EscapeName(output) + "': it is " + words +
                                ", not an output (--force writes over it)");
    }
  }
  // An output that is a pipe whose reader went away is an output error to
  // report, not a silent death by SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  StandInFiles standIns;
  std::string input = call.input;
  CallFiles named{call.input, call.output, call.output2};
  // The tool's own copying fails for want of a file, never of memory.
  const FailureCause copyFailed;
  int stdoutSlot = -1;

  if (input == "-") {
    int fd = -1;
    input = standIns.Create(call.inputSuffix, fd);
    const bool copied = !input.empty() && CopyAll(STDIN_FILENO, fd);
    if (fd >= 0 && ::close(fd) != 0) return ReportFailure(job.which, job.nInputError, named, copyFailed);
    if (!copied) return ReportFailure(job.which, job.nInputError, named, copyFailed);
  }
  if (const std::string words = PackingWords(input, false); !words.empty()) {
    named.strDetail = words;
    return ReportFailure(job.which, job.nInputError, named, {CauseKind::kInputIsPacked});
  }
  for (int k = 0; k < 2; ++k) {
    if (outputs[k] != "-") continue;
    int fd = -1;
    outputs[k] = standIns.Create(call.outputSuffix, fd);
    if (fd >= 0) ::close(fd);
    if (outputs[k].empty()) return ReportFailure(job.which, job.nOutputError, named, copyFailed);
    stdoutSlot = k;
  }

  const char* output2 = call.output2.empty() ? nullptr : outputs[1].c_str();
  int status = job.pfnConvert(input.c_str(), outputs[0].c_str(), output2);
  quorlix_failure failure{};
  quorlix_last_failure(&failure);
  FailureCause cause = FindFailureCause(job.which, status, &failure);
  const std::string detail = failure.detail;  // the library's words, where the cause has any
  if (cause.kind == CauseKind::kTooLargeForLineEnds) named.strDetail = detail;
  // A cause met on a stand-in for standard output names the temporary file, where it happened.
  if (cause.kind != CauseKind::kNone && cause.output == stdoutSlot)
    (stdoutSlot == 0 ? named.strOut : named.strOut2) = outputs[stdoutSlot];
  if (stdoutSlot >= 0 && KeepsOutputs(job, status)) {
    const int fd = ::open(outputs[stdoutSlot].c_str(), O_RDONLY | O_CLOEXEC);
    const bool copied = fd >= 0 && CopyAll(fd, STDOUT_FILENO);
    if (fd >= 0) ::close(fd);
    if (!copied) {
      status = job.nOutputError;
      cause = copyFailed;
    }
  }
  return ReportFailure(job.which, status, named, cause);
}

int CheckOneFileForm(const BatchOptions& batch, const std::vector<std::string>& paths, std::string_view form,
                     std::string_view batchForm) {
  if (AsksForBatch(batch)) return ReportUsageError("-T, -0, -j, --report, --resume and --progress need -o OUT_DIR");
  const auto expected = static_cast<std::size_t>(std::ranges::count(form, ' ') + 1);
  if (paths.size() == expected) return 0;
  return ReportUsageError("expected " + std::string(form) + ", got " + std::to_string(paths.size()) +
                          (paths.size() == 1 ? " path" : " paths") + "; for several inputs: " + std::string(batchForm));
}
