// A file that replaces another whole (POSIX): written under a temporary name
// beside its final path, then renamed into place (commit) or removed (abandon),
// so the final path holds the old file or the new one, never part of either.
//
// The temporary is `.quorlix-<final name>.<random>-<count>.tmp`, created with
// O_EXCL under a new name while the one tried exists: a leftover of another run
// (another host, another pid namespace) never stands in its way. It is
// registered with the end-at-once registry until committed or abandoned.
#pragma once

#include <string>

// A name beside finalPath, in its folder, for a file written before it is
// renamed into place.
std::string TemporaryNameFor(const std::string& finalPath);

// The file a replacement for path goes to: a link's final target (so the link
// stays a link), or path itself when it is no link or nothing is there yet.
// Empty for a link to nothing, which is never written through.
std::string ReplacedFileOf(const std::string& path);

// Renames name (in the folder of fromFolderFd, or a path with AT_FDCWD) to
// finalPath and forgets the registered temporary; 0, or errno (the temporary
// left where it is, still registered).
int RenameIntoPlace(int fromFolderFd, const std::string& name, const std::string& registered,
                    const std::string& finalPath) noexcept;

class CReplacingFile {
 public:
  using NameFn = std::string (*)(const std::string& finalPath);
  // namer: TemporaryNameFor, or a stand-in that makes names collide.
  explicit CReplacingFile(NameFn namer = TemporaryNameFor) : m_namer(namer) {}
  ~CReplacingFile() { Abandon(); }
  CReplacingFile(const CReplacingFile&) = delete;
  CReplacingFile& operator=(const CReplacingFile&) = delete;

  // Creates the temporary for finalPath (followed through a link when
  // followLink); 0, or errno: ENOENT for a link to nothing, EISDIR for a folder,
  // else why the temporary could not be created (TemporaryPath names it).
  int Create(const std::string& finalPath, bool followLink = true) noexcept;
  // Reserves the temporary's name for a writer that opens it by path itself:
  // Create, with the empty file closed again.
  int CreateClosed(const std::string& finalPath, bool followLink = true) noexcept;

  int Fd() const { return m_fd; }
  // The file replaced (a link's target), and the file written until then (kept
  // after a failure, to name it).
  const std::string& FinalPath() const { return m_final; }
  const std::string& TemporaryPath() const { return m_temporary; }

  // Closes the temporary and renames it into place; 0, or errno with the
  // temporary removed. bCloseFailed tells a failed close (a late write error,
  // on the temporary) from a failed rename.
  int Commit(bool* pbCloseFailed = nullptr) noexcept;
  // Closes and removes the temporary; nothing once committed or abandoned.
  void Abandon() noexcept;

 private:
  NameFn m_namer;
  int m_fd = -1;
  std::string m_final;
  std::string m_temporary;
  bool m_bMade = false;  // the temporary exists and is registered
};
