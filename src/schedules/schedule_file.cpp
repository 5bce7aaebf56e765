// The table written into a file: under a temporary name beside it, renamed over
// it once whole, so the file is whole or left as it was.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
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

// A name beside the output, with a random part: no leftover of another run
// (another process, another host, another pid namespace) can be its name for long.
CString TemporaryNameFor(const CString& strOutput) {
  static std::atomic<unsigned> nCalls{0};
  thread_local std::mt19937_64 engine{std::random_device{}()};
  const std::size_t nSlash = strOutput.find_last_of('/');
  const std::size_t nNameStart = nSlash == CString::npos ? 0 : nSlash + 1;
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%016llx-%x.tmp", static_cast<unsigned long long>(engine()),
                nCalls.fetch_add(1));
  return strOutput.substr(0, nNameStart) + ".quorlix-" + strOutput.substr(nNameStart) + suffix;
}

namespace {

// The file a table for output_path replaces: a link's final target, so that
// the link stays a link; empty for a link to nothing.
CString ReplacedFile(const CString& strOutput) {
  std::error_code error;
  if (!std::filesystem::is_symlink(std::filesystem::symlink_status(strOutput, error))) return strOutput;
  const std::filesystem::path target = std::filesystem::canonical(strOutput, error);
  if (!error) return target.string();
  return std::filesystem::exists(std::filesystem::symlink_status(strOutput, error)) &&
                 !std::filesystem::exists(std::filesystem::status(strOutput, error))
             ? CString()
             : strOutput;
}

// Creates the temporary file for strTarget exclusively, under a new name while
// the one tried exists. Throws CFileException.
CString CreateTemporary(const CString& strTarget, std::optional<CFile>& file) {
  constexpr int kAttempts = 16;
  for (int nAttempt = 1;; ++nAttempt) {
    CString strTemporary = TemporaryNameFor(strTarget);
    try {
      file.emplace(strTemporary, CFile::modeCreate | CFile::modeCreateNew | CFile::modeOutput);
      return strTemporary;
    } catch (const CFileException&) {
      std::error_code error;
      if (nAttempt == kAttempts || !std::filesystem::exists(std::filesystem::symlink_status(strTemporary, error)))
        throw;
    }
  }
}

}  // namespace

int WriteScheduleTableFile(const char* const* paths, std::size_t count, const TableSettings& settings, unsigned nJobs,
                           const char* pszOutputPath, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext) {
  const CString strOutput = ReplacedFile(pszOutputPath);
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
  std::optional<CFile> file;
  CString strTemporary;
  try {
    strTemporary = CreateTemporary(strOutput, file);
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
