// The cause of an export's failure, as far as the tool can see it by looking at
// the files afterwards. A generic file error is explained by the one cause that
// holds, so the user reads "folder 'out' does not exist" rather than a list of
// guesses; when none holds, the status's generic words stand.
#pragma once

#include <cstdint>
#include <string>

#include "status_messages.h"

enum class CauseKind : std::uint8_t {
  kNone,
  kOutputIsInput,         // an output names the input file
  kOutputsAreOneFile,     // both outputs name one file
  kFolderMissing,         // an output's folder does not exist
  kNotAFolder,            // an output's folder is something else
  kReadOnlyFileSystem,    // an output's folder is on a read-only file system
  kNoPermissionOnFile,    // an output exists and cannot be written
  kNoPermissionOnFolder,  // a new output cannot be created in its folder
  kNoSpace,               // an output's file system has no room for it
  kLowerCaseBody,         // the page writes its body tags in lower case
  kTooLargeForLineEnds,   // the input is longer than the line-end conversion takes
  kInputIsPacked,         // the input is compressed or an archive, which no conversion reads
  kOutputIsPacked,        // an output in the way is compressed or an archive: --force writes over it
  kOutputIsFiling,        // an output in the way is an EDGAR filing: --force writes over it
  kPackedInputDamaged,    // the schedules' input is a damaged archive, or past a limit (the detail says how)
};

// Small enough to keep one with every input of a batch.
struct FailureCause {
  CauseKind kind = CauseKind::kNone;
  std::uint8_t output = 0;        // the output the cause concerns, 0 or 1
  bool memoryMayBeShort = false;  // the input is large enough that memory could have run out
};

// Looks for the cause of status on the files the export was given (the paths it
// read and wrote, which may be temporary names in the outputs' folders). Call it
// right after the export returned, while its outputs are as it left them.
FailureCause FindFailureCause(Export which, int status, const CallFiles& paths);

// The words for a failure, naming the files as given (escaped): those of the
// cause when one was found (a folder named as the folder of the output's name),
// else the status's own (status_messages.h). For a packed input or output the
// detail holds its packing's words, or is empty to have the file looked at; for
// a damaged archive it holds the library's problem.
std::string DescribeFailure(Export which, int status, const CallFiles& files, const FailureCause& cause);

// The packing of a file that is compressed or an archive, in words ("a
// gzip-compressed file", "a tar archive"); empty for any other file, or none.
// mayBeMissing: the path is looked at first (cheaper where it often names no file).
std::string PackingWords(const std::string& path, bool mayBeMissing);

// Prints "quorlix: <words> (status N)" on stderr when status is not 0; returns status.
int ReportFailure(Export which, int status, const CallFiles& files, const FailureCause& cause);
