#include "edgar_submission.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr std::size_t kSniffBytes = 8 * 1024;

constexpr std::string_view kFramingTags[] = {"<SEC-DOCUMENT>", "<IMS-DOCUMENT>", "<SEC-HEADER>", "<IMS-HEADER>",
                                             "<SUBMISSION>"};

bool BeginsWithFramingTag(std::string_view line) {
  return std::ranges::any_of(kFramingTags, [line](std::string_view tag) { return line.starts_with(tag); });
}

}  // namespace

bool HasFramingLine(std::string_view head) {
  for (std::size_t start = 0; start < head.size();) {
    if (BeginsWithFramingTag(head.substr(start))) return true;
    const std::size_t end = head.find_first_of("\r\n", start);
    if (end == std::string_view::npos) return false;
    start = end + 1;
  }
  return false;
}

SubmissionSniff SniffSubmission(const char* path) {
  // O_NONBLOCK: a FIFO in the way must not stall the tool; it is no regular file anyway.
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return SubmissionSniff::kUnreadable;
  struct stat info {};
  char head[kSniffBytes];
  std::size_t filled = 0;
  bool readable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  while (readable && filled < sizeof head) {
    const ssize_t got = ::read(fd, head + filled, sizeof head - filled);
    if (got == 0) break;
    if (got < 0) {
      if (errno != EINTR) readable = false;
      continue;
    }
    filled += static_cast<std::size_t>(got);
  }
  ::close(fd);
  if (!readable) return SubmissionSniff::kUnreadable;
  return HasFramingLine({head, filled}) ? SubmissionSniff::kSubmission : SubmissionSniff::kOther;
}
