#include "failure_cause.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string_view>

#include "file_paths.h"
#include "quorlix.h"
#include "quorlix_schedules.h"

namespace {

// ---- Which failures are looked into ----

struct CauseSearch {
  Export which;
  int status;
  bool outputsChecked;      // a generic output error: the outputs' names, folders and file systems
  bool inputMayBeAnOutput;  // false where writing over the input is allowed (in place)
  bool bodyCaseChecked;     // no body found: a page written in lower case
  bool sizeChecked;         // the line-end pass failed: an input past its limit
};

constexpr CauseSearch kCauseSearches[] = {
    {Export::kCrlf, QUORLIX_CRLF_OUTPUT_NOT_FOUND, true, false, false, false},
    {Export::kCrlf, QUORLIX_CRLF_OUTPUT_ERROR, true, false, false, false},
    {Export::kCrlf, QUORLIX_CRLF_PASS_FAILED, false, false, false, true},
    {Export::kHtml, QUORLIX_HTML_OUTPUT_NOT_FOUND, true, false, false, false},
    {Export::kHtml, QUORLIX_HTML_OUTPUT_ERROR, true, false, false, false},
    {Export::kHtml, QUORLIX_HTML_NO_BODY, false, false, true, false},
    {Export::kFiling, QUORLIX_FILING_FILE_ERROR, true, true, false, false},
    {Export::kDelimited, QUORLIX_DELIMITED_OUTPUT_ERROR, true, true, false, false},
};

// ---- Looking at the files ----

// The line-end conversion's output, up to twice its input, has a 32-bit length:
// a longer input fails with the pass's memory status before a byte is read.
constexpr std::uint64_t kLongestLineEndInput = 0x7FFFFFFF;

std::uint64_t SizeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat infoA {};
  struct stat infoB {};
  return ::stat(a.c_str(), &infoA) == 0 && ::stat(b.c_str(), &infoB) == 0 && infoA.st_dev == infoB.st_dev &&
         infoA.st_ino == infoB.st_ino;
}

// The outputs the conversion writes need at most twice the input (every line
// end may grow to CR LF) and some blocks of their own; less room than that
// free on their file system is taken as the cause of a write that failed.
bool LacksRoomFor(const struct statvfs& space, std::uint64_t inputBytes) {
  constexpr std::uint64_t kSlackBytes = 64 * 1024;
  const std::uint64_t freeBytes = static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize;
  return freeBytes < 2 * inputBytes + kSlackBytes;
}

CauseKind FindOutputCause(const std::string& output, std::uint64_t inputBytes) {
  const std::string folder = FolderOf(output);
  struct stat folderInfo {};
  if (::stat(folder.c_str(), &folderInfo) != 0)
    return errno == ENOTDIR ? CauseKind::kNotAFolder : errno == ENOENT ? CauseKind::kFolderMissing : CauseKind::kNone;
  if (!S_ISDIR(folderInfo.st_mode)) return CauseKind::kNotAFolder;
  struct statvfs space {};
  const bool spaceKnown = ::statvfs(folder.c_str(), &space) == 0;
  if (spaceKnown && (space.f_flag & ST_RDONLY)) return CauseKind::kReadOnlyFileSystem;
  // An output that exists is truncated in place; a new one is created in its folder.
  struct stat outputInfo {};
  if (::lstat(output.c_str(), &outputInfo) == 0) {
    if (::access(output.c_str(), W_OK) != 0 && errno == EACCES) return CauseKind::kNoPermissionOnFile;
  } else if (::access(folder.c_str(), W_OK | X_OK) != 0 && errno == EACCES) {
    return CauseKind::kNoPermissionOnFolder;
  }
  if (spaceKnown && LacksRoomFor(space, inputBytes)) return CauseKind::kNoSpace;
  return CauseKind::kNone;
}

// Whether the file holds "<body", read in blocks; a tag cut by a block's end is
// found by keeping the block's last bytes before the next.
bool HoldsLowerCaseBodyTag(const std::string& page) {
  constexpr std::string_view kTag = "<body";
  constexpr std::size_t kBlockBytes = 64 * 1024;
  const int fd = ::open(page.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  std::string buffer(kTag.size() - 1 + kBlockBytes, '\0');
  std::size_t kept = 0;
  bool found = false;
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data() + kept, kBlockBytes);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    const std::string_view filled(buffer.data(), kept + static_cast<std::size_t>(got));
    if (filled.find(kTag) != std::string_view::npos) {
      found = true;
      break;
    }
    kept = std::min(filled.size(), kTag.size() - 1);
    std::copy(filled.end() - static_cast<std::ptrdiff_t>(kept), filled.end(), buffer.begin());
  }
  ::close(fd);
  return found;
}

// The exports hold an input whole (and the HTML conversion its text beside it);
// an input of a quarter of the memory the process may use could have run out of it.
bool MemoryMayBeShortFor(std::uint64_t inputBytes) {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageBytes = ::sysconf(_SC_PAGESIZE);
  std::uint64_t limit = pages > 0 && pageBytes > 0 ? static_cast<std::uint64_t>(pages) * pageBytes : UINT64_MAX;
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit bound {};
    if (::getrlimit(resource, &bound) == 0 && bound.rlim_cur != RLIM_INFINITY)
      limit = std::min<std::uint64_t>(limit, bound.rlim_cur);
  }
  return inputBytes >= limit / 4;
}

}  // namespace

FailureCause FindFailureCause(Export which, int status, const CallFiles& paths) {
  FailureCause cause;
  if (status == QUORLIX_OK) return cause;
  const std::string input(paths.strIn);
  const std::uint64_t inputBytes = SizeOf(input);
  cause.memoryMayBeShort = MemoryMayBeShortFor(inputBytes);

  const auto* search = std::ranges::find_if(
      kCauseSearches, [&](const CauseSearch& row) { return row.which == which && row.status == status; });
  if (search == std::end(kCauseSearches)) return cause;
  if (search->bodyCaseChecked && HoldsLowerCaseBodyTag(input)) cause.kind = CauseKind::kLowerCaseBody;
  if (search->sizeChecked && inputBytes > kLongestLineEndInput) cause.kind = CauseKind::kTooLargeForLineEnds;
  if (!search->outputsChecked) return cause;

  const std::string outputs[2] = {std::string(paths.strOut), std::string(paths.strOut2)};
  const int count = outputs[1].empty() ? 1 : 2;
  for (int k = 0; k < count; ++k) {
    if (search->inputMayBeAnOutput && IsSameFile(outputs[k], input))
      return {CauseKind::kOutputIsInput, static_cast<std::uint8_t>(k), cause.memoryMayBeShort};
  }
  if (count == 2 && IsSameFile(outputs[0], outputs[1]))
    return {CauseKind::kOutputsAreOneFile, 0, cause.memoryMayBeShort};
  for (int k = 0; k < count; ++k) {
    const CauseKind kind = FindOutputCause(outputs[k], inputBytes);
    if (kind != CauseKind::kNone) return {kind, static_cast<std::uint8_t>(k), cause.memoryMayBeShort};
  }
  return cause;
}

std::string PackingWords(const std::string& path, bool mayBeMissing) {
  // An output asked about is most often not written yet: a stat spares the
  // library the opening that fails.
  struct stat info {};
  if (mayBeMissing && (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))) return {};
  char words[128];
  const int packing = quorlix_file_packing(path.c_str(), words, sizeof words);
  return packing == QUORLIX_PACKING_COMPRESSED || packing == QUORLIX_PACKING_ARCHIVE ? std::string(words)
                                                                                     : std::string();
}

namespace {
std::string Quoted(std::string_view name) {
  std::string quoted(1, '\'');
  quoted += EscapeName(name);
  quoted += '\'';
  return quoted;
}
}  // namespace

std::string DescribeFailure(Export which, int status, const CallFiles& files, const FailureCause& cause) {
  const std::string_view outputName = cause.output == 0 ? files.strOut : files.strOut2;
  const std::string output = Quoted(outputName);
  const std::string folder = Quoted(FolderOf(outputName));
  const std::string input = Quoted(files.strIn);
  const auto packing = [&files](std::string_view name) {
    return files.strDetail.empty() ? PackingWords(std::string(name), false) : std::string(files.strDetail);
  };
  switch (cause.kind) {
    case CauseKind::kNone: break;
    case CauseKind::kOutputIsInput: return "the output " + output + " is the input " + input + " itself";
    case CauseKind::kOutputsAreOneFile:
      return "both outputs, " + Quoted(files.strOut) + " and " + Quoted(files.strOut2) + ", are one file";
    case CauseKind::kFolderMissing: return "cannot create " + output + ": folder " + folder + " does not exist";
    case CauseKind::kNotAFolder: return "cannot create " + output + ": " + folder + " is not a folder";
    case CauseKind::kReadOnlyFileSystem:
      return "cannot write " + output + ": folder " + folder + " is on a read-only file system";
    case CauseKind::kNoPermissionOnFile: return "cannot write " + output + ": no permission to write it";
    case CauseKind::kNoPermissionOnFolder:
      return "cannot create " + output + ": no permission to write in folder " + folder;
    case CauseKind::kNoSpace: return "cannot write " + output + ": no space left in folder " + folder;
    case CauseKind::kLowerCaseBody:
      return "no <BODY> found in " + input +
             ": the conversion recognises upper-case tags only, and this page writes them in lower case";
    case CauseKind::kTooLargeForLineEnds:
      return input + " is " + std::to_string(SizeOf(std::string(files.strIn))) +
             " bytes, more than the line-end conversion takes (" + std::to_string(kLongestLineEndInput) + " bytes)";
    case CauseKind::kInputIsPacked:
      return (files.strIn == "-" ? std::string("standard input") : input) + " is " + packing(files.strIn) +
             ": decompress it first; quorlix schedules reads it as it is";
    case CauseKind::kOutputIsPacked: return output + " is " + packing(outputName) + ": --force writes over it";
    case CauseKind::kOutputIsFiling: return output + " is an EDGAR filing: --force writes over it";
    case CauseKind::kPackedInputDamaged: return "cannot read " + input + ": " + OneLine(files.strDetail);
  }
  return DescribeStatus(which, status, files, cause.memoryMayBeShort);
}

int ReportFailure(Export which, int status, const CallFiles& files, const FailureCause& cause) {
  if (status != 0)
    std::fprintf(stderr, "quorlix: %s (status %d)\n", DescribeFailure(which, status, files, cause).c_str(), status);
  return status;
}
