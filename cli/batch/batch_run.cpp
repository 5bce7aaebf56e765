#include "batch/batch_run.h"

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
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "interrupts.h"

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

// True when every output exists and is newer than the input.
bool AreUpToDate(const OutputNames& names, const struct stat& inputInfo) {
  for (int k = 0; k < names.count; ++k) {
    struct stat outputInfo {};
    if (::stat(names.paths[k].c_str(), &outputInfo) != 0 || !IsNewer(outputInfo, inputInfo)) return false;
  }
  return true;
}

// An input's outputs while it is converted: the export writes temporary files
// beside the final names, which MoveIntoPlace renames, all of them or none. The
// temporary files left are removed when this ends, and by an end at once on a
// signal.
class PendingOutputs {
 public:
  PendingOutputs(const OutputNames& names, std::size_t index) : m_names(names) {
    // Folders are made once per run of inputs in the same folder.
    thread_local std::string lastFolder;
    for (int k = 0; k < names.count; ++k) {
      const std::string folder = FolderOf(names.paths[k]);
      if (folder != lastFolder) {
        if (!MakeFolders(folder)) return;
        lastFolder = folder;
      }
      m_temporary[k] = TemporaryNameFor(names.paths[k], index, k);
      RegisterTempFile(m_temporary[k]);
    }
    m_ready = true;
  }
  ~PendingOutputs() {
    for (int k = m_renamed; k < m_names.count; ++k)
      if (!m_temporary[k].empty()) RemoveTempFile(m_temporary[k]);
  }
  PendingOutputs(const PendingOutputs&) = delete;
  PendingOutputs& operator=(const PendingOutputs&) = delete;

  // False when an output's folder could not be made.
  bool IsReady() const { return m_ready; }
  // The path the export writes output k to; null for an output the job lacks.
  const char* PathFor(int k) const { return k < m_names.count ? m_temporary[k].c_str() : nullptr; }

  // Renames the complete outputs into place; false (and none in place) when one fails.
  bool MoveIntoPlace() {
    while (m_renamed < m_names.count &&
           ::rename(m_temporary[m_renamed].c_str(), m_names.paths[m_renamed].c_str()) == 0) {
      ForgetTempFile(m_temporary[m_renamed]);
      ++m_renamed;
    }
    if (m_renamed == m_names.count) return true;
    for (int k = 0; k < m_renamed; ++k) ::unlink(m_names.paths[k].c_str());
    return false;
  }

 private:
  const OutputNames& m_names;
  std::string m_temporary[2];
  int m_renamed = 0;
  bool m_ready = false;
};

// ---- The run ----

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
  void Emit(std::size_t index);
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
  } else if (names.count == 0) {
    input.status = m_job.pfnConvert(path, nullptr, nullptr);
    input.cause = FindFailureCause(m_job.which, input.status, {path, {}, {}});
  } else {
    PendingOutputs outputs(names, index);
    // The temporary outputs lie in the final ones' folders, so a cause found on
    // them holds for the final names too.
    const bool ready = outputs.IsReady();
    input.status = ready ? m_job.pfnConvert(path, outputs.PathFor(0), outputs.PathFor(1)) : m_job.nOutputError;
    const char* output1 = ready ? outputs.PathFor(0) : names.paths[0].c_str();
    const char* output2 = ready ? outputs.PathFor(1) : names.paths[1].c_str();
    input.cause = FindFailureCause(m_job.which, input.status, {path, output1, output2 ? output2 : ""});
    if (ready && KeepsOutputs(m_job, input.status)) {
      input.outputsPresent = outputs.MoveIntoPlace();
      if (!input.outputsPresent) input.status = m_job.nOutputError;
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
  if (m_job.pfnExplain) {
    const std::lock_guard lock(m_notesMutex);
    if (const auto found = m_notes.find(index); found != m_notes.end()) {
      note = std::move(found->second);
      m_notes.erase(found);
    }
  }
  const InputRow row{m_list.PathOf(input), input.skip,    upToDate,      input.status, &names,
                     input.outputsPresent, input.bytesIn, input.seconds, input.cause,  note ? &*note : nullptr};
  if (!m_report.Add(row)) Stop();
}

// One worker per job asked for (one per online processor by default), no more
// than there are inputs; fewer when threads run out, down to none.
void BatchRun::StartWorkers(std::vector<std::jthread>& pool) {
  const std::size_t count = m_list.Inputs().size();
  const long processors = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
  std::size_t workers = m_settings.jobs ? m_settings.jobs : static_cast<std::size_t>(processors);
  workers = std::max<std::size_t>(1, std::min(workers, count));
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
      while (m_emitted < count && m_states[m_emitted].load(std::memory_order_acquire) != kPending) Emit(m_emitted++);
      progress.Draw(false);
      if (m_liveWorkers == 0) break;
    }
  }
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
