// An input's outputs while the batch converts it: written under private names
// in the private folders of their destinations, then renamed into place whole.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "batch/naming.h"
#include "batch/private_folders.h"

namespace batch {

// An input's outputs while it is converted: the export writes them in the private
// folders of their destinations, and MoveIntoPlace renames them into place, all
// of them or none. What is left in the private folders is removed when this
// ends, and by an end at once on a signal.
class PendingOutputs {
 public:
  // makeFolders: the outputs' folders are made first where missing.
  PendingOutputs(const OutputNames& names, std::size_t index, StagingFolders& staging, bool makeFolders);
  ~PendingOutputs();
  PendingOutputs(const PendingOutputs&) = delete;
  PendingOutputs& operator=(const PendingOutputs&) = delete;

  // False when an output's folder, or its private folder, could not be made.
  bool IsReady() const { return m_ready; }
  // The path the export writes output k to; null for an output the job lacks.
  const char* PathFor(int k) const { return k < m_names.count ? m_handed[k].c_str() : nullptr; }

  // Renames the complete outputs into place; false (and none in place) when one
  // fails. An end at once waits for this, so a pair is never left half in place.
  bool MoveIntoPlace();

  // Why the outputs could not be made ready or put in place (errno), and which
  // output it concerns; 0 when nothing failed.
  int Error() const { return m_error; }
  int ErrorOutput() const { return m_errorOutput; }

 private:
  const StagingFolders::Opened& OpenedFor(int k) const { return k == 1 && m_shared ? *m_opened[0] : *m_opened[k]; }

  const OutputNames& m_names;
  std::optional<StagingFolders::Opened> m_opened[2];
  bool m_shared = false;        // the second output is in the first one's folder
  std::string m_private[2];     // the name in the private folder
  std::string m_handed[2];      // the path the export is handed
  std::string m_registered[2];  // the path an end at once removes
  int m_renamed = 0;
  bool m_ready = false;
  int m_error = 0;
  int m_errorOutput = 0;
};

// The cause (QUORLIX_CAUSE_*) of a failure to make an output's folder, or a
// private folder in it, with errno error.
int FolderCauseOf(int error);

// The output folder a worker made last, so that a run of inputs in one folder
// makes it once; forgotten when a run starts, since a folder made by an earlier
// run in the same thread may be gone.
std::string& LastFolderMade();

// True when every output is a regular file newer than the input.
bool AreUpToDate(const OutputNames& names, const struct stat& inputInfo);

// Removes what runs that ended without cleaning up left in the output folders
// of the inputs; returns how many other `.quorlix-` entries were kept there.
std::size_t RemoveLeftoversOfEndedRuns(const std::vector<OutputNames>& names);

// Conversions that may run at once when each holds up to this many files open
// (its input, two outputs and a spare), beside the tool's own.
unsigned MostJobsForOpenFiles();

}  // namespace batch
