#include "batch/private_folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <random>

#include "platform/temporaries.h"

namespace batch {

using namespace temporaries;
namespace {

constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

constexpr std::string_view kTagAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kTagBytes = 8;

std::string RandomTag() {
  thread_local std::mt19937_64 engine{std::random_device{}()};
  std::string tag(kTagBytes, '\0');
  for (char& c : tag) c = kTagAlphabet[engine() % kTagAlphabet.size()];
  return tag;
}

// The host's name as a name part: letters, digits, '.' and '-' kept, any other
// byte '_', at most 64 bytes.
std::string HostPart() {
  constexpr std::size_t kHostBytes = 64;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || !*host) return "host";
  std::string part(host, std::min(std::string_view(host).size(), kHostBytes));
  for (char& c : part)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '_';
  return part;
}

// Creates and locks the lock file of the private folder open as fd; -1 when it
// cannot. It is locked under another name and then renamed, so that no --resume
// finds it there unlocked.
int LockFolder(int fd) {
  constexpr const char* kNewLockName = "lock-new";
  const int lockFd = ::openat(fd, kNewLockName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lockFd >= 0 && ::flock(lockFd, LOCK_EX | LOCK_NB) == 0 && ::renameat(fd, kNewLockName, fd, kLockName.data()) == 0)
    return lockFd;
  if (lockFd >= 0) ::close(lockFd);
  return -1;
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

// Removes the private folder name of the folder open as fd when its lock can be
// taken: its run has ended, in whatever pid namespace or host it ran.
bool RemoveEndedRun(int fd, const char* name) {
  const int inner = ::openat(fd, name, kOpenFolder);
  if (inner < 0) return false;
  const int lockFd = ::openat(inner, kLockName.data(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  const bool ended = lockFd >= 0 && ::flock(lockFd, LOCK_EX | LOCK_NB) == 0;
  if (ended) EmptyAndClose(inner);
  else ::close(inner);
  const bool removed = ended && ::unlinkat(fd, name, AT_REMOVEDIR) == 0;
  if (lockFd >= 0) ::close(lockFd);
  return removed;
}

}  // namespace

void StagingFolders::RemoveAll() {
  const std::lock_guard lock(m_mutex);
  for (auto& [destination, folder] : m_folders) {
    if (const int fd = OpenMade(folder); fd >= 0) {
      EmptyAndClose(fd);
      ::rmdir(folder.path.c_str());
    }
    ::close(folder.lockFd);
    ForgetTempFolder(folder.path);
  }
  m_folders.clear();
}

const StagingFolders::Folder* StagingFolders::For(const std::string& destination) {
  const std::lock_guard lock(m_mutex);
  if (const auto found = m_folders.find(destination); found != m_folders.end()) return &found->second;
  const std::string base = destination + (destination.ends_with('/') ? "" : "/");
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string path = base + PrivateFolderName();
    // Registered before it exists: an end at once that comes between the two
    // would otherwise leave the folder behind.
    RegisterTempFolder(path);
    if (::mkdir(path.c_str(), 0700) != 0) {
      const int error = errno;
      ForgetTempFolder(path);
      if (error == EEXIST) continue;
      errno = error;  // the caller tells why from it
      return nullptr;
    }
    const int fd = ::open(path.c_str(), kOpenFolder);
    struct stat info {};
    // The folder opened must be ours; the mode makes it private whatever the umask.
    const bool ours = fd >= 0 && ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && ::fchmod(fd, 0700) == 0;
    const int lockFd = ours ? LockFolder(fd) : -1;
    const int error = errno;
    if (fd >= 0) {
      if (!ours || lockFd < 0) EmptyAndClose(fd);
      else ::close(fd);
    }
    if (lockFd < 0) {
      ::rmdir(path.c_str());
      ForgetTempFolder(path);
      errno = error;
      return nullptr;
    }
    return &m_folders.emplace(destination, Folder{std::move(path), info.st_dev, info.st_ino, lockFd}).first->second;
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

std::string PrivateFolderName() {
  static const std::string host = HostPart();
  return std::string(kPrivatePrefix) + host + "-" + std::to_string(::getpid()) + "-" + RandomTag();
}

bool IsPrivateFolderName(std::string_view name) {
  if (!name.starts_with(kPrivatePrefix)) return false;
  name.remove_prefix(kPrivatePrefix.size());
  const std::size_t tagStart = name.find_last_of('-') + 1;  // 0 when there is no '-'
  const std::string_view tag = name.substr(tagStart);
  if (tagStart == 0 || tag.size() != kTagBytes || tag.find_first_not_of(kTagAlphabet) != std::string_view::npos)
    return false;
  const std::string_view rest = name.substr(0, tagStart - 1);
  const std::size_t pidStart = rest.find_last_of('-') + 1;
  const std::string_view pid = rest.substr(pidStart);
  return pidStart > 1 && !pid.empty() && pid.size() <= 10 &&
         pid.find_first_not_of("0123456789") == std::string_view::npos;
}

bool RemoveLeftovers(const std::string& folder, LeftoverCount& count) {
  const int fd = ::open(folder.c_str(), kOpenFolder);
  if (fd < 0) return false;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return false;
  }
  while (const dirent* entry = ::readdir(dir)) {
    if (!std::string_view(entry->d_name).starts_with(kPrivatePrefix)) continue;
    if (IsPrivateFolderName(entry->d_name) && RemoveEndedRun(fd, entry->d_name)) ++count.removed;
    else ++count.kept;
  }
  ::closedir(dir);
  return true;
}

}  // namespace batch
