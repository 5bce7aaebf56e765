// The cause of an export's failure, as the library recorded it where it failed
// (quorlix_last_failure), and the causes only the tool knows (a packed input or
// output, a filing in the way, a damaged archive). A generic file error is
// explained by its cause, so the user reads "folder 'out' does not exist" rather
// than a list of guesses; without one, the status's generic words stand.
#pragma once

#include <cstdint>
#include <string>

#include "quorlix_failure.h"
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
  kFileTooLarge,          // an output would pass the file size limit
  kLowerCaseBody,         // the page writes its body tags in lower case
  kTooLargeForLineEnds,   // the input is longer than the line-end conversion takes
  kInputIsPacked,         // the input is compressed or an archive, which no conversion reads
  kOutputIsPacked,        // an output in the way is compressed or an archive: --force writes over it
  kOutputIsFiling,        // an output in the way is an EDGAR filing: --force writes over it
  kPackedInputDamaged,    // the schedules' input is a damaged archive, or past a limit (the detail says how)
  kInputNotRegular,       // the input is a pipe, FIFO, device or socket, which the export refused
};

// Small enough to keep one with every input of a batch.
struct FailureCause {
  CauseKind kind = CauseKind::kNone;
  std::uint8_t output = 0;        // the output the cause concerns, 0 or 1
  bool memoryMayBeShort = false;  // the library ran out of memory
};

// The cause of status from the library's record of the call (quorlix_last_failure
// on the thread that made it, right after it returned). For an input too large
// for the line ends, the words say how much only from the record's detail, which
// the caller hands on to DescribeFailure in CallFiles::strDetail. A null record
// (the export never ran) gives no cause: where the batch could not make an
// output's folder, the row's record says why. The record alone decides.
FailureCause FindFailureCause(Export which, int status, const quorlix_failure* failure);

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
