#include "batch.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <ranges>
#include <system_error>
#include <thread>

#include "exit_codes.h"
#include "interrupts.h"
#include "quorlix.h"

namespace {

using Clock = std::chrono::steady_clock;

// ---- The inputs ----

// How far one input has come. Workers write an input's outcome and then publish
// its state with a release store; the main thread reads the state first.
enum InputState : std::uint8_t { kPending, kConverted, kSkippedDone, kSkippedInsideOutput };

// One input: its path lives in the list's shared text, so an input costs this
// record (and a state byte) beyond its path.
struct Input {
  std::uint64_t pathOffset = 0;
  std::uint32_t pathLength = 0;
  std::uint32_t relStart = 0;  // where the part mirrored below the output folder begins
  std::uint64_t bytesIn = 0;
  float seconds = 0;
  std::int32_t status = 0;
  bool insideOutput = false;
  bool outputsPresent = false;
};

// The inputs in input order, collected before any work starts.
class InputList {
 public:
  std::string_view PathOf(const Input& input) const { return {m_text.data() + input.pathOffset, input.pathLength}; }

  // The path below the output folder, without empty or "." components.
  std::string RelativeOf(const Input& input) const {
    std::string rel;
    for (const auto component : std::views::split(PathOf(input).substr(input.relStart), '/')) {
      const std::string_view part(component.begin(), component.end());
      if (part.empty() || part == ".") continue;
      if (!rel.empty()) rel += '/';
      rel += part;
    }
    return rel;
  }

  void Add(std::string_view path, std::size_t relStart, bool insideOutput) {
    Input input;
    input.pathOffset = m_text.size();
    input.pathLength = static_cast<std::uint32_t>(path.size());
    input.relStart = static_cast<std::uint32_t>(relStart);
    input.insideOutput = insideOutput;
    m_text.append(path);
    m_text += '\0';
    m_inputs.push_back(input);
  }

  std::vector<Input>& Inputs() { return m_inputs; }
  const char* CPathOf(const Input& input) const { return m_text.data() + input.pathOffset; }
  void Seal() {
    m_text.shrink_to_fit();
    m_inputs.shrink_to_fit();
  }

 private:
  std::string m_text;
  std::vector<Input> m_inputs;
};

bool HasDotDotComponent(std::string_view path) {
  return std::ranges::any_of(std::views::split(path, '/'), [](const auto component) {
    return std::string_view(component.begin(), component.end()) == "..";
  });
}

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

// Gathers the inputs: files as named, folders walked depth-first with names in
// byte order, and the paths of lists. Folder links are not followed below the
// top, so a walk always ends.
class InputCollector {
 public:
  InputCollector(InputList& list, const std::string& outDir) : m_list(list) {
    if (outDir.empty()) return;
    struct stat info {};
    char* real = ::realpath(outDir.c_str(), nullptr);
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
      Walk(path, path.size() + (path.ends_with('/') ? 0 : 1), IsInsideOutput(path));
      return;
    }
    const std::size_t slash = path.find_last_of('/');
    m_list.Add(path, slash == std::string::npos ? 0 : slash + 1, IsInsideOutput(FolderOf(path)));
  }

  // A listed path is mirrored as given, a leading '/' dropped. Lists name files:
  // a folder in one (find prints them too) is passed over.
  void AddListed(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return;
    m_list.Add(path, path.find_first_not_of('/') == std::string::npos ? 0 : path.find_first_not_of('/'),
               IsInsideOutput(FolderOf(path)));
  }

 private:
  bool IsInsideOutput(const std::string& folder) {
    if (m_outReal.empty()) return false;
    if (folder == m_lastFolder) return m_lastInside;
    char* real = ::realpath(folder.c_str(), nullptr);
    bool inside = false;
    if (real) {
      const std::string_view view(real);
      inside = view == m_outReal || (view.starts_with(m_outReal) && view[m_outReal.size()] == '/') || m_outReal == "/";
    }
    std::free(real);
    m_lastFolder = folder;
    m_lastInside = inside;
    return inside;
  }

  bool IsOutputFolder(const std::string& path, ino_t inode) const {
    if (m_outReal.empty() || inode != m_outInode) return false;
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && info.st_dev == m_outDevice && info.st_ino == m_outInode;
  }

  void Walk(const std::string& folder, std::size_t relStart, bool inside) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
      // The export names the problem when it meets the folder as an input.
      const std::size_t slash = folder.find_last_of('/');
      m_list.Add(folder, relStart < folder.size() ? relStart : slash == std::string::npos ? 0 : slash + 1, inside);
      return;
    }
    struct Entry {
      std::string name;
      unsigned char type;
      ino_t inode;
    };
    std::vector<Entry> entries;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string_view name(entry->d_name);
      if (name == "." || name == "..") continue;
      entries.push_back({std::string(name), entry->d_type, entry->d_ino});
    }
    ::closedir(dir);
    std::ranges::sort(entries, [](const Entry& a, const Entry& b) { return a.name < b.name; });
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
        Walk(path, relStart, inside || IsOutputFolder(path, entry.inode));
      } else if (type == DT_REG) {
        m_list.Add(path, relStart, inside);
      } else if (type == DT_LNK) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) m_list.Add(path, relStart, inside);
      }
    }
  }

  InputList& m_list;
  std::string m_outReal;
  dev_t m_outDevice = 0;
  ino_t m_outInode = 0;
  std::string m_lastFolder;
  bool m_lastInside = false;
};

// Reads a list of paths, one a line or NUL-separated; returns what is wrong, or "".
std::string ReadList(const std::string& listPath, bool nullSeparated, InputCollector& collector) {
  FILE* file = listPath == "-" ? stdin : std::fopen(listPath.c_str(), "rb");
  if (!file) return "cannot read the list '" + EscapeName(listPath) + "': " + std::strerror(errno);
  char* line = nullptr;
  std::size_t capacity = 0;
  std::string problem;
  for (;;) {
    const ssize_t length = ::getdelim(&line, &capacity, nullSeparated ? '\0' : '\n', file);
    if (length < 0) break;
    std::string path(line, static_cast<std::size_t>(length));
    if (!path.empty() && path.back() == (nullSeparated ? '\0' : '\n')) path.pop_back();
    if (path.empty()) continue;
    if (HasDotDotComponent(path)) {
      problem = "the listed path '" + EscapeName(path) +
                "' has a '..' component, so its output would leave the output folder";
      break;
    }
    collector.AddListed(path);
  }
  if (problem.empty() && std::ferror(file)) problem = "cannot read the list '" + EscapeName(listPath) + "'";
  std::free(line);
  if (file != stdin) std::fclose(file);
  return problem;
}

// ---- Output names ----

struct OutputNames {
  std::string paths[2];
  int count = 0;
};

OutputNames NameOutputs(const BatchJob& job, const std::string& outDir, const std::string& rel) {
  OutputNames names;
  if (!job.pfnNameOutputs) return names;
  std::string relNames[2];
  names.count = job.pfnNameOutputs(rel.empty() ? std::string_view("unnamed") : std::string_view(rel), relNames);
  for (int k = 0; k < names.count; ++k) names.paths[k] = JoinPath(outDir, relNames[k]);
  return names;
}

// Finds two inputs that would write the same output; returns the problem, or "".
// Only a hash and an index are held per output, so the check stays small.
std::string FindCollision(const BatchJob& job, const std::string& outDir, InputList& list) {
  auto& inputs = list.Inputs();
  std::vector<std::pair<std::uint64_t, std::uint32_t>> keys;  // hash, input * 2 + output
  for (std::uint32_t i = 0; i < inputs.size(); ++i) {
    if (inputs[i].insideOutput) continue;
    const OutputNames names = NameOutputs(job, outDir, list.RelativeOf(inputs[i]));
    for (int k = 0; k < names.count; ++k)
      keys.emplace_back(std::hash<std::string>{}(names.paths[k]), i * 2 + static_cast<std::uint32_t>(k));
  }
  std::ranges::sort(keys);
  for (std::size_t j = 1; j < keys.size(); ++j) {
    if (keys[j].first != keys[j - 1].first) continue;
    const Input& a = inputs[keys[j - 1].second / 2];
    const Input& b = inputs[keys[j].second / 2];
    const std::string outA = NameOutputs(job, outDir, list.RelativeOf(a)).paths[keys[j - 1].second % 2];
    const std::string outB = NameOutputs(job, outDir, list.RelativeOf(b)).paths[keys[j].second % 2];
    if (outA != outB) continue;
    return "the inputs '" + EscapeName(list.PathOf(a)) + "' and '" + EscapeName(list.PathOf(b)) +
           "' would both write '" + EscapeName(outA) + "'; nothing was converted";
  }
  return {};
}

// ---- The tool's own file work ----

// Creates a folder and its missing parents; true when it exists afterwards.
bool MakeFolders(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST) return true;
  if (errno != ENOENT) return false;
  const std::string parent = FolderOf(folder);
  if (parent == folder || !MakeFolders(parent)) return false;
  return ::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST;
}

// A temporary name in the output's own folder, so that the rename stays on one
// file system. It ends in the output's name: the exports check suffixes.
std::string TemporaryNameFor(const std::string& output, std::size_t index, int k) {
  constexpr std::size_t kKeptNameBytes = 48;
  const std::size_t slash = output.find_last_of('/');
  std::string_view name = std::string_view(output).substr(slash + 1);
  if (name.size() > kKeptNameBytes) name = name.substr(name.size() - kKeptNameBytes);
  return output.substr(0, slash + 1) + ".quorlix-" + std::to_string(::getpid()) + "-" + std::to_string(index) + "-" +
         std::to_string(k) + "-" + std::string(name);
}

bool IsNewer(const struct stat& a, const struct stat& b) {
  if (a.st_mtim.tv_sec != b.st_mtim.tv_sec) return a.st_mtim.tv_sec > b.st_mtim.tv_sec;
  return a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

// ---- The report ----

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string FormatDuration(double seconds) {
  const auto total = static_cast<long long>(seconds);
  char text[32];
  if (total >= 3600) std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  else std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  return text;
}

// ---- The run ----

class BatchRun {
 public:
  BatchRun(const BatchJob& job, const BatchOptions& options, InputList& list)
      : m_job(job), m_options(options), m_list(list), m_states(list.Inputs().size()) {}

  int Run();

 private:
  bool TakeInput(std::size_t worker, std::size_t& index);
  void Work(std::size_t worker);
  void Convert(std::size_t index);
  void Emit(std::size_t index);
  void DrawProgress(bool force);
  void ClearProgress();
  void PrintSummary();
  void Stop() {
    m_stop = true;
    const std::lock_guard lock(m_mutex);
    m_wake.notify_all();
  }
  std::string OutputsText(const Input& input) const;

  const BatchJob& m_job;
  const BatchOptions& m_options;
  InputList& m_list;
  std::vector<std::atomic<std::uint8_t>> m_states;
  // Work is handed out as ranges of consecutive inputs, one per worker; a worker
  // whose range is done takes the second half of the largest range left. The
  // workers so stay in different folders: in one folder, the file system makes
  // them take turns at the folder's lock for every file created or renamed.
  struct Range {
    std::size_t next;
    std::size_t end;
  };
  std::vector<Range> m_ranges;
  std::mutex m_rangeMutex;
  // Shown by the progress line, ahead of the results written in input order.
  std::atomic<std::size_t> m_doneInputs{0};
  std::atomic<std::size_t> m_doneFailures{0};
  std::atomic<std::uint64_t> m_doneBytes{0};
  std::atomic<bool> m_stop{false};
  std::atomic<unsigned> m_liveWorkers{0};
  std::mutex m_mutex;
  std::condition_variable m_wake;

  // Owned by the main thread.
  FILE* m_report = nullptr;
  std::string m_writeProblem;
  bool m_showProgress = false;
  bool m_progressShown = false;
  Clock::time_point m_start;
  Clock::time_point m_lastDraw;
  std::size_t m_emitted = 0;
  std::size_t m_converted = 0;
  std::size_t m_failed = 0;
  std::size_t m_skipped = 0;
  std::uint64_t m_bytes = 0;
  int m_firstFailure = QUORLIX_OK;
};

std::string BatchRun::OutputsText(const Input& input) const {
  if (!input.outputsPresent) return {};
  const OutputNames names = NameOutputs(m_job, m_options.outDir, m_list.RelativeOf(input));
  std::string text;
  for (int k = 0; k < names.count; ++k) {
    if (k) text += ';';
    text += names.paths[k];
  }
  return text;
}

void BatchRun::Convert(std::size_t index) {
  Input& input = m_list.Inputs()[index];
  if (input.insideOutput) {
    m_states[index].store(kSkippedInsideOutput, std::memory_order_release);
    return;
  }
  const Clock::time_point start = Clock::now();
  const char* path = m_list.CPathOf(input);
  struct stat inputInfo {};
  const bool inputKnown = ::stat(path, &inputInfo) == 0;
  if (inputKnown && S_ISREG(inputInfo.st_mode)) input.bytesIn = static_cast<std::uint64_t>(inputInfo.st_size);

  const OutputNames names = NameOutputs(m_job, m_options.outDir, m_list.RelativeOf(input));
  if (m_options.resume && inputKnown && names.count > 0) {
    bool allDone = true;
    for (int k = 0; k < names.count && allDone; ++k) {
      struct stat outputInfo {};
      allDone = ::stat(names.paths[k].c_str(), &outputInfo) == 0 && IsNewer(outputInfo, inputInfo);
    }
    if (allDone) {
      input.outputsPresent = true;
      input.seconds = std::chrono::duration<float>(Clock::now() - start).count();
      m_states[index].store(kSkippedDone, std::memory_order_release);
      return;
    }
  }

  if (names.count == 0) {
    input.status = m_job.pfnConvert(path, nullptr, nullptr);
  } else {
    // Folders are made once per run of inputs in the same folder.
    thread_local std::string lastFolder;
    std::string temporary[2];
    bool ready = true;
    for (int k = 0; k < names.count && ready; ++k) {
      const std::string folder = FolderOf(names.paths[k]);
      if (folder != lastFolder) {
        ready = MakeFolders(folder);
        if (ready) lastFolder = folder;
      }
      temporary[k] = TemporaryNameFor(names.paths[k], index, k);
      RegisterTempFile(temporary[k]);
    }
    if (!ready) {
      input.status = m_job.nOutputError;
    } else {
      input.status = m_job.pfnConvert(path, temporary[0].c_str(), names.count > 1 ? temporary[1].c_str() : nullptr);
    }
    const bool complete = ready && KeepsOutputs(m_job, input.status);
    int renamed = 0;
    if (complete) {
      while (renamed < names.count && ::rename(temporary[renamed].c_str(), names.paths[renamed].c_str()) == 0) {
        ForgetTempFile(temporary[renamed]);
        ++renamed;
      }
      if (renamed < names.count) {
        // All of an input's outputs or none of them.
        input.status = m_job.nOutputError;
        for (int k = 0; k < renamed; ++k) ::unlink(names.paths[k].c_str());
      }
    }
    for (int k = renamed; k < names.count; ++k)
      if (!temporary[k].empty()) RemoveTempFile(temporary[k]);
    input.outputsPresent = complete && renamed == names.count;
  }
  input.seconds = std::chrono::duration<float>(Clock::now() - start).count();
  m_states[index].store(kConverted, std::memory_order_release);
}

bool BatchRun::TakeInput(std::size_t worker, std::size_t& index) {
  const std::lock_guard lock(m_rangeMutex);
  Range& own = m_ranges[worker];
  if (own.next == own.end) {
    Range& largest = *std::ranges::max_element(m_ranges, {}, [](const Range& r) { return r.end - r.next; });
    const std::size_t left = largest.end - largest.next;
    if (left == 0) return false;
    const std::size_t taken = std::max<std::size_t>(1, left / 2);
    own = {largest.end - taken, largest.end};
    largest.end -= taken;
  }
  index = own.next++;
  return true;
}

void BatchRun::Work(std::size_t worker) {
  std::size_t index = 0;
  while (!m_stop.load(std::memory_order_relaxed) && TakeInput(worker, index)) {
    try {
      Convert(index);
    } catch (const std::exception&) {
      // Only an allocation of the tool's own can fail here; the input's outputs
      // are not in place, and its row says so with the export's input error.
      Input& input = m_list.Inputs()[index];
      input.outputsPresent = false;
      input.status = m_job.nInputError;
      m_states[index].store(kConverted, std::memory_order_release);
    }
    const Input& input = m_list.Inputs()[index];
    m_doneBytes += input.bytesIn;
    if (input.status != QUORLIX_OK) ++m_doneFailures;
    ++m_doneInputs;
  }
  if (--m_liveWorkers == 0) {
    const std::lock_guard lock(m_mutex);
    m_wake.notify_all();
  }
}

void BatchRun::ClearProgress() {
  if (!m_progressShown) return;
  std::fputs("\r\x1b[K", stderr);
  m_progressShown = false;
}

void BatchRun::DrawProgress(bool force) {
  const Clock::time_point now = Clock::now();
  if (!force && now - m_lastDraw < std::chrono::milliseconds(100)) return;
  m_lastDraw = now;
  const double elapsed = std::chrono::duration<double>(now - m_start).count();
  const std::size_t total = m_list.Inputs().size();
  const std::size_t done = m_doneInputs;
  const double rate = elapsed > 0 ? static_cast<double>(m_doneBytes) / (1024.0 * 1024.0) / elapsed : 0;
  const std::string left = done > 0
                               ? FormatDuration(elapsed * static_cast<double>(total - done) / static_cast<double>(done))
                               : std::string("?");
  std::fprintf(stderr, "\r\x1b[Kquorlix: %zu/%zu files, %zu failed, %.1f MiB/s, %s elapsed, %s left", done, total,
               m_doneFailures.load(), rate, FormatDuration(elapsed).c_str(), left.c_str());
  std::fflush(stderr);
  m_progressShown = true;
}

void BatchRun::Emit(std::size_t index) {
  const Input& input = m_list.Inputs()[index];
  const std::string_view path = m_list.PathOf(input);
  const auto state = m_states[index].load(std::memory_order_acquire);
  const bool verify = m_job.which == Export::kVerify;
  std::string status;
  std::string meaning;
  char bytes[24] = "";
  char seconds[24] = "";
  if (state == kSkippedInsideOutput) {
    ClearProgress();
    std::fprintf(stderr, "quorlix: skipped '%s': inside the output folder\n", EscapeName(path).c_str());
    meaning = "skipped: inside the output folder";
    ++m_skipped;
  } else {
    std::snprintf(bytes, sizeof bytes, "%llu", static_cast<unsigned long long>(input.bytesIn));
    std::snprintf(seconds, sizeof seconds, "%.6f", static_cast<double>(input.seconds));
    if (state == kSkippedDone) {
      meaning = "skipped";
      ++m_skipped;
    } else {
      m_bytes += input.bytesIn;
      status = std::to_string(input.status);
      if (input.status == QUORLIX_OK) {
        meaning = "ok";
      } else {
        // Only a failure's words name the outputs.
        const OutputNames names = NameOutputs(m_job, m_options.outDir, m_list.RelativeOf(input));
        meaning = DescribeStatus(m_job.which, input.status, {path, names.paths[0], names.paths[1]});
      }
      // Lines on a terminal must not run into the progress line.
      if (verify) ClearProgress();
      if (input.status == QUORLIX_OK) {
        ++m_converted;
        if (verify && !m_options.quiet) std::printf("%s: ok\n", EscapeName(path).c_str());
      } else {
        ++m_failed;
        if (m_firstFailure == QUORLIX_OK) m_firstFailure = input.status;
        if (verify) {
          std::printf("%s: %s (status %d)\n", EscapeName(path).c_str(), meaning.c_str(), input.status);
        } else {
          ClearProgress();
          std::fprintf(stderr, "quorlix: %s (status %d)\n", meaning.c_str(), input.status);
        }
      }
      if (verify && std::ferror(stdout) && m_writeProblem.empty()) {
        m_writeProblem = std::string("cannot write to standard output: ") + std::strerror(errno);
        Stop();
      }
    }
  }
  if (m_report) {
    const std::string row = CsvField(path) + ',' + status + ',' + CsvField(meaning) + ',' +
                            CsvField(OutputsText(input)) + ',' + bytes + ',' + seconds + "\r\n";
    if (std::fputs(row.c_str(), m_report) < 0 && m_writeProblem.empty()) {
      m_writeProblem = "cannot write the report '" + EscapeName(m_options.reportPath) + "': " + std::strerror(errno);
      Stop();
    }
  }
}

void BatchRun::PrintSummary() {
  const double elapsed = std::chrono::duration<double>(Clock::now() - m_start).count();
  const double rate = elapsed > 0 ? static_cast<double>(m_bytes) / (1024.0 * 1024.0) / elapsed : 0;
  std::fprintf(stderr, "quorlix: %zu %s, %zu failed, %zu skipped, %llu bytes in %.2f s, %.1f MiB/s\n", m_converted,
               m_job.which == Export::kVerify ? "agree" : "converted", m_failed, m_skipped,
               static_cast<unsigned long long>(m_bytes), elapsed, rate);
}

int BatchRun::Run() {
  const std::size_t count = m_list.Inputs().size();
  if (!m_options.reportPath.empty()) {
    m_report = m_options.reportPath == "-" ? stdout : std::fopen(m_options.reportPath.c_str(), "wb");
    if (!m_report) {
      std::fprintf(stderr, "quorlix: cannot write the report '%s': %s\n", EscapeName(m_options.reportPath).c_str(),
                   std::strerror(errno));
      return kExitIoError;
    }
    std::fputs("input,status,meaning,outputs,bytes_in,seconds\r\n", m_report);
  }
  m_showProgress = !m_options.quiet && !m_options.noProgress && (m_options.progress || ::isatty(STDERR_FILENO));

  // A reader that goes away gives EPIPE on the report or the lines, which stops
  // the batch as a signal would.
  std::signal(SIGPIPE, SIG_IGN);
  SignalWatch watch(SignalWatch::Mode::kFinishInFlight, [this](int) { Stop(); });

  m_start = Clock::now();
  m_lastDraw = m_start - std::chrono::seconds(1);
  {
    long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    if (processors < 1) processors = 1;
    std::size_t workers = m_options.jobs ? m_options.jobs : static_cast<std::size_t>(processors);
    workers = std::max<std::size_t>(1, std::min(workers, count));
    for (std::size_t w = 0; w < workers; ++w) m_ranges.push_back({count * w / workers, count * (w + 1) / workers});
    std::vector<std::jthread> pool;
    for (std::size_t w = 0; w < workers; ++w) {
      ++m_liveWorkers;
      try {
        pool.emplace_back([this, w] { Work(w); });
      } catch (const std::system_error&) {
        // Fewer threads than asked for still do all the work.
        --m_liveWorkers;
        break;
      }
    }
    if (pool.empty()) {
      ++m_liveWorkers;
      Work(0);
    }

    // Results are written in input order as the prefix of finished inputs grows;
    // the workers are never woken for it, the main thread looks now and then.
    const auto pause = std::chrono::milliseconds(m_showProgress ? 50 : 20);
    for (;;) {
      {
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, pause, [this] { return m_liveWorkers == 0; });
      }
      while (m_emitted < count && m_states[m_emitted].load(std::memory_order_acquire) != kPending) Emit(m_emitted++);
      if (m_showProgress) DrawProgress(false);
      if (m_liveWorkers == 0) break;
    }
  }
  // After an interrupt, the inputs done beyond the first one not started.
  for (; m_emitted < count; ++m_emitted)
    if (m_states[m_emitted].load(std::memory_order_acquire) != kPending) Emit(m_emitted);
  if (m_showProgress) DrawProgress(true);
  ClearProgress();

  if (m_report) {
    if ((std::fflush(m_report) != 0 || std::ferror(m_report)) && m_writeProblem.empty())
      m_writeProblem = "cannot write the report '" + EscapeName(m_options.reportPath) + "': " + std::strerror(errno);
    if (m_report != stdout && std::fclose(m_report) != 0 && m_writeProblem.empty())
      m_writeProblem = "cannot write the report '" + EscapeName(m_options.reportPath) + "': " + std::strerror(errno);
  }
  if (std::fflush(stdout) != 0 && m_writeProblem.empty())
    m_writeProblem = std::string("cannot write to standard output: ") + std::strerror(errno);
  if (!m_options.quiet && m_options.showSummary) PrintSummary();
  if (!m_writeProblem.empty()) std::fprintf(stderr, "quorlix: %s\n", m_writeProblem.c_str());

  const int signal = watch.Received();
  if (signal != 0 && m_writeProblem.empty()) {
    std::fflush(stderr);
    EndBySignal(signal);
  }
  if (!m_writeProblem.empty()) return kExitIoError;
  return m_firstFailure;
}

}  // namespace

void AddBatchOptions(CLI::App& sub, BatchOptions& options, bool withOutputs) {
  // More threads than this would only wait on the disk and each other.
  constexpr unsigned kMostJobs = 1024;
  if (withOutputs) {
    sub.add_option("-o,--out-dir", options.outDir,
                   "batch mode: every positional is an input (file or folder), converted into DIR, which mirrors them")
        ->type_name("DIR");
    sub.add_flag("--resume", options.resume, "skip inputs whose outputs all exist and are newer than the input");
  }
  sub.add_option("-T,--files-from", options.listFiles, "read input paths from FILE ('-': standard input), one a line")
      ->type_name("FILE");
  sub.add_flag("-0,--null", options.nullSeparated, "the -T lists are NUL-separated (find -print0)");
  sub.add_option("-j,--jobs", options.jobs, "conversions at once (default: the number of online processors)")
      ->type_name("N")
      ->check(CLI::Validator(
          [](std::string& value) {
            unsigned jobs = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), jobs);
            if (error != std::errc() || end != value.data() + value.size()) return std::string("is not a number");
            if (jobs == 0) return std::string("must be at least 1");
            return jobs > kMostJobs ? "must be at most " + std::to_string(kMostJobs) : std::string();
          },
          "", "jobs"));
  sub.add_option("--report", options.reportPath, "write a CSV report with one row per input ('-': standard output)")
      ->type_name("FILE");
  sub.add_flag("--progress", options.progress, "show progress on stderr even when it is not a terminal");
  sub.add_flag("--no-progress", options.noProgress, "never show progress");
  sub.add_flag("-q,--quiet", options.quiet, "no progress and no summary");
}

std::string_view StemOf(std::string_view path) {
  const std::size_t nameStart = path.find_last_of('/') + 1;
  const std::size_t dot = path.find_last_of('.');
  return dot == std::string_view::npos || dot <= nameStart ? path : path.substr(0, dot);
}

int NameOutputAsInput(std::string_view relPath, std::string outputs[2]) {
  outputs[0] = relPath;
  return 1;
}

bool AsksForBatch(const BatchOptions& options) {
  return !options.outDir.empty() || !options.listFiles.empty() || options.nullSeparated || options.jobs != 0 ||
         !options.reportPath.empty() || options.resume || options.progress || options.noProgress;
}

int RunBatch(const BatchJob& job, const BatchOptions& options, const std::vector<std::string>& inputs) {
  if (options.nullSeparated && options.listFiles.empty()) return ReportUsageError("-0 needs -T");
  if (inputs.empty() && options.listFiles.empty())
    return ReportUsageError("no inputs: name files or folders, or -T FILE");
  for (const auto& path : inputs)
    if (path == "-")
      return ReportUsageError("'-' is no input in batch mode; -T - reads the inputs' paths from standard input");
  InputList list;
  {
    InputCollector collector(list, options.outDir);
    for (const auto& path : inputs) collector.AddNamed(path);
    for (const auto& listPath : options.listFiles) {
      const std::string problem = ReadList(listPath, options.nullSeparated, collector);
      if (!problem.empty()) return ReportUsageError(problem);
    }
  }
  list.Seal();
  if (!options.outDir.empty()) {
    const std::string problem = FindCollision(job, options.outDir, list);
    if (!problem.empty()) return ReportUsageError(problem);
  }
  BatchRun run(job, options, list);
  return run.Run();
}
