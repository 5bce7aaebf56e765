#include "platform/failure_record.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/file.h"

namespace {

thread_local FailureRecord t_record;

template <std::size_t N>
void CopyCut(char (&field)[N], std::string_view text) noexcept {
  const std::size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

}  // namespace

FailureCause FailureCauseOfErrno(int nErrno) noexcept {
  switch (nErrno) {
    case 0: return FailureCause::kNone;
    case ENOENT: return FailureCause::kNotFound;
    case EACCES:
    case EPERM: return FailureCause::kNoPermission;
    case EISDIR: return FailureCause::kIsFolder;
    case ENXIO: return FailureCause::kSpecialFile;  // a FIFO without a reader, a device without its unit
    case EROFS: return FailureCause::kReadOnlyFileSystem;
    case ENOSPC: return FailureCause::kNoSpace;
#ifdef EDQUOT
    case EDQUOT: return FailureCause::kNoSpace;
#endif
    case EFBIG: return FailureCause::kFileTooLarge;
    case ENOMEM: return FailureCause::kNoMemory;
    case ENOTDIR: return FailureCause::kNotAFolder;
    case EMFILE:
    case ENFILE: return FailureCause::kTooManyOpenFiles;
    default: return FailureCause::kSystemError;
  }
}

const FailureRecord& LastFailure() noexcept { return t_record; }

void ClearFailure() noexcept { t_record = FailureRecord{}; }

void RecordFailure(FailureCause cause, FailedFile file, int nErrno, FileOperation operation) noexcept {
  t_record = FailureRecord{};
  t_record.cause = cause;
  t_record.file = file;
  t_record.nErrno = nErrno;
  t_record.operation = operation;
}

void RecordFileFailure(const CFileException& e, FailedFile file) noexcept {
  RecordFailure(e.GetFailureCause(), file, e.GetErrno(), e.GetOperation());
}

void RecordInputTooLarge(std::uint64_t nInputBytes, std::uint64_t nLimitBytes, std::string_view takerWords) noexcept {
  RecordFailure(FailureCause::kInputTooLarge, FailedFile::kInput);
  t_record.nInputBytes = nInputBytes;
  t_record.nLimitBytes = nLimitBytes;
  try {
    SetFailureDetail(std::to_string(nInputBytes) + " bytes, more than " + std::string(takerWords) + " (" +
                     std::to_string(nLimitBytes) + " bytes)");
  } catch (...) {
    // No memory for the words: the numbers stand.
  }
}

void SetFailureDetail(std::string_view detail) noexcept { CopyCut(t_record.szDetail, detail); }

void SetFailureSignature(std::string_view wanted, std::string_view found) noexcept {
  CopyCut(t_record.szWanted, wanted);
  CopyCut(t_record.szFound, found);
}

void FinishFailure(int nStatus) noexcept {
  if (nStatus == 0) ClearFailure();
  else t_record.nStatus = nStatus;
}
