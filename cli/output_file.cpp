#include "output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "status_messages.h"

namespace {

bool IsStandardOutput(const struct stat& info) {
  struct stat out {};
  return ::fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == info.st_dev && out.st_ino == info.st_ino;
}

}  // namespace

OutputTarget ResolveOutput(const std::string& path) {
  struct stat entry {};
  // Nothing there, or nothing reachable: creating it says why.
  if (::lstat(path.c_str(), &entry) != 0) return {OutputPlace::kFile, path};
  const bool isLink = S_ISLNK(entry.st_mode);
  struct stat target = entry;
  if (isLink && ::stat(path.c_str(), &target) != 0)
    return {errno == ENOENT ? OutputPlace::kDanglingLink : OutputPlace::kFile, path};
  if (!S_ISREG(target.st_mode) && !S_ISDIR(target.st_mode))
    return {IsStandardOutput(target) ? OutputPlace::kStandardOutput : OutputPlace::kAsItStands, path};
  if (!isLink) return {OutputPlace::kFile, path};
  if (IsStandardOutput(target)) return {OutputPlace::kStandardOutput, path};  // /dev/stdout on a file
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return {OutputPlace::kFile, real ? std::string(real.get()) : path};
}

std::string DanglingLinkWords(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
  std::string words = "'";
  words += EscapeName(path);
  words += "' is a link";
  if (length > 0) {
    words += " to '";
    words += EscapeName({target, static_cast<std::size_t>(length)});
    words += "'";
  }
  words += ", which names no file: nothing is written through it";
  return words;
}
