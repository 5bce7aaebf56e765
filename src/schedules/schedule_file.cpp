// The table written into a file: under a temporary name beside it, renamed over
// it once whole, so the file is whole or left as it was.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/file.h"
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

}  // namespace

CString TemporaryNameFor(const CString& strOutput) {
  static std::atomic<unsigned> nCalls{0};
  const std::size_t nSlash = strOutput.find_last_of('/');
  const std::size_t nNameStart = nSlash == CString::npos ? 0 : nSlash + 1;
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%llx-%x.tmp",
                static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count()),
                nCalls.fetch_add(1));
  return strOutput.substr(0, nNameStart) + ".quorlix-" + strOutput.substr(nNameStart) + suffix;
}

int WriteScheduleTableFile(const char* const* paths, std::size_t count, const TableSettings& settings, unsigned nJobs,
                           const char* pszOutputPath, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext) {
  const CString strOutput(pszOutputPath);
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
  const CString strTemporary = TemporaryNameFor(strOutput);
  std::optional<CFile> file;
  try {
    file.emplace(strTemporary, CFile::modeCreate | CFile::modeCreateNew | CFile::modeOutput);
  } catch (const CFileException&) {
    return QUORLIX_SCHEDULES_OUTPUT_ERROR;
  }
  int nStatus = QUORLIX_SCHEDULES_NO_MEMORY;
  try {
    nStatus = WriteScheduleTable(paths, count, settings, nJobs, WriteToFile, &*file, onInput, pInputContext);
    if (nStatus == QUORLIX_SCHEDULES_OK) {
      file->Close();
      if (std::rename(strTemporary.c_str(), strOutput.c_str()) == 0) return QUORLIX_SCHEDULES_OK;
      nStatus = QUORLIX_SCHEDULES_OUTPUT_ERROR;
    }
  } catch (const CFileException&) {
    nStatus = QUORLIX_SCHEDULES_OUTPUT_ERROR;  // the late write error of closing
  } catch (...) {
    nStatus = QUORLIX_SCHEDULES_NO_MEMORY;
  }
  if (file->IsOpen()) file->CloseAndRemove(strTemporary);
  else std::remove(strTemporary.c_str());
  return nStatus;
}
