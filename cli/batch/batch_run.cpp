#include "batch/batch_run.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "batch/staging_folders.h"
#include "interrupts.h"
#include "quorlix_schedules.h"

namespace {

using Clock = std::chrono::steady_clock;

// ---- Outputs under temporary names ----

// Creates a folder and its missing parents; true when it exists afterwards.
bool MakeFolders(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST) return true;
  if (errno != ENOENT) return false;
  const std::string parent = FolderOf(folder);
  if (parent == folder || !MakeFolders(parent)) return false;
  return ::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST;
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

// True when every output is a regular file newer than the input.
bool AreUpToDate(const OutputNames& names, const struct stat& inputInfo) {
  for (int k = 0; k < names.count; ++k) {
    struct stat outputInfo {};
    if (::stat(names.paths[k].c_str(), &outputInfo) != 0 || !S_ISREG(outputInfo.st_mode) ||
        !IsNewer(outputInfo, inputInfo))
      return false;
  }
  return true;
}

// An input's outputs while it is converted: the export writes them in the private
// folders of their destinations, and MoveIntoPlace renames them into place, all
// of them or none. What is left in the private folders is removed when this
// ends, and by an end at once on a signal.
class PendingOutputs {
 public:
  PendingOutputs(const OutputNames& names, std::size_t index, StagingFolders& staging) : m_names(names) {
    // Folders are made once per run of inputs in the same folder.
    thread_local std::string lastFolder;
    for (int k = 0; k < names.count; ++k) {
      const std::string folder = FolderOf(names.paths[k]);
      if (folder != lastFolder) {
        if (!MakeFolders(folder)) return;
        lastFolder = folder;
      }
      const StagingFolders::Folder* made = staging.For(folder);
      if (!made) return;
      // The outputs of one input share a folder but for a name that ends in '/'.
      if (k == 0 || &m_opened[k - 1]->Made() != made) m_opened[k].emplace(*made);
      else m_shared = true;
      const StagingFolders::Opened& opened = OpenedFor(k);
      if (!opened.IsOpen()) return;
      m_private[k] = PrivateNameFor(names.paths[k], index, k);
      m_handed[k] = opened.Handed(m_private[k]);
      m_registered[k] = made->path + "/" + m_private[k];
      RegisterTempFile(m_registered[k]);
    }
    m_ready = true;
  }
  ~PendingOutputs() {
    for (int k = m_renamed; k < m_names.count; ++k)
      if (!m_registered[k].empty()) RemoveTempFile(m_registered[k]);
  }
  PendingOutputs(const PendingOutputs&) = delete;
  PendingOutputs& operator=(const PendingOutputs&) = delete;

  // False when an output's folder, or its private folder, could not be made.
  bool IsReady() const { return m_ready; }
  // The path the export writes output k to; null for an output the job lacks.
  const char* PathFor(int k) const { return k < m_names.count ? m_handed[k].c_str() : nullptr; }

  // Renames the complete outputs into place; false (and none in place) when one
  // fails. An end at once waits for this, so a pair is never left half in place.
  bool MoveIntoPlace() {
    const HoldOffEnd whole;
    while (m_renamed < m_names.count && ::renameat(OpenedFor(m_renamed).Fd(), m_private[m_renamed].c_str(), AT_FDCWD,
                                                   m_names.paths[m_renamed].c_str()) == 0) {
      ForgetTempFile(m_registered[m_renamed]);
      ++m_renamed;
    }
    if (m_renamed == m_names.count) return true;
    for (int k = 0; k < m_renamed; ++k) ::unlink(m_names.paths[k].c_str());
    return false;
  }

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
};

// Removes what runs that ended without cleaning up left in the output folders
// of the inputs; returns how many other `.quorlix-` entries were kept there.
std::size_t RemoveLeftoversOfEndedRuns(const std::vector<OutputNames>& names) {
  std::set<std::string> folders;
  for (const OutputNames& outputs : names)
    for (int k = 0; k < outputs.count; ++k) folders.insert(FolderOf(outputs.paths[k]));
  LeftoverCount count;
  for (const std::string& folder : folders) RemoveLeftovers(folder, count);
  return count.kept;
}

// Conversions that may run at once when each holds up to this many files open
// (its input, two outputs and a spare), beside the tool's own.
unsigned MostJobsForOpenFiles() {
  constexpr rlim_t kFilesPerConversion = 4;
  constexpr rlim_t kToolsOwnFiles = 16;
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return ~0u;
  const rlim_t spare = limit.rlim_cur > kToolsOwnFiles ? limit.rlim_cur - kToolsOwnFiles : 0;
  return static_cast<unsigned>(std::clamp<rlim_t>(spare / kFilesPerConversion, 1, ~0u));
}

// ---- The run ----

// Every export that can run out of file descriptors says so with this status;
// the delimited conversion, which never returns it, counts that as an input error.
constexpr int kTooManyFiles = 7;

// How far one input has come. A worker writes an input's outcome and then
// publishes its state with a release store; the main thread reads the state first.
enum InputState : std::uint8_t { kPending, kFinished, kUpToDate };

class BatchRun {
 public:
  BatchRun(const BatchJob& job, const RunSettings& settings, InputList& list, BatchReport& report)
      : m_job(job), m_settings(settings), m_list(list), m_report(report), m_states(list.Inputs().size()) {}

  int Run();

 private:
  OutputNames NamesOf(const Input& input) const {
    if (m_job.naming == OutputNaming::kNone) return {};
    return NameOutputs(m_job.naming, m_settings.outDir, m_list.RelativeOf(input));
  }
  void StartWorkers(std::vector<std::jthread>& pool);
  bool TakeInput(std::size_t worker, std::size_t& index);
  void Work(std::size_t worker);
  void Convert(std::size_t index);
  bool RefuseFilesInTheWay(Input& input, const char* path, const OutputNames& names) const;
  int ConvertOnce(Input& input, const char* path, const OutputNames& names, std::size_t index);
  bool WaitForAnotherToEnd();
  void Emit(std::size_t index);

  // Counts the conversions running, so that one that ran out of files knows
  // whether another will give some back.
  class ActiveConversion {
   public:
    explicit ActiveConversion(BatchRun& run) : m_run(run) {
      const std::lock_guard lock(m_run.m_activeMutex);
      ++m_run.m_active;
    }
    ~ActiveConversion() {
      {
        const std::lock_guard lock(m_run.m_activeMutex);
        --m_run.m_active;
        ++m_run.m_ended;
      }
      m_run.m_activeChanged.notify_all();
    }
    ActiveConversion(const ActiveConversion&) = delete;
    ActiveConversion& operator=(const ActiveConversion&) = delete;

   private:
    BatchRun& m_run;
  };
  void Stop() {
    m_stop = true;
    const std::lock_guard lock(m_mutex);
    m_wake.notify_all();
  }

  const BatchJob& m_job;
  const RunSettings& m_settings;
  InputList& m_list;
  BatchReport& m_report;
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
  std::atomic<bool> m_stop{false};
  std::atomic<unsigned> m_liveWorkers{0};
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::size_t m_emitted = 0;  // owned by the main thread
  StagingFolders m_staging;
  std::mutex m_activeMutex;
  std::condition_variable m_activeChanged;
  unsigned m_active = 0;      // conversions running
  std::uint64_t m_ended = 0;  // conversions ended
  // The notes of failures the job explains, by input index, until emitted: few
  // inputs have one, so they are kept aside rather than in every input.
  std::unordered_map<std::size_t, FailureNote> m_notes;
  std::mutex m_notesMutex;
};

void BatchRun::Convert(std::size_t index) {
  Input& input = m_list.Inputs()[index];
  if (input.skip != InputSkip::kNone) {
    m_states[index].store(kFinished, std::memory_order_release);
    return;
  }
  const Clock::time_point start = Clock::now();
  const char* path = m_list.CPathOf(input);
  struct stat inputInfo {};
  const bool inputKnown = ::stat(path, &inputInfo) == 0;
  if (inputKnown && S_ISREG(inputInfo.st_mode)) input.bytesIn = static_cast<std::uint64_t>(inputInfo.st_size);

  const OutputNames names = NamesOf(input);
  InputState state = kFinished;
  if (m_settings.resume && inputKnown && names.count > 0 && AreUpToDate(names, inputInfo)) {
    input.outputsPresent = true;
    state = kUpToDate;
  } else if (!RefuseFilesInTheWay(input, path, names)) {
    while (ConvertOnce(input, path, names, index) == kTooManyFiles && WaitForAnotherToEnd()) {
    }
  }
  input.seconds = std::chrono::duration<float>(Clock::now() - start).count();
  if (m_job.pfnExplain && state == kFinished && input.status != QUORLIX_OK) {
    // An explanation that runs out of memory is left out; the status stands.
    try {
      FailureNote note = m_job.pfnExplain(path, input.status);
      if (!note.detail.empty() || !note.looksLike.empty()) {
        const std::lock_guard lock(m_notesMutex);
        m_notes.emplace(index, std::move(note));
      }
    } catch (const std::exception&) {
    }
  }
  m_states[index].store(state, std::memory_order_release);
}

// An input that is compressed or an archive fails with the input error; one
// whose output in the way is one, or a filing the job guards, fails with the
// output error, unless --force.
bool BatchRun::RefuseFilesInTheWay(Input& input, const char* path, const OutputNames& names) const {
  if (!RefusesPackedFiles(m_job)) return false;
  if (!PackingWords(path, false).empty()) {
    input.status = m_job.nInputError;
    input.cause = {CauseKind::kInputIsPacked};
    return true;
  }
  for (int k = 0; k < names.count && !m_settings.force; ++k) {
    CauseKind kind = CauseKind::kNone;
    if (!PackingWords(names.paths[k], true).empty()) kind = CauseKind::kOutputIsPacked;
    else if (GuardsFilings(m_job) && quorlix_is_filing(names.paths[k].c_str()) == QUORLIX_FILE_IS_FILING)
      kind = CauseKind::kOutputIsFiling;
    if (kind == CauseKind::kNone) continue;
    input.status = m_job.nOutputError;
    input.cause = {kind, static_cast<std::uint8_t>(k)};
    return true;
  }
  return false;
}

int BatchRun::ConvertOnce(Input& input, const char* path, const OutputNames& names, std::size_t index) {
  const ActiveConversion active(*this);
  if (names.count == 0) {
    input.status = m_job.pfnConvert(path, nullptr, nullptr);
    quorlix_failure failure{};
    quorlix_last_failure(&failure);
    input.cause = FindFailureCause(m_job.which, input.status, {path, {}, {}}, &failure);
    return input.status;
  }
  PendingOutputs outputs(names, index, m_staging);
  // The private folders lie in the final outputs' folders, so a cause found on
  // the outputs there holds for the final names too.
  const bool ready = outputs.IsReady();
  input.status = ready ? m_job.pfnConvert(path, outputs.PathFor(0), outputs.PathFor(1)) : m_job.nOutputError;
  quorlix_failure failure{};
  if (ready) quorlix_last_failure(&failure);  // on this thread, before any other call of the library
  const char* output1 = ready ? outputs.PathFor(0) : names.paths[0].c_str();
  const char* output2 = ready ? outputs.PathFor(1) : names.paths[1].c_str();
  input.cause =
      FindFailureCause(m_job.which, input.status, {path, output1, output2 ? output2 : ""}, ready ? &failure : nullptr);
  if (input.cause.kind == CauseKind::kTooLargeForLineEnds) {  // the library's words go with the input's row
    const std::lock_guard lock(m_notesMutex);
    m_notes.insert_or_assign(index, FailureNote{failure.detail, {}});
  }
  if (ready && KeepsOutputs(m_job, input.status)) {
    input.outputsPresent = outputs.MoveIntoPlace();
    if (!input.outputsPresent) input.status = m_job.nOutputError;
  }
  return input.status;
}

// A conversion that ran out of file descriptors while others ran gets them back
// when one of those ends: true once one has (and the conversion is tried again),
// false when it was alone, which makes the status final.
bool BatchRun::WaitForAnotherToEnd() {
  std::unique_lock lock(m_activeMutex);
  if (m_active == 0) return false;
  const std::uint64_t ended = m_ended;
  m_activeChanged.wait(lock, [&] { return m_ended != ended; });
  return true;
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
    Input& input = m_list.Inputs()[index];
    try {
      Convert(index);
    } catch (const std::exception&) {
      // Only an allocation of the tool's own can fail here; the input's outputs
      // are not in place, and its row says so with the export's input error.
      input.outputsPresent = false;
      input.status = m_job.nInputError;
      m_states[index].store(kFinished, std::memory_order_release);
    }
    m_report.Progress().CountDone(input.bytesIn, input.status != QUORLIX_OK);
  }
  if (--m_liveWorkers == 0) {
    const std::lock_guard lock(m_mutex);
    m_wake.notify_all();
  }
}

void BatchRun::Emit(std::size_t index) {
  const Input& input = m_list.Inputs()[index];
  const bool upToDate = m_states[index].load(std::memory_order_acquire) == kUpToDate;
  // A skipped input has no outputs to name; any other names them in its row or its failure's words.
  const OutputNames names = input.skip == InputSkip::kNone ? NamesOf(input) : OutputNames{};
  std::optional<FailureNote> note;
  if (m_job.pfnExplain || input.cause.kind == CauseKind::kTooLargeForLineEnds) {
    const std::lock_guard lock(m_notesMutex);
    if (const auto found = m_notes.find(index); found != m_notes.end()) {
      note = std::move(found->second);
      m_notes.erase(found);
    }
  }
  const HoldOffEnd wholeRow;
  const InputRow row{m_list.PathOf(input), input.skip,    upToDate,      input.status, &names,
                     input.outputsPresent, input.bytesIn, input.seconds, input.cause,  note ? &*note : nullptr};
  if (!m_report.Add(row)) Stop();
}

// One worker per job asked for (one per online processor by default), no more
// than there are inputs, nor than the open-file limit lets convert at once;
// fewer when threads run out, down to none.
void BatchRun::StartWorkers(std::vector<std::jthread>& pool) {
  const std::size_t count = m_list.Inputs().size();
  const long processors = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
  std::size_t workers = m_settings.jobs ? m_settings.jobs : static_cast<std::size_t>(processors);
  workers = std::max<std::size_t>(1, std::min({workers, count, std::size_t{MostJobsForOpenFiles()}}));
  for (std::size_t w = 0; w < workers; ++w) m_ranges.push_back({count * w / workers, count * (w + 1) / workers});
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
}

int BatchRun::Run() {
  // A reader that goes away gives EPIPE on the report or the lines, which stops
  // the batch as a signal would.
  std::signal(SIGPIPE, SIG_IGN);
  SignalWatch watch(SignalWatch::Mode::kFinishInFlight, [this](int) { Stop(); });

  const std::size_t count = m_list.Inputs().size();
  ProgressLine& progress = m_report.Progress();
  if (m_settings.resume) {
    std::vector<OutputNames> names;
    for (const Input& input : m_list.Inputs())
      if (input.skip == InputSkip::kNone) names.push_back(NamesOf(input));
    m_report.SetKeptEntries(RemoveLeftoversOfEndedRuns(names));
  }
  {
    std::vector<std::jthread> pool;
    StartWorkers(pool);
    if (pool.empty()) {
      ++m_liveWorkers;
      Work(0);
    }
    // Results are written in input order as the prefix of finished inputs grows;
    // the workers are never woken for it, the main thread looks now and then.
    const auto pause = std::chrono::milliseconds(progress.IsShown() ? 50 : 20);
    for (;;) {
      {
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, pause, [this] { return m_liveWorkers == 0; });
      }
      watch.Poll();
      while (m_emitted < count && m_states[m_emitted].load(std::memory_order_acquire) != kPending) Emit(m_emitted++);
      progress.Draw(false);
      if (m_liveWorkers == 0) break;
    }
  }
  m_staging.RemoveAll();
  // After an interrupt, the inputs done beyond the first one not started.
  for (; m_emitted < count; ++m_emitted)
    if (m_states[m_emitted].load(std::memory_order_acquire) != kPending) Emit(m_emitted);
  return m_report.Finish(watch.Received());
}

}  // namespace

int RunInputs(const BatchJob& job, const RunSettings& settings, InputList& list, BatchReport& report) {
  BatchRun run(job, settings, list, report);
  return run.Run();
}
