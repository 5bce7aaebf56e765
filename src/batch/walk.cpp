#include "batch/walk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string_view>
#include <vector>

#include "batch/private_folders.h"
#include "quorlix_schedules.h"

namespace batch {

std::string FolderOf(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

// ---- The list ----

namespace {

// The parts of a path between its slashes, empty ones included. (Written out:
// the library is also built by a compiler whose std::views::split fails.)
std::vector<std::string_view> ComponentsOf(std::string_view path) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t slash = path.find('/', start);
    parts.push_back(path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
    if (slash == std::string_view::npos) return parts;
    start = slash + 1;
  }
}

}  // namespace

std::string MirroredPath(std::string_view relative) {
  std::string rel;
  for (const std::string_view part : ComponentsOf(relative)) {
    if (part.empty() || part == ".") continue;
    if (!rel.empty()) rel += '/';
    rel += part;
  }
  return rel;
}

std::string InputList::RelativeOf(const Input& input) const {
  return MirroredPath(PathOf(input).substr(input.relStart));
}

void InputList::Add(std::string_view path, std::size_t relStart, InputSkip skip) {
  Input input;
  input.pathOffset = m_text.size();
  input.pathLength = static_cast<std::uint32_t>(path.size());
  input.relStart = static_cast<std::uint32_t>(relStart);
  input.skip = skip;
  m_text.append(path);
  m_text += '\0';
  m_inputs.push_back(input);
}

void InputList::Seal() {
  m_text.shrink_to_fit();
  m_inputs.shrink_to_fit();
}

// ---- Collecting ----

namespace {

bool HasDotDotComponent(std::string_view path) {
  return std::ranges::any_of(ComponentsOf(path), [](std::string_view part) { return part == ".."; });
}

// Adds files as named, walks folders and takes listed paths, marking those that
// lie inside the output folder.
class InputCollector {
 public:
  InputCollector(InputList& list, std::string_view outDir, WalkFilter filter) : m_list(list), m_filter(filter) {
    if (outDir.empty()) return;
    struct stat info {};
    char* real = ::realpath(std::string(outDir).c_str(), nullptr);
    if (real && ::stat(real, &info) == 0) {
      m_outReal = real;
      m_outDevice = info.st_dev;
      m_outInode = info.st_ino;
    }
    std::free(real);
  }

  void AddNamed(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      Walk(path, path.size() + (path.ends_with('/') ? 0 : 1), SkipOf(path));
      return;
    }
    // Mirrored as its last name: "gone/", which the export will not find, as "gone".
    const std::size_t nameEnd = path.find_last_not_of('/');
    const std::size_t slash = nameEnd == std::string::npos ? std::string::npos : path.find_last_of('/', nameEnd);
    m_list.Add(path, slash == std::string::npos ? 0 : slash + 1, SkipOf(FolderOf(path)));
  }

  void AddListed(const std::string& path) {
    if (IsListedFolder(path)) return;
    const std::size_t relStart = path.find_first_not_of('/');
    m_list.Add(path, relStart == std::string::npos ? 0 : relStart, SkipOf(FolderOf(path)));
  }

 private:
  // Whether a listed path names a folder. A long list names many files of one
  // folder: once it has named enough of them, the folder's entries are read
  // once, and only its names that are (or may lead to) folders are looked at.
  bool IsListedFolder(const std::string& path) {
    static constexpr std::size_t kListedBeforeRead = 32;
    const std::size_t slash = path.find_last_of('/');
    const std::string_view folder(path.data(), slash == std::string::npos ? 0 : slash + 1);
    const std::string_view name = std::string_view(path).substr(folder.size());
    if (folder != m_listedFolder) {
      m_listedFolder = folder;
      m_listedInFolder = 0;
      m_listedFolderRead = false;
      m_maybeFolders.clear();
    }
    if (!m_listedFolderRead && !name.empty() && ++m_listedInFolder == kListedBeforeRead)
      m_listedFolderRead = ReadMaybeFolders(m_listedFolder.empty() ? "." : m_listedFolder, m_maybeFolders);
    if (m_listedFolderRead && !name.empty() && !m_maybeFolders.contains(name)) return false;
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }

  // The names in a folder that are folders, links or of a kind the folder does not tell.
  static bool ReadMaybeFolders(const std::string& folder, std::set<std::string, std::less<>>& names) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    while (const dirent* entry = ::readdir(dir))
      if (entry->d_type == DT_DIR || entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN)
        names.emplace(entry->d_name);
    ::closedir(dir);
    return true;
  }

  // Whether the files of a folder lie inside the output folder.
  InputSkip SkipOf(const std::string& folder) {
    if (m_outReal.empty()) return InputSkip::kNone;
    if (folder == m_lastFolder) return m_lastSkip;
    char* real = ::realpath(folder.c_str(), nullptr);
    bool inside = false;
    if (real) {
      const std::string_view view(real);
      inside = view == m_outReal || (view.starts_with(m_outReal) && view[m_outReal.size()] == '/') || m_outReal == "/";
    }
    std::free(real);
    m_lastFolder = folder;
    m_lastSkip = inside ? InputSkip::kInsideOutput : InputSkip::kNone;
    return m_lastSkip;
  }

  bool IsOutputFolder(const std::string& path, ino_t inode) const {
    if (m_outReal.empty() || inode != m_outInode) return false;
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && info.st_dev == m_outDevice && info.st_ino == m_outInode;
  }

  struct Entry {
    std::string name;
    unsigned char type;
    ino_t inode;
  };

  // A folder's entries but "." and ".." and conversions' private entries, names
  // in byte order; false when it cannot be opened.
  static bool ReadEntries(const std::string& folder, std::vector<Entry>& entries) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string_view name(entry->d_name);
      if (name == "." || name == ".." || name.starts_with(kPrivatePrefix)) continue;
      entries.push_back({std::string(name), entry->d_type, entry->d_ino});
    }
    ::closedir(dir);
    std::ranges::sort(entries, [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return true;
  }

  void Walk(const std::string& folder, std::size_t relStart, InputSkip skip) {
    std::vector<Entry> entries;
    if (!ReadEntries(folder, entries)) {
      // The export names the problem when it meets the folder as an input.
      const std::size_t slash = folder.find_last_of('/');
      m_list.Add(folder, relStart < folder.size() ? relStart : slash == std::string::npos ? 0 : slash + 1, skip);
      return;
    }
    for (const auto& entry : entries) {
      const std::string path = JoinPath(folder, entry.name);
      unsigned char type = entry.type;
      if (type == DT_UNKNOWN) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) continue;
        type = S_ISDIR(info.st_mode)   ? DT_DIR
               : S_ISREG(info.st_mode) ? DT_REG
               : S_ISLNK(info.st_mode) ? DT_LNK
                                       : DT_UNKNOWN;
      }
      if (type == DT_DIR) {
        Walk(path, relStart, IsOutputFolder(path, entry.inode) ? InputSkip::kInsideOutput : skip);
      } else if (type == DT_REG) {
        m_list.Add(path, relStart, Filtered(path, skip));
      } else if (type == DT_LNK) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) m_list.Add(path, relStart, Filtered(path, skip));
      }
    }
  }

  // A walked file's mark: the folder's, else the walk filter's. A file that
  // cannot be read is taken, so that the export names its problem.
  InputSkip Filtered(const std::string& path, InputSkip skip) const {
    if (skip != InputSkip::kNone) return skip;
    switch (m_filter) {
      case WalkFilter::kEveryFile: break;
      case WalkFilter::kPages:
        if (!path.ends_with(".htm") && !path.ends_with(".html")) return InputSkip::kNotAPage;
        break;
      case WalkFilter::kSubmissions:
        if (quorlix_is_filing(path.c_str()) == QUORLIX_FILE_IS_NO_FILING) return InputSkip::kNotAFiling;
        break;
    }
    return InputSkip::kNone;
  }

  InputList& m_list;
  const WalkFilter m_filter;
  std::string m_outReal;
  dev_t m_outDevice = 0;
  ino_t m_outInode = 0;
  std::string m_lastFolder;
  InputSkip m_lastSkip = InputSkip::kNone;
  std::string m_listedFolder;
  std::size_t m_listedInFolder = 0;
  bool m_listedFolderRead = false;
  std::set<std::string, std::less<>> m_maybeFolders;
};

}  // namespace

Refusal CollectInputs(const InputSources& sources, InputList& list) {
  if (sources.namedCount == 0 && !sources.nextListed) return {QUORLIX_BATCH_REFUSED_NO_INPUTS, {}, {}, {}};
  InputCollector collector(list, sources.outDir, sources.walkFilter);
  for (std::size_t i = 0; i < sources.namedCount; ++i) collector.AddNamed(sources.named[i]);
  if (sources.nextListed) {
    for (;;) {
      const char* text = nullptr;
      std::size_t length = 0;
      const int got = sources.nextListed(sources.listedContext, &text, &length);
      if (got < 0) return {QUORLIX_BATCH_REFUSED_LIST, {}, {}, {}};
      if (got == 0) break;
      if (length == 0) continue;
      std::string path(text, length);
      if (HasDotDotComponent(path)) return {QUORLIX_BATCH_REFUSED_DOT_DOT, std::move(path), {}, {}};
      collector.AddListed(path);
    }
  }
  list.Seal();
  return {};
}

}  // namespace batch
