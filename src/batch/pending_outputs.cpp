#include "batch/pending_outputs.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "platform/failure_record.h"
#include "platform/replacing_file.h"
#include "platform/temporaries.h"
#include "quorlix_failure.h"

namespace batch {

using namespace temporaries;
namespace {

// Whether what exists at path is a folder; errno EEXIST when it is something else.
bool ExistsAsFolder(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
  errno = EEXIST;
  return false;
}

// Creates a folder and its missing parents; true when it exists afterwards,
// else false with errno saying why.
bool MakeFolders(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0777) == 0) return true;
  if (errno == EEXIST) return ExistsAsFolder(folder);
  if (errno != ENOENT) return false;
  const std::string parent = FolderOf(folder);
  if (parent == folder || !MakeFolders(parent)) return false;
  if (::mkdir(folder.c_str(), 0777) == 0) return true;
  return errno == EEXIST && ExistsAsFolder(folder);
}

// An output's name in its private folder: the input's index and the output's
// number, then the end of the output's name, since the exports check suffixes.
std::string PrivateNameFor(const std::string& output, std::size_t index, int k) {
  constexpr std::size_t kKeptNameBytes = 48;
  std::string_view name = std::string_view(output).substr(output.find_last_of('/') + 1);
  if (name.size() > kKeptNameBytes) name = name.substr(name.size() - kKeptNameBytes);
  return std::to_string(index) + "-" + std::to_string(k) + "-" + std::string(name);
}

bool IsNewer(const struct stat& a, const struct stat& b) {
  if (a.st_mtim.tv_sec != b.st_mtim.tv_sec) return a.st_mtim.tv_sec > b.st_mtim.tv_sec;
  return a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

}  // namespace

int FolderCauseOf(int error) {
  switch (error) {
    case ENOENT: return QUORLIX_CAUSE_FOLDER_MISSING;
    case EEXIST:  // MakeFolders: something other than a folder has the name
    case ENOTDIR: return QUORLIX_CAUSE_NOT_A_FOLDER;
    case EACCES:
    case EPERM: return QUORLIX_CAUSE_NO_PERMISSION_IN_FOLDER;
    default: return static_cast<int>(FailureCauseOfErrno(error));
  }
}

std::string& LastFolderMade() {
  thread_local std::string folder;
  return folder;
}

bool AreUpToDate(const OutputNames& names, const struct stat& inputInfo) {
  for (int k = 0; k < names.count; ++k) {
    struct stat outputInfo {};
    if (::stat(names.paths[k].c_str(), &outputInfo) != 0 || !S_ISREG(outputInfo.st_mode) ||
        !IsNewer(outputInfo, inputInfo))
      return false;
  }
  return true;
}

PendingOutputs::PendingOutputs(const OutputNames& names, std::size_t index, StagingFolders& staging, bool makeFolders)
    : m_names(names) {
  std::string& lastFolder = LastFolderMade();
  for (int k = 0; k < names.count; ++k) {
    m_errorOutput = k;
    const std::string folder = FolderOf(names.paths[k]);
    if (makeFolders && folder != lastFolder) {
      if (!MakeFolders(folder)) {
        m_error = errno;
        return;
      }
      lastFolder = folder;
    }
    const StagingFolders::Folder* made = staging.For(folder);
    if (!made) {
      m_error = errno;
      return;
    }
    // The outputs of one input share a folder but for a name that ends in '/'.
    if (k == 0 || &m_opened[k - 1]->Made() != made) m_opened[k].emplace(*made);
    else m_shared = true;
    const StagingFolders::Opened& opened = OpenedFor(k);
    if (!opened.IsOpen()) {
      m_error = errno;
      return;
    }
    m_private[k] = PrivateNameFor(names.paths[k], index, k);
    m_handed[k] = opened.Handed(m_private[k]);
    m_registered[k] = made->path + "/" + m_private[k];
    RegisterTempFile(m_registered[k]);
  }
  m_ready = true;
}

PendingOutputs::~PendingOutputs() {
  for (int k = m_renamed; k < m_names.count; ++k)
    if (!m_registered[k].empty()) RemoveTempFile(m_registered[k]);
}

bool PendingOutputs::MoveIntoPlace() {
  const HoldOffEnd whole;
  int error = 0;
  while (m_renamed < m_names.count && (error = RenameIntoPlace(OpenedFor(m_renamed).Fd(), m_private[m_renamed],
                                                               m_registered[m_renamed], m_names.paths[m_renamed])) == 0)
    ++m_renamed;
  if (m_renamed == m_names.count) return true;
  m_error = error;
  m_errorOutput = m_renamed;
  for (int k = 0; k < m_renamed; ++k) ::unlink(m_names.paths[k].c_str());
  return false;
}

std::size_t RemoveLeftoversOfEndedRuns(const std::vector<OutputNames>& names) {
  std::set<std::string> folders;
  for (const OutputNames& outputs : names)
    for (int k = 0; k < outputs.count; ++k) folders.insert(FolderOf(outputs.paths[k]));
  LeftoverCount count;
  for (const std::string& folder : folders) RemoveLeftovers(folder, count);
  return count.kept;
}

unsigned MostJobsForOpenFiles() {
  constexpr rlim_t kFilesPerConversion = 4;
  constexpr rlim_t kToolsOwnFiles = 16;
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return ~0u;
  const rlim_t spare = limit.rlim_cur > kToolsOwnFiles ? limit.rlim_cur - kToolsOwnFiles : 0;
  return static_cast<unsigned>(std::clamp<rlim_t>(spare / kFilesPerConversion, 1, ~0u));
}

}  // namespace batch
