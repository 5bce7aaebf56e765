// A table written into a file: under a temporary name beside it, renamed over
// it once whole, so the file is whole or left as it was.
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>

#include "platform/failure_record.h"
#include "platform/file.h"
#include "platform/replacing_file.h"
#include "schedules/schedule_run.h"

namespace {

// A device written through the callback form, and how a write failed.
struct DeviceWriter {
  CFile* pFile;
  bool bFailed = false;
  FailureCause cause = FailureCause::kNone;
  int nError = 0;
  FileOperation operation = FileOperation::kNone;
};

int WriteToDevice(void* pContext, const char* pData, std::size_t nSize) {
  DeviceWriter& writer = *static_cast<DeviceWriter*>(pContext);
  try {
    writer.pFile->Write(pData, nSize);
    return 0;
  } catch (const CFileException& e) {
    writer = {writer.pFile, true, e.GetFailureCause(), e.GetErrno(), e.GetOperation()};
  } catch (...) {
    writer = {writer.pFile, true, FailureCause::kNoMemory, ENOMEM, FileOperation::kWrite};
  }
  return 1;
}

// A descriptor written through the callback form, and why a write failed.
struct FdWriter {
  int fd;
  int nError = 0;
};

int WriteToFd(void* pContext, const char* pData, std::size_t nSize) {
  FdWriter& writer = *static_cast<FdWriter*>(pContext);
  while (nSize > 0) {
    const ssize_t nWritten = ::write(writer.fd, pData, nSize);
    if (nWritten < 0 && errno == EINTR) continue;
    if (nWritten <= 0) {
      writer.nError = nWritten < 0 ? errno : ENOSPC;
      return 1;
    }
    pData += nWritten;
    nSize -= static_cast<std::size_t>(nWritten);
  }
  return 0;
}

// Records a failure on the table's file; one on the temporary names it in the
// detail, since the caller cannot know its name.
int OutputFailure(int nError, FailedFile file, FileOperation operation, const std::string& temporary = {}) {
  RecordFailure(FailureCauseOfErrno(nError), file, nError, operation);
  if (file == FailedFile::kTemporary) SetFailureDetail(temporary);
  return QUORLIX_SCHEDULES_OUTPUT_ERROR;
}

}  // namespace

int WriteTableFile(const char* pszOutputPath, std::span<const char* const> inputs, const TableWriting& writeTable) {
  const CString strOutput = ReplacedFileOf(pszOutputPath);
  if (strOutput.empty()) return OutputFailure(ENOENT, FailedFile::kOutput, FileOperation::kCreate);
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(strOutput, error);
  // Replacing an input would lose it once read.
  if (!error && std::filesystem::is_regular_file(status)) {
    for (const char* pszInput : inputs)
      if (NameSameFile(strOutput, pszInput)) return QUORLIX_SCHEDULES_BAD_ARGUMENT;
  }
  // A device, pipe or socket cannot be replaced by a file: it is written as it stands.
  if (!error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
      !std::filesystem::is_directory(status)) {
    try {
      CFile file(strOutput, CFile::modeOutput);
      DeviceWriter writer{&file};
      const int nStatus = writeTable(WriteToDevice, &writer);
      if (writer.bFailed && nStatus == QUORLIX_SCHEDULES_OUTPUT_ERROR) {
        RecordFailure(writer.cause, FailedFile::kOutput, writer.nError, writer.operation);
        return nStatus;
      }
      file.Close();
      return nStatus;
    } catch (const CFileException& e) {
      RecordFileFailure(e, FailedFile::kOutput);
      return QUORLIX_SCHEDULES_OUTPUT_ERROR;
    }
  }
  CReplacingFile file;
  if (const int nError = file.Create(strOutput, false); nError != 0)
    return nError == EISDIR
               ? OutputFailure(nError, FailedFile::kOutput, FileOperation::kCreate)
               : OutputFailure(nError, FailedFile::kTemporary, FileOperation::kCreate, file.TemporaryPath());
  FdWriter writer{file.Fd()};
  const int nStatus = writeTable(WriteToFd, &writer);
  if (nStatus == QUORLIX_SCHEDULES_OUTPUT_ERROR && writer.nError != 0)
    return OutputFailure(writer.nError, FailedFile::kTemporary, FileOperation::kWrite, file.TemporaryPath());
  if (nStatus != QUORLIX_SCHEDULES_OK) return nStatus;  // the temporary is abandoned
  bool bCloseFailed = false;
  if (const int nError = file.Commit(&bCloseFailed); nError != 0)
    return bCloseFailed ? OutputFailure(nError, FailedFile::kTemporary, FileOperation::kClose, file.TemporaryPath())
                        : OutputFailure(nError, FailedFile::kOutput, FileOperation::kRename);
  return QUORLIX_SCHEDULES_OK;
}

int WriteScheduleTableFile(const char* const* paths, std::size_t count, const TableSettings& settings, unsigned nJobs,
                           const char* pszOutputPath, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext) {
  return WriteTableFile(pszOutputPath, std::span(paths, count), [&](QUORLIX_WRITE_FN write, void* pContext) {
    return WriteScheduleTable(paths, count, settings, nJobs, write, pContext, onInput, pInputContext);
  });
}
