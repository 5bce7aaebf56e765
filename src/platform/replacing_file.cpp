#include "platform/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

#include "platform/temporaries.h"

std::string TemporaryNameFor(const std::string& finalPath) {
  static std::atomic<unsigned> nCalls{0};
  thread_local std::mt19937_64 engine{std::random_device{}()};
  const std::size_t nNameStart = finalPath.find_last_of('/') + 1;  // npos + 1 is 0
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%016llx-%x.tmp", static_cast<unsigned long long>(engine()),
                nCalls.fetch_add(1));
  return finalPath.substr(0, nNameStart) + ".quorlix-" + finalPath.substr(nNameStart) + suffix;
}

std::string ReplacedFileOf(const std::string& path) {
  struct stat entry {};
  if (::lstat(path.c_str(), &entry) != 0 || !S_ISLNK(entry.st_mode)) return path;
  struct stat target {};
  if (::stat(path.c_str(), &target) != 0) return errno == ENOENT ? std::string() : path;
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

int RenameIntoPlace(int fromFolderFd, const std::string& name, const std::string& registered,
                    const std::string& finalPath) noexcept {
  if (::renameat(fromFolderFd, name.c_str(), AT_FDCWD, finalPath.c_str()) != 0) return errno;
  try {
    temporaries::ForgetTempFile(registered);
  } catch (...) {
    // Only a path forgotten late: an end at once unlinks a name no longer there.
  }
  return 0;
}

int CReplacingFile::Create(const std::string& finalPath, bool followLink) noexcept {
  Abandon();
  m_temporary.clear();
  try {
    m_final = followLink ? ReplacedFileOf(finalPath) : finalPath;
    if (m_final.empty()) return ENOENT;
    struct stat info {};
    if (::stat(m_final.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return EISDIR;
    constexpr int kAttempts = 16;
    for (int nAttempt = 1;; ++nAttempt) {
      m_temporary = m_namer(m_final);
      // Registered first: an end at once between the two steps leaves nothing.
      temporaries::RegisterTempFile(m_temporary);
      m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (m_fd >= 0) {
        m_bMade = true;
        return 0;
      }
      const int nError = errno;
      temporaries::ForgetTempFile(m_temporary);
      if (nError != EEXIST || nAttempt == kAttempts) return nError;
    }
  } catch (...) {
    Abandon();
    return ENOMEM;
  }
}

int CReplacingFile::CreateClosed(const std::string& finalPath, bool followLink) noexcept {
  const int nError = Create(finalPath, followLink);
  if (nError == 0) {
    ::close(m_fd);
    m_fd = -1;
  }
  return nError;
}

int CReplacingFile::Commit(bool* pbCloseFailed) noexcept {
  if (pbCloseFailed) *pbCloseFailed = false;
  if (!m_bMade) return EINVAL;
  if (m_fd >= 0) {
    const int nClosed = ::close(m_fd);
    m_fd = -1;
    if (nClosed != 0) {
      const int nError = errno;
      if (pbCloseFailed) *pbCloseFailed = true;
      Abandon();
      return nError;
    }
  }
  const int nError = RenameIntoPlace(AT_FDCWD, m_temporary, m_temporary, m_final);
  if (nError != 0) Abandon();
  else m_bMade = false;
  return nError;
}

void CReplacingFile::Abandon() noexcept {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  if (!m_bMade) return;
  m_bMade = false;
  try {
    temporaries::RemoveTempFile(m_temporary);
  } catch (...) {
    ::unlink(m_temporary.c_str());
  }
}
