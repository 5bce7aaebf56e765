#include "platform/temporaries.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

namespace temporaries {
namespace {

std::mutex g_tempMutex;
std::set<std::string>& TempFiles() {
  static std::set<std::string> files;
  return files;
}
std::set<std::string>& TempFolders() {
  static std::set<std::string> folders;
  return folders;
}
// Held by the steps an end at once must not cut, and by the end for good.
std::mutex g_endMutex;

}  // namespace

void RegisterTempFile(const std::string& path) {
  const std::lock_guard lock(g_tempMutex);
  TempFiles().insert(path);
}

void ForgetTempFile(const std::string& path) {
  const std::lock_guard lock(g_tempMutex);
  TempFiles().erase(path);
}

void RemoveTempFile(const std::string& path) {
  const std::lock_guard lock(g_tempMutex);
  ::unlink(path.c_str());
  TempFiles().erase(path);
}

void RegisterTempFolder(const std::string& path) {
  const std::lock_guard lock(g_tempMutex);
  TempFolders().insert(path);
}

void ForgetTempFolder(const std::string& path) {
  const std::lock_guard lock(g_tempMutex);
  TempFolders().erase(path);
}

HoldOffEnd::HoldOffEnd() { g_endMutex.lock(); }
HoldOffEnd::~HoldOffEnd() { g_endMutex.unlock(); }

void RemoveAllForGood() {
  g_endMutex.lock();
  g_tempMutex.lock();
  for (const auto& path : TempFiles()) ::unlink(path.c_str());
  for (const auto& path : TempFolders()) {
    // Emptied by name: a worker's file in it may not be registered yet. An
    // export still running may create one after the emptying; once the folder
    // is gone, it can create none.
    constexpr int kTries = 100;
    for (int attempt = 0; attempt < kTries; ++attempt) {
      if (DIR* dir = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(dir))
          if (entry->d_name[0] != '.') ::unlinkat(::dirfd(dir), entry->d_name, 0);
        ::closedir(dir);
      }
      if (::rmdir(path.c_str()) == 0 || errno != ENOTEMPTY) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

}  // namespace temporaries
