// The table written into a file: under a temporary name beside it, renamed over
// it once whole, so the file is whole or left as it was.
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/file.h"
#include "platform/replacing_file.h"
#include "schedules/schedule_run.h"

namespace {

// Adds a file's writes to the callback form.
int WriteToFile(void* pContext, const char* pData, std::size_t nSize) {
  try {
    static_cast<CFile*>(pContext)->Write(pData, nSize);
    return 0;
  } catch (...) {
    return 1;
  }
}

// Adds a descriptor's writes to the callback form.
int WriteToFd(void* pContext, const char* pData, std::size_t nSize) {
  const int fd = *static_cast<const int*>(pContext);
  while (nSize > 0) {
    const ssize_t nWritten = ::write(fd, pData, nSize);
    if (nWritten < 0 && errno == EINTR) continue;
    if (nWritten <= 0) return 1;
    pData += nWritten;
    nSize -= static_cast<std::size_t>(nWritten);
  }
  return 0;
}

}  // namespace

int WriteScheduleTableFile(const char* const* paths, std::size_t count, const TableSettings& settings, unsigned nJobs,
                           const char* pszOutputPath, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext) {
  const CString strOutput = ReplacedFileOf(pszOutputPath);
  if (strOutput.empty()) return QUORLIX_SCHEDULES_OUTPUT_ERROR;
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(strOutput, error);
  // Replacing an input would lose it once read.
  if (!error && std::filesystem::is_regular_file(status)) {
    for (std::size_t i = 0; i < count; ++i)
      if (NameSameFile(strOutput, paths[i])) return QUORLIX_SCHEDULES_BAD_ARGUMENT;
  }
  // A device, pipe or socket cannot be replaced by a file: it is written as it stands.
  if (!error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
      !std::filesystem::is_directory(status)) {
    try {
      CFile file(strOutput, CFile::modeOutput);
      const int nStatus = WriteScheduleTable(paths, count, settings, nJobs, WriteToFile, &file, onInput, pInputContext);
      file.Close();
      return nStatus;
    } catch (const CFileException&) {
      return QUORLIX_SCHEDULES_OUTPUT_ERROR;
    }
  }
  CReplacingFile file;
  if (file.Create(strOutput, false) != 0) return QUORLIX_SCHEDULES_OUTPUT_ERROR;
  int fd = file.Fd();
  const int nStatus = WriteScheduleTable(paths, count, settings, nJobs, WriteToFd, &fd, onInput, pInputContext);
  if (nStatus != QUORLIX_SCHEDULES_OK) return nStatus;  // the temporary is abandoned
  return file.Commit() == 0 ? QUORLIX_SCHEDULES_OK : QUORLIX_SCHEDULES_OUTPUT_ERROR;
}
