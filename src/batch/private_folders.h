// Where a batch writes its outputs before they are whole: one private folder per
// destination folder, `.quorlix-<host>-<pid>-<random>`, made with mode 0700
// inside it, so that the rename into place stays on one file system.
//
// Runs may share a destination folder from other pid namespaces (containers)
// or other hosts (NFS), where a pid says nothing. So each private folder holds
// a file `lock`, locked (flock) while its run lives: --resume removes a private
// folder only when it can take that lock, and leaves every other `.quorlix-`
// entry (the library's table temporaries, earlier versions' names) as it is.
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

namespace batch {

// The prefix of every private folder and temporary name: walks pass over such
// entries.
inline constexpr std::string_view kPrivatePrefix = ".quorlix-";
// The file in a private folder that its run keeps locked.
inline constexpr std::string_view kLockName = "lock";

class StagingFolders {
 public:
  struct Folder {
    std::string path;  // the private folder's path
    dev_t device;
    ino_t inode;
    int lockFd;  // the locked file in it, held until the folder is removed
  };

  StagingFolders() = default;
  ~StagingFolders() { RemoveAll(); }
  StagingFolders(const StagingFolders&) = delete;
  StagingFolders& operator=(const StagingFolders&) = delete;

  // The private folder of destination (an existing folder), made at first use;
  // null when it cannot be made there, errno saying why.
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

// The name of a new private folder: .quorlix-<host>-<pid>-<8 of [a-z0-9]>.
std::string PrivateFolderName();

// True when name follows the rule of PrivateFolderName (whatever its host and pid).
bool IsPrivateFolderName(std::string_view name);

// What --resume did in one folder.
struct LeftoverCount {
  std::size_t removed = 0;
  std::size_t kept = 0;  // other `.quorlix-` entries: another run's, or none it can place
};

// Removes the private folders of folder whose runs have ended (their lock can
// be taken), with what is in them, and counts the other `.quorlix-` entries;
// false when the folder cannot be read.
bool RemoveLeftovers(const std::string& folder, LeftoverCount& count);

}  // namespace batch
