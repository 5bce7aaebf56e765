// Where the calling thread's last export call failed: the cause, the system's
// error number, the file and what was being done with it, kept per thread so
// that calls on other threads never mix. The exports clear it as they start and
// set its status as they return; the steps in between record what they know
// where they catch a failure. The values are those of quorlix_failure.h, which
// libquorlix.so copies out; the Windows DLLs keep the record and never show it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

class CFile;
class CFileException;

enum class FailureCause : int {
  kNone = 0,
  kNotFound = 1,
  kNoPermission = 2,
  kIsFolder = 3,
  kSpecialFile = 4,
  kReadOnlyFileSystem = 5,
  kNoSpace = 6,
  kFileTooLarge = 7,
  kInputTooLarge = 8,
  kNoMemory = 9,
  kFolderMissing = 10,
  kNotAFolder = 11,
  kOutputIsInput = 12,
  kOutputsAreOneFile = 13,
  kTooManyOpenFiles = 14,
  kSignatureMismatch = 15,
  kLowerCaseBody = 16,
  kEmptyName = 17,
  kChangedWhileRead = 18,
  kSystemError = 19,
  kNoPermissionInFolder = 20,
};

enum class FailedFile : int { kNone = 0, kInput = 1, kOutput = 2, kOutput2 = 3, kTemporary = 4 };

enum class FileOperation : int {
  kNone = 0,
  kOpenForRead = 1,
  kCreate = 2,
  kRead = 3,
  kWrite = 4,
  kClose = 5,
  kRename = 6,
};

struct FailureRecord {
  int nStatus = 0;
  FailureCause cause = FailureCause::kNone;
  int nErrno = 0;
  FailedFile file = FailedFile::kNone;
  FileOperation operation = FileOperation::kNone;
  std::uint64_t nInputBytes = 0;
  std::uint64_t nLimitBytes = 0;
  char szWanted[160] = {};
  char szFound[96] = {};
  char szDetail[256] = {};
};

// The cause an errno stands for; kSystemError for one without a cause of its own.
FailureCause FailureCauseOfErrno(int nErrno) noexcept;

// The calling thread's record.
const FailureRecord& LastFailure() noexcept;
void ClearFailure() noexcept;
// Replaces the record's cause (a later failure decides the status, so it decides
// the record too); the texts and numbers are cleared.
void RecordFailure(FailureCause cause, FailedFile file, int nErrno = 0,
                   FileOperation operation = FileOperation::kNone) noexcept;
// A failure of the file layer, on the file in the given role.
void RecordFileFailure(const CFileException& e, FailedFile file) noexcept;
// An input longer than the limit of what takes it ("the line-end conversion
// takes"): the numbers, and the detail in words.
void RecordInputTooLarge(std::uint64_t nInputBytes, std::uint64_t nLimitBytes, std::string_view takerWords) noexcept;
// Texts of the record, cut to their fields.
void SetFailureDetail(std::string_view detail) noexcept;
void SetFailureSignature(std::string_view wanted, std::string_view found) noexcept;
// The export's status: 0 clears the record, any other is kept with what was recorded.
void FinishFailure(int nStatus) noexcept;
