#include "failure_cause.h"

#include <sys/stat.h>

#include <cstdio>
#include <string_view>

#include "quorlix.h"
#include "quorlix_schedules.h"

namespace {

// The output a failure concerns, 0 or 1; -1 for any other file.
int OutputOf(const quorlix_failure& failure) {
  if (failure.file == QUORLIX_FAILED_FILE_OUTPUT) return 0;
  if (failure.file == QUORLIX_FAILED_FILE_OUTPUT2) return 1;
  return -1;
}

// The causes the tool has words of its own for, on an output.
CauseKind OutputCauseOf(int cause) {
  switch (cause) {
    case QUORLIX_CAUSE_OUTPUT_IS_INPUT: return CauseKind::kOutputIsInput;
    case QUORLIX_CAUSE_OUTPUTS_ARE_ONE_FILE: return CauseKind::kOutputsAreOneFile;
    case QUORLIX_CAUSE_FOLDER_MISSING: return CauseKind::kFolderMissing;
    case QUORLIX_CAUSE_NOT_A_FOLDER: return CauseKind::kNotAFolder;
    case QUORLIX_CAUSE_READ_ONLY_FILE_SYSTEM: return CauseKind::kReadOnlyFileSystem;
    case QUORLIX_CAUSE_NO_PERMISSION: return CauseKind::kNoPermissionOnFile;
    case QUORLIX_CAUSE_NO_PERMISSION_IN_FOLDER: return CauseKind::kNoPermissionOnFolder;
    case QUORLIX_CAUSE_NO_SPACE: return CauseKind::kNoSpace;
    case QUORLIX_CAUSE_FILE_TOO_LARGE: return CauseKind::kFileTooLarge;
    default: return CauseKind::kNone;
  }
}

}  // namespace

FailureCause FindFailureCause(Export which, int status, const quorlix_failure* failure) {
  FailureCause cause;
  if (status == QUORLIX_OK) return cause;
  if (!failure) return cause;
  cause.memoryMayBeShort = failure->cause == QUORLIX_CAUSE_NO_MEMORY;
  if (failure->cause == QUORLIX_CAUSE_LOWER_CASE_BODY) cause.kind = CauseKind::kLowerCaseBody;
  if (failure->cause == QUORLIX_CAUSE_SPECIAL_FILE && failure->file == QUORLIX_FAILED_FILE_INPUT)
    cause.kind = CauseKind::kInputNotRegular;
  // The line-end conversion's limit, in the library's words.
  if (which == Export::kCrlf && failure->cause == QUORLIX_CAUSE_INPUT_TOO_LARGE && status == QUORLIX_CRLF_PASS_FAILED)
    cause.kind = CauseKind::kTooLargeForLineEnds;
  const int output = OutputOf(*failure);
  if (output >= 0 && OutputCauseOf(failure->cause) != CauseKind::kNone) {
    cause.kind = OutputCauseOf(failure->cause);
    cause.output = static_cast<std::uint8_t>(output);
    // The two outputs are one file: the words name both.
    if (cause.kind == CauseKind::kOutputsAreOneFile) cause.output = 0;
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
// The folder part of a path: "." for a bare name, "/" for a name at the top.
std::string FolderOf(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

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
    case CauseKind::kFileTooLarge: return "cannot write " + output + ": it would pass the file size limit";
    case CauseKind::kLowerCaseBody:
      return "no <BODY> found in " + input +
             ": the conversion recognises upper-case tags only, and this page writes them in lower case";
    case CauseKind::kTooLargeForLineEnds: return input + " is " + std::string(files.strDetail);
    case CauseKind::kInputIsPacked:
      return (files.strIn == "-" ? std::string("standard input") : input) + " is " + packing(files.strIn) +
             ": decompress it first; quorlix schedules reads it as it is";
    case CauseKind::kOutputIsPacked: return output + " is " + packing(outputName) + ": --force writes over it";
    case CauseKind::kOutputIsFiling: return output + " is an EDGAR filing: --force writes over it";
    case CauseKind::kPackedInputDamaged: return "cannot read " + input + ": " + OneLine(files.strDetail);
    case CauseKind::kInputNotRegular: return DescribeNotRegular(which, status, files, cause.memoryMayBeShort);
  }
  return DescribeStatus(which, status, files, cause.memoryMayBeShort);
}

int ReportFailure(Export which, int status, const CallFiles& files, const FailureCause& cause) {
  if (status != 0)
    std::fprintf(stderr, "quorlix: %s (status %d)\n", DescribeFailure(which, status, files, cause).c_str(), status);
  return status;
}
