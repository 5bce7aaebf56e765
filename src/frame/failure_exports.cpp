// quorlix_last_failure: the calling thread's failure record, copied out in the
// public struct. libquorlix.so only.
#include "quorlix_failure.h"

#include <cstring>

#include "platform/failure_record.h"

// The record's values are the header's.
static_assert(static_cast<int>(FailureCause::kNotFound) == QUORLIX_CAUSE_NOT_FOUND);
static_assert(static_cast<int>(FailureCause::kNoMemory) == QUORLIX_CAUSE_NO_MEMORY);
static_assert(static_cast<int>(FailureCause::kTooManyOpenFiles) == QUORLIX_CAUSE_TOO_MANY_OPEN_FILES);
static_assert(static_cast<int>(FailureCause::kSignatureMismatch) == QUORLIX_CAUSE_SIGNATURE_MISMATCH);
static_assert(static_cast<int>(FailureCause::kSystemError) == QUORLIX_CAUSE_SYSTEM_ERROR);
static_assert(static_cast<int>(FailureCause::kNoPermissionInFolder) == QUORLIX_CAUSE_NO_PERMISSION_IN_FOLDER);
static_assert(static_cast<int>(FailedFile::kTemporary) == QUORLIX_FAILED_FILE_TEMPORARY);
static_assert(static_cast<int>(FileOperation::kClose) == QUORLIX_OPERATION_CLOSE);
static_assert(static_cast<int>(FileOperation::kRename) == QUORLIX_OPERATION_RENAME);
static_assert(sizeof(FailureRecord::szWanted) == sizeof(quorlix_failure::wanted) &&
              sizeof(FailureRecord::szFound) == sizeof(quorlix_failure::found) &&
              sizeof(FailureRecord::szDetail) == sizeof(quorlix_failure::detail));

extern "C" QUORLIX_API int quorlix_last_failure(quorlix_failure* failure) {
  if (!failure) return 0;
  const FailureRecord& record = LastFailure();
  *failure = quorlix_failure{};
  failure->status = record.nStatus;
  failure->cause = static_cast<int>(record.cause);
  failure->error_number = record.nErrno;
  failure->file = static_cast<int>(record.file);
  failure->operation = static_cast<int>(record.operation);
  failure->input_bytes = record.nInputBytes;
  failure->limit_bytes = record.nLimitBytes;
  std::memcpy(failure->wanted, record.szWanted, sizeof failure->wanted);
  std::memcpy(failure->found, record.szFound, sizeof failure->found);
  std::memcpy(failure->detail, record.szDetail, sizeof failure->detail);
  return failure->status;
}
