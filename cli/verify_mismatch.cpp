#include "verify_mismatch.h"

#include <fcntl.h>
#include <magic.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "quorlix_failure.h"
#include "status_messages.h"

namespace {

// ---- libmagic, one database per thread ----

class MagicDatabase {
 public:
  MagicDatabase() : m_cookie(::magic_open(MAGIC_NONE)) {
    if (m_cookie && ::magic_load(m_cookie, nullptr) != 0) {
      ::magic_close(m_cookie);
      m_cookie = nullptr;
    }
  }
  ~MagicDatabase() {
    if (m_cookie) ::magic_close(m_cookie);
  }
  MagicDatabase(const MagicDatabase&) = delete;
  MagicDatabase& operator=(const MagicDatabase&) = delete;

  std::string Describe(std::span<const unsigned char> head) const {
    if (!m_cookie) return {};
    const char* words = ::magic_buffer(m_cookie, head.data(), head.size());
    return words ? OneLine(words) : std::string();
  }

 private:
  magic_t m_cookie;
};

// The file's first kMismatchHeadBytes (fewer when it is shorter); empty when it
// cannot be opened or read.
std::string ReadHead(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  std::string head(kMismatchHeadBytes, '\0');
  std::size_t held = 0;
  while (held < head.size()) {
    const ssize_t got = ::read(fd, head.data() + held, head.size() - held);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) held = 0;
    if (got <= 0) break;
    held += static_cast<std::size_t>(got);
  }
  ::close(fd);
  head.resize(held);
  return head;
}

}  // namespace

std::string DescribeLooks(std::span<const unsigned char> head) {
  thread_local const MagicDatabase database;
  return database.Describe(head.first(std::min(head.size(), kMismatchHeadBytes)));
}

FailureNote ExplainMismatch(const char* path) {
  quorlix_failure failure{};
  quorlix_last_failure(&failure);
  FailureNote note;
  if (failure.cause == QUORLIX_CAUSE_SIGNATURE_MISMATCH) note.detail = failure.detail;
  const std::string head = ReadHead(path);
  if (!head.empty()) note.looksLike = DescribeLooks({reinterpret_cast<const unsigned char*>(head.data()), head.size()});
  return note;
}
