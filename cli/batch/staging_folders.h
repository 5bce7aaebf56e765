// Where a batch writes its outputs before they are whole: one private folder per
// destination folder, `.quorlix-<pid>-<random>`, made with mode 0700 inside it,
// so that the rename into place stays on one file system.
//
// A conversion opens the private folder (O_NOFOLLOW, and checked to be the one
// made) and hands the export its files as /proc/self/fd/<fd>/<name>: whoever else
// can write into the destination folder can neither swap a link in at a name
// the export opens nor move the private folder away and put another in its
// place, since the descriptor keeps naming the folder that was made. A finished
// output is renamed into place through the same descriptor; a link standing at
// its final name is replaced, never followed. Where /proc is absent, the
// folder's path is handed instead, which someone able to rename entries of the
// destination folder could redirect.
#pragma once

#include <sys/types.h>

#include <map>
#include <mutex>
#include <string>
#include <string_view>

// The prefix of every private folder (and of the temporary names of earlier
// versions): walks pass over such entries, and --resume removes those of
// processes that no longer run.
inline constexpr std::string_view kPrivatePrefix = ".quorlix-";

class StagingFolders {
 public:
  struct Folder {
    std::string path;  // the private folder's path
    dev_t device;
    ino_t inode;
  };

  StagingFolders() = default;
  ~StagingFolders() { RemoveAll(); }
  StagingFolders(const StagingFolders&) = delete;
  StagingFolders& operator=(const StagingFolders&) = delete;

  // The private folder of destination (an existing folder), made at first use;
  // null when it cannot be made there.
  const Folder* For(const std::string& destination);
  // Removes every private folder made, with whatever is left in it.
  void RemoveAll();

  // The private folder opened by one conversion.
  class Opened {
   public:
    explicit Opened(const StagingFolders::Folder& folder);
    ~Opened();
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;

    // False when the folder is not the one made (or cannot be opened).
    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    const StagingFolders::Folder& Made() const { return m_folder; }
    // The path the export is handed for name in the folder.
    std::string Handed(const std::string& name) const;

   private:
    int m_fd = -1;
    const StagingFolders::Folder& m_folder;
  };

 private:
  std::mutex m_mutex;
  std::map<std::string, Folder> m_folders;  // a node's address stays while the map grows
};

// True when name is a private folder or temporary file of a process that is
// not running (kill(pid, 0) fails with ESRCH): what a run killed outright left.
bool IsLeftByDeadRun(std::string_view name);

// Removes the entries of folder that dead runs left, files and private folders
// alike; false when the folder cannot be read.
bool RemoveLeftovers(const std::string& folder);
