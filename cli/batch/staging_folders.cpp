#include "batch/staging_folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <random>

#include "interrupts.h"

namespace {

constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string RandomTag() {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 engine{std::random_device{}()};
  std::string tag(8, '\0');
  for (char& c : tag) c = kAlphabet[engine() % (sizeof kAlphabet - 1)];
  return tag;
}

// Removes every entry of the open folder fd (private folders hold files only),
// then closes it.
void EmptyAndClose(int fd) {
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

// Whether /proc/self/fd/<fd> names the open folder fd, decided at the first one.
bool ProcFdWorks(int fd) {
  static const bool works = [fd] {
    struct stat viaProc {};
    struct stat direct {};
    return ::stat(("/proc/self/fd/" + std::to_string(fd)).c_str(), &viaProc) == 0 && ::fstat(fd, &direct) == 0 &&
           viaProc.st_ino == direct.st_ino && viaProc.st_dev == direct.st_dev;
  }();
  return works;
}

// Opens a private folder; -1 unless it is the one that was made.
int OpenMade(const StagingFolders::Folder& folder) {
  const int fd = ::open(folder.path.c_str(), kOpenFolder);
  struct stat info {};
  if (fd >= 0 && (::fstat(fd, &info) != 0 || info.st_dev != folder.device || info.st_ino != folder.inode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

void StagingFolders::RemoveAll() {
  const std::lock_guard lock(m_mutex);
  for (auto& [destination, folder] : m_folders) {
    if (const int fd = OpenMade(folder); fd >= 0) {
      EmptyAndClose(fd);
      ::rmdir(folder.path.c_str());
    }
    ForgetTempFolder(folder.path);
  }
  m_folders.clear();
}

const StagingFolders::Folder* StagingFolders::For(const std::string& destination) {
  const std::lock_guard lock(m_mutex);
  if (const auto found = m_folders.find(destination); found != m_folders.end()) return &found->second;
  const std::string base = destination + (destination.ends_with('/') ? "" : "/") + std::string(kPrivatePrefix) +
                           std::to_string(::getpid()) + "-";
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string path = base + RandomTag();
    if (::mkdir(path.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    RegisterTempFolder(path);
    const int fd = ::open(path.c_str(), kOpenFolder);
    struct stat info {};
    // The folder opened must be ours; the mode makes it private whatever the umask.
    const bool ours = fd >= 0 && ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && ::fchmod(fd, 0700) == 0;
    if (fd >= 0) ::close(fd);
    if (!ours) {
      ::rmdir(path.c_str());
      ForgetTempFolder(path);
      return nullptr;
    }
    return &m_folders.emplace(destination, Folder{std::move(path), info.st_dev, info.st_ino}).first->second;
  }
  return nullptr;
}

StagingFolders::Opened::Opened(const StagingFolders::Folder& folder) : m_fd(OpenMade(folder)), m_folder(folder) {}

StagingFolders::Opened::~Opened() {
  if (m_fd >= 0) ::close(m_fd);
}

std::string StagingFolders::Opened::Handed(const std::string& name) const {
  return (ProcFdWorks(m_fd) ? "/proc/self/fd/" + std::to_string(m_fd) : m_folder.path) + "/" + name;
}

bool IsLeftByDeadRun(std::string_view name) {
  if (!name.starts_with(kPrivatePrefix)) return false;
  name.remove_prefix(kPrivatePrefix.size());
  long pid = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (error != std::errc() || end == name.data() + name.size() || *end != '-' || pid <= 0) return false;
  // EPERM: a process that runs under another user.
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

bool RemoveLeftovers(const std::string& folder) {
  const int fd = ::open(folder.c_str(), kOpenFolder);
  if (fd < 0) return false;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return false;
  }
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsLeftByDeadRun(entry->d_name)) continue;
    if (::unlinkat(fd, entry->d_name, 0) == 0 || (errno != EISDIR && errno != EPERM)) continue;
    // A private folder: its files first. O_NOFOLLOW: a link is never entered.
    const int inner = ::openat(fd, entry->d_name, kOpenFolder);
    if (inner >= 0) EmptyAndClose(inner);
    ::unlinkat(fd, entry->d_name, AT_REMOVEDIR);
  }
  ::closedir(dir);
  return true;
}
