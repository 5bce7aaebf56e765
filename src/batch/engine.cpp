// The batch engine behind quorlix_run_batch: the checks of a batch's settings
// and inputs, then the conversions as a job of the ordered run (each input's
// outputs written in private folders and renamed into place when complete,
// pending_outputs), or the schedules' table (table_batch); the rows go to the
// caller in input order.
#include "quorlix_batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "batch/engine.h"
#include "batch/naming.h"
#include "batch/ordered_run.h"
#include "batch/pending_outputs.h"
#include "batch/private_folders.h"
#include "batch/table_batch.h"
#include "batch/walk.h"
#include "platform/failure_record.h"
#include "platform/temporaries.h"
#include "quorlix_failure.h"
#include "quorlix_schedules.h"

namespace batch {

using namespace temporaries;
namespace {

using Clock = std::chrono::steady_clock;

// ---- The run ----

// Every export that can run out of file descriptors says so with this status;
// the delimited conversion, which never returns it, counts that as an input error.
constexpr int kTooManyFiles = 7;

// What a batch does with each input: the export's statuses for a failure of the
// input and of an output, and those whose outputs are complete although not 0.
struct Job {
  OutputNaming naming;
  int inputError;
  int outputError;
  int keptStatus1 = -1;
  int keptStatus2 = -1;
};

bool JobOf(int which, Job& job) {
  switch (which) {
    case QUORLIX_BATCH_LIST: job = {OutputNaming::kNone, 0, 0}; return true;
    case QUORLIX_BATCH_CRLF:
      job = {OutputNaming::kSameName, QUORLIX_CRLF_INPUT_ERROR, QUORLIX_CRLF_OUTPUT_ERROR};
      return true;
    case QUORLIX_BATCH_HTML:
      job = {OutputNaming::kText, QUORLIX_HTML_INPUT_ERROR, QUORLIX_HTML_OUTPUT_ERROR};
      return true;
    case QUORLIX_BATCH_FILING:
      job = {OutputNaming::kTextAndSchedule, QUORLIX_FILING_FILE_ERROR, QUORLIX_FILING_FILE_ERROR};
      return true;
    case QUORLIX_BATCH_VERIFY:
      job = {OutputNaming::kNone, QUORLIX_VERIFY_FILE_ERROR, QUORLIX_VERIFY_FILE_ERROR};
      return true;
    case QUORLIX_BATCH_DELIMITED:
      // The statuses that say what the input lacked come with a complete output.
      job = {OutputNaming::kSameName, QUORLIX_DELIMITED_INPUT_ERROR, QUORLIX_DELIMITED_OUTPUT_ERROR,
             QUORLIX_DELIMITED_NO_RECORD, QUORLIX_DELIMITED_NO_FIELD};
      return true;
    case QUORLIX_BATCH_SCHEDULES:
      job = {OutputNaming::kNone, QUORLIX_FILING_FILE_ERROR, QUORLIX_FILING_FILE_ERROR};
      return true;
    default: return false;
  }
}

// Every conversion that writes outputs reads no compressed file or archive (an
// input that is one fails with the input error) nor writes one (an output in
// the way that is one is not replaced without force).
bool RefusesPackedFiles(const Job& job) { return job.naming != OutputNaming::kNone; }

// Decoding writes text that is never a filing, so an output in the way that is
// one can only be a slip (a filing folder given as the output folder): it is not
// replaced without force. Other conversions of a filing still frame it, and so
// run again over their own outputs.
bool GuardsFilings(int which) { return which == QUORLIX_BATCH_FILING; }

bool KeepsOutputs(const Job& job, int status) {
  return status == QUORLIX_OK || status == job.keptStatus1 || status == job.keptStatus2;
}

int OutputCount(OutputNaming naming) {
  switch (naming) {
    case OutputNaming::kNone: return 0;
    case OutputNaming::kTextAndSchedule: return 2;
    default: return 1;
  }
}

// A path made absolute, its folder's links resolved: two such are one file
// whether it exists or not.
std::string Resolved(const std::string& path) {
  const std::string folder = FolderOf(path);
  char* real = ::realpath(folder.c_str(), nullptr);
  const std::string name = path.substr(path.find_last_of('/') + 1);
  std::string resolved = real ? JoinPath(real, name) : path;
  std::free(real);
  if (char* whole = ::realpath(resolved.c_str(), nullptr)) {
    resolved = whole;
    std::free(whole);
  }
  return resolved;
}

// Whether an output names the input or the other output.
bool NamesOneFileTwice(const char* input, const OutputNames& names) {
  std::vector<std::string> files{Resolved(input)};
  for (int k = 0; k < names.count; ++k) files.push_back(Resolved(names.paths[k]));
  std::ranges::sort(files);
  return std::ranges::adjacent_find(files) != files.end();
}

bool IsPacked(const char* path, bool mayBeMissing) {
  // An output asked about is most often not written yet: a stat spares the
  // library the opening that fails.
  struct stat info {};
  if (mayBeMissing && (::stat(path, &info) != 0 || !S_ISREG(info.st_mode))) return false;
  const int packing = quorlix_file_packing(path, nullptr, 0);
  return packing == QUORLIX_PACKING_COMPRESSED || packing == QUORLIX_PACKING_ARCHIVE;
}

int Convert(const quorlix_batch_conversion& conversion, const char* input, const char* output, const char* output2) {
  switch (conversion.which) {
    case QUORLIX_BATCH_CRLF: return CvtCRLF(input, output, conversion.flag);
    case QUORLIX_BATCH_HTML: return CvtHTMLtoText(input, output, conversion.flag);
    case QUORLIX_BATCH_FILING: return CvtDecodeFiling(input, output, output2);
    case QUORLIX_BATCH_VERIFY: return CvtVerifyFile(input);
    case QUORLIX_BATCH_DELIMITED: {
      const auto or_ = [](const char* text, const char* otherwise) { return text ? text : otherwise; };
      return CvtDelimitedFile(input, or_(conversion.in_record, "\r\n"), or_(conversion.in_field, ","), output,
                              or_(conversion.out_field, "\t"), or_(conversion.out_record, "\r\n"));
    }
    default: return QUORLIX_OK;
  }
}

struct RunSettings {
  quorlix_batch_conversion conversion;
  std::string_view outDir;  // empty when the job writes no outputs
  // The caller's output names, OutputsOf(conversion) per input, in place of the
  // naming rule; null for the rule.
  const char* const* outputs = nullptr;
  unsigned jobs = 0;
  bool resume = false;
  bool force = false;
};

// How far one input has come. A worker writes an input's outcome and then
// publishes its state with a release store; the main thread reads the state first.
enum InputState : std::uint8_t { kPending, kFinished, kUpToDate };

class BatchRun final : public OrderedJob {
 public:
  BatchRun(const Job& job, const RunSettings& settings, InputList& list, const quorlix_batch_callbacks& callbacks)
      : m_job(job), m_settings(settings), m_list(list), m_callbacks(callbacks), m_states(list.Inputs().size()) {}

  // Returns QUORLIX_BATCH_DONE or QUORLIX_BATCH_STOPPED.
  int Run(std::size_t& keptEntries);

  bool Work(std::size_t index, std::size_t worker) override;
  bool Take(std::size_t index) override {
    Emit(index);
    m_emitted = index + 1;
    return !m_stop;
  }
  bool Poll() override {
    if (!TellProgress()) m_stop = true;
    return !m_stop;
  }

 private:
  OutputNames NamesOf(std::size_t index) const {
    if (m_job.naming == OutputNaming::kNone) return {};
    if (m_settings.outputs) {
      OutputNames names;
      names.count = OutputCount(m_job.naming);
      for (int k = 0; k < names.count; ++k) names.paths[k] = m_settings.outputs[index * names.count + k];
      return names;
    }
    return NameOutputs(m_job.naming, m_settings.outDir, m_list.RelativeOf(m_list.Inputs()[index]));
  }
  std::size_t WorkerCount() const;
  void Convert(std::size_t index);
  bool RefuseFilesInTheWay(Input& input, const char* path, const OutputNames& names) const;
  int ConvertOnce(Input& input, const char* path, const OutputNames& names, std::size_t index);
  void Inspect(std::size_t index, const char* path, const char* output1, const char* output2, int status,
               bool exportRan);
  void NoteFileError(Input& input, std::size_t index, int status, int error, int output);
  int ConvertInPlace(Input& input, const char* path, const OutputNames& names, std::size_t index);
  bool WaitForAnotherToEnd();
  void Emit(std::size_t index);
  bool TellProgress();

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

  const Job& m_job;
  const RunSettings& m_settings;
  InputList& m_list;
  const quorlix_batch_callbacks& m_callbacks;
  std::vector<std::atomic<std::uint8_t>> m_states;
  std::atomic<bool> m_stop{false};
  std::size_t m_emitted = 0;  // owned by the calling thread
  StagingFolders m_staging;
  std::mutex m_activeMutex;
  std::condition_variable m_activeChanged;
  unsigned m_active = 0;      // conversions running
  std::uint64_t m_ended = 0;  // conversions ended
  std::atomic<std::size_t> m_doneInputs{0};
  std::atomic<std::size_t> m_doneFailures{0};
  std::atomic<std::uint64_t> m_doneBytes{0};
  // The library's words on failures, by input index, until emitted: few inputs
  // have one, so they are kept aside rather than in every input.
  std::unordered_map<std::size_t, quorlix_failure> m_failures;
  std::mutex m_failuresMutex;
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

  const OutputNames names = NamesOf(index);
  InputState state = kFinished;
  if (m_settings.resume && inputKnown && names.count > 0 && AreUpToDate(names, inputInfo)) {
    input.outputsPresent = true;
    state = kUpToDate;
  } else if (!RefuseFilesInTheWay(input, path, names)) {
    while (ConvertOnce(input, path, names, index) == kTooManyFiles && WaitForAnotherToEnd()) {
    }
  }
  input.seconds = std::chrono::duration<float>(Clock::now() - start).count();
  m_states[index].store(state, std::memory_order_release);
}

// An input that is compressed or an archive fails with the input error; one
// whose output in the way is one, or a filing the job guards, fails with the
// output error, unless forced.
bool BatchRun::RefuseFilesInTheWay(Input& input, const char* path, const OutputNames& names) const {
  if (!RefusesPackedFiles(m_job)) return false;
  if (IsPacked(path, false)) {
    input.status = m_job.inputError;
    input.note = QUORLIX_BATCH_NOTE_INPUT_PACKED;
    return true;
  }
  for (int k = 0; k < names.count && !m_settings.force; ++k) {
    int note = QUORLIX_BATCH_NOTE_NONE;
    if (IsPacked(names.paths[k].c_str(), true)) note = QUORLIX_BATCH_NOTE_OUTPUT_PACKED;
    else if (GuardsFilings(m_settings.conversion.which) &&
             quorlix_is_filing(names.paths[k].c_str()) == QUORLIX_FILE_IS_FILING)
      note = QUORLIX_BATCH_NOTE_OUTPUT_IS_FILING;
    if (note == QUORLIX_BATCH_NOTE_NONE) continue;
    input.status = m_job.outputError;
    input.note = static_cast<std::uint8_t>(note);
    input.noteOutput = static_cast<std::uint8_t>(k);
    return true;
  }
  return false;
}

// A failed call: the library's words are kept for the row, and the caller may
// look at the files while they are as the export left them.
void BatchRun::Inspect(std::size_t index, const char* path, const char* output1, const char* output2, int status,
                       bool exportRan) {
  if (status == QUORLIX_OK) return;
  quorlix_failure failure{};
  if (exportRan) quorlix_last_failure(&failure);
  else failure.status = status;
  {
    const std::lock_guard lock(m_failuresMutex);
    m_failures.insert_or_assign(index, failure);
  }
  if (!m_callbacks.inspect) return;
  const quorlix_batch_call call{index, path, {output1, output2}, status, exportRan ? &failure : nullptr};
  m_callbacks.inspect(m_callbacks.context, &call);
}

// The batch's own file work on an output failed: the row's failure says so, with
// the system's error number. Where the output's folder or its private folder
// could not be made, the cause is that folder's, as the export would have met it
// creating the output there.
void BatchRun::NoteFileError(Input& input, std::size_t index, int status, int error, int output) {
  if (input.note == QUORLIX_BATCH_NOTE_NONE) input.note = QUORLIX_BATCH_NOTE_OUTPUT_NOT_PLACED;
  const std::lock_guard lock(m_failuresMutex);
  quorlix_failure& failure = m_failures[index];
  failure = quorlix_failure{};
  failure.status = status;
  failure.error_number = error;
  failure.file = output == 0 ? QUORLIX_FAILED_FILE_OUTPUT : QUORLIX_FAILED_FILE_OUTPUT2;
  if (input.note == QUORLIX_BATCH_NOTE_NO_PRIVATE_FOLDER) {
    failure.cause = FolderCauseOf(error);
    failure.operation = QUORLIX_OPERATION_CREATE;
  } else {  // the rename into place failed
    failure.cause = static_cast<int>(FailureCauseOfErrno(error));
    failure.operation = QUORLIX_OPERATION_RENAME;
  }
}

int BatchRun::ConvertOnce(Input& input, const char* path, const OutputNames& names, std::size_t index) {
  const ActiveConversion active(*this);
  if (names.count == 0) {
    input.status = batch::Convert(m_settings.conversion, path, nullptr, nullptr);
    Inspect(index, path, nullptr, nullptr, input.status, true);
    return input.status;
  }
  // Outputs the caller named that are the input or each other are converted in
  // place, as the export does it; so are those whose folder takes no private
  // folder, which meet the folder's fault in the export, with its statuses.
  const bool explicitNames = m_settings.outputs != nullptr;
  if (explicitNames && NamesOneFileTwice(path, names)) return ConvertInPlace(input, path, names, index);
  PendingOutputs outputs(names, index, m_staging, !explicitNames);
  if (explicitNames && !outputs.IsReady()) return ConvertInPlace(input, path, names, index);
  // The private folders lie in the final outputs' folders, so what is found on
  // the outputs there holds for the final names too.
  const bool ready = outputs.IsReady();
  if (ready) {
    input.status = batch::Convert(m_settings.conversion, path, outputs.PathFor(0), outputs.PathFor(1));
  } else {
    input.status = m_job.outputError;
    input.note = QUORLIX_BATCH_NOTE_NO_PRIVATE_FOLDER;
  }
  const char* output1 = ready ? outputs.PathFor(0) : names.paths[0].c_str();
  const char* output2 = ready ? outputs.PathFor(1) : names.count > 1 ? names.paths[1].c_str() : nullptr;
  Inspect(index, path, output1, output2, input.status, ready);
  if (ready && KeepsOutputs(m_job, input.status)) {
    input.outputsPresent = outputs.MoveIntoPlace();
    if (!input.outputsPresent) input.status = m_job.outputError;
  }
  if (outputs.Error() != 0) NoteFileError(input, index, input.status, outputs.Error(), outputs.ErrorOutput());
  return input.status;
}

int BatchRun::ConvertInPlace(Input& input, const char* path, const OutputNames& names, std::size_t index) {
  const char* output2 = names.count > 1 ? names.paths[1].c_str() : nullptr;
  input.status = batch::Convert(m_settings.conversion, path, names.paths[0].c_str(), output2);
  Inspect(index, path, names.paths[0].c_str(), output2, input.status, true);
  input.outputsPresent = KeepsOutputs(m_job, input.status);
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

bool BatchRun::Work(std::size_t index, std::size_t /*worker*/) {
  Input& input = m_list.Inputs()[index];
  try {
    Convert(index);
  } catch (const std::exception&) {
    // Only an allocation of the engine's own can fail here; the input's outputs
    // are not in place, and its row says so with the export's input error.
    input.outputsPresent = false;
    input.status = m_job.inputError;
    m_states[index].store(kFinished, std::memory_order_release);
  }
  m_doneBytes.fetch_add(input.bytesIn, std::memory_order_relaxed);
  if (input.status != QUORLIX_OK) m_doneFailures.fetch_add(1, std::memory_order_relaxed);
  m_doneInputs.fetch_add(1, std::memory_order_relaxed);
  return false;
}

void BatchRun::Emit(std::size_t index) {
  const Input& input = m_list.Inputs()[index];
  const bool upToDate = m_states[index].load(std::memory_order_acquire) == kUpToDate;
  // A skipped input has no outputs to name; any other names them in its row.
  const OutputNames names = input.skip == InputSkip::kNone ? NamesOf(index) : OutputNames{};
  quorlix_batch_row row{};
  row.index = index;
  row.input = m_list.CPathOf(input);
  row.relative_start = input.relStart;
  for (int k = 0; k < names.count; ++k) row.outputs[k] = names.paths[k].c_str();
  row.output_count = names.count;
  row.status = input.skip == InputSkip::kNone && !upToDate ? input.status : QUORLIX_OK;
  row.outputs_present = input.outputsPresent ? 1 : 0;
  row.skip = upToDate ? QUORLIX_BATCH_SKIP_UP_TO_DATE : static_cast<int>(input.skip);
  row.note = input.note;
  row.note_output = input.noteOutput;
  row.bytes_in = input.bytesIn;
  row.seconds = input.seconds;
  if (row.status != QUORLIX_OK) {
    const std::lock_guard lock(m_failuresMutex);
    if (const auto found = m_failures.find(index); found != m_failures.end()) {
      row.failure = found->second;
      m_failures.erase(found);
    }
  }
  if (m_callbacks.row && m_callbacks.row(m_callbacks.context, &row) != 0) m_stop = true;
}

bool BatchRun::TellProgress() {
  if (!m_callbacks.progress) return true;
  const quorlix_batch_progress progress{m_list.Inputs().size(), m_doneInputs.load(std::memory_order_relaxed),
                                        m_doneFailures.load(std::memory_order_relaxed),
                                        m_doneBytes.load(std::memory_order_relaxed)};
  return m_callbacks.progress(m_callbacks.context, &progress) == 0;
}

// One worker per job asked for (one per online processor by default), no more
// than there are inputs, nor than the open-file limit lets convert at once.
std::size_t BatchRun::WorkerCount() const {
  const long processors = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
  const std::size_t workers = m_settings.jobs ? m_settings.jobs : static_cast<std::size_t>(processors);
  return std::max<std::size_t>(1, std::min({workers, m_list.Inputs().size(), std::size_t{MostJobsForOpenFiles()}}));
}

int BatchRun::Run(std::size_t& keptEntries) {
  const std::size_t count = m_list.Inputs().size();
  if (m_settings.resume) {
    std::vector<OutputNames> names;
    for (std::size_t i = 0; i < count; ++i)
      if (m_list.Inputs()[i].skip == InputSkip::kNone) names.push_back(NamesOf(i));
    keptEntries = RemoveLeftoversOfEndedRuns(names);
  }
  // The rows go out in input order as the inputs finish; the calling thread
  // looks now and then to tell the progress. Workers keep apart, each in its
  // own stretch of the inputs (and so of the output folders).
  LastFolderMade().clear();
  OrderedRun(*this, {count, WorkerCount(), ClaimOrder::kSpread, 0, std::chrono::milliseconds(20)}).Run();
  m_staging.RemoveAll();
  // After a stop, the inputs finished beyond the first one not finished.
  for (; m_emitted < count; ++m_emitted)
    if (m_states[m_emitted].load(std::memory_order_acquire) != kPending) Emit(m_emitted);
  TellProgress();
  return m_stop ? QUORLIX_BATCH_STOPPED : QUORLIX_BATCH_DONE;
}

// One file, compared by device and inode when it exists, else by its path made
// absolute and plain.
struct FileKey {
  explicit FileKey(std::string_view path) {
    struct stat info {};
    exists = ::stat(std::string(path).c_str(), &info) == 0;
    if (exists) {
      device = info.st_dev;
      inode = info.st_ino;
    } else {
      std::error_code error;
      normal = std::filesystem::absolute(std::filesystem::path(path), error).lexically_normal();
    }
  }
  bool operator==(const FileKey& other) const {
    return exists == other.exists && (exists ? device == other.device && inode == other.inode : normal == other.normal);
  }
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::filesystem::path normal;
};

// A file the caller writes itself may be neither an input nor where an output goes.
Refusal FindReservedCollision(const char* reservedPath, OutputNaming naming, std::string_view outDir,
                              const InputList& list) {
  const FileKey reserved(reservedPath);
  for (const Input& input : list.Inputs()) {
    const std::string_view path = list.PathOf(input);
    if (FileKey(path) == reserved)
      return {QUORLIX_BATCH_REFUSED_RESERVED_IS_INPUT, std::string(path), {}, reservedPath};
    if (outDir.empty() || input.skip != InputSkip::kNone) continue;
    const OutputNames names = NameOutputs(naming, outDir, list.RelativeOf(input));
    for (int k = 0; k < names.count; ++k)
      if (FileKey(names.paths[k]) == reserved)
        return {QUORLIX_BATCH_REFUSED_RESERVED_IS_OUTPUT, std::string(path), {}, reservedPath};
  }
  return {};
}

WalkFilter WalkFilterOf(int walk, int which) {
  switch (walk) {
    case QUORLIX_BATCH_WALK_EVERY_FILE: return WalkFilter::kEveryFile;
    case QUORLIX_BATCH_WALK_PAGES: return WalkFilter::kPages;
    case QUORLIX_BATCH_WALK_FILINGS: return WalkFilter::kSubmissions;
    default: break;
  }
  // A walked folder gives each conversion the files it accepts: the HTML
  // conversion pages, the decoder filings; the others take every file.
  switch (which) {
    case QUORLIX_BATCH_HTML: return WalkFilter::kPages;
    case QUORLIX_BATCH_FILING: return WalkFilter::kSubmissions;
    default: return WalkFilter::kEveryFile;
  }
}

int Refuse(const Refusal& refusal, const quorlix_batch_callbacks& callbacks) {
  if (callbacks.refused) {
    const quorlix_batch_refusal told{refusal.reason, refusal.input.c_str(), refusal.input2.c_str(),
                                     refusal.output.c_str()};
    callbacks.refused(callbacks.context, &told);
  }
  return QUORLIX_BATCH_REFUSED;
}

bool IsExistingNonFolder(const char* path) {
  struct stat info {};
  return ::stat(path, &info) == 0 && !S_ISDIR(info.st_mode);
}

// Whether a table's settings are whole: a known destination with what it needs.
bool IsUsableTable(const quorlix_batch_table& table) {
  switch (table.to) {
    case QUORLIX_BATCH_TABLE_TO_WRITE: return table.write != nullptr;
    case QUORLIX_BATCH_TABLE_TO_FILE:
    case QUORLIX_BATCH_TABLE_TO_DATABASE: return table.path && *table.path;
    default: return false;
  }
}

}  // namespace

int RunBatch(const quorlix_batch_settings& settings, const quorlix_batch_callbacks& callbacks,
             quorlix_batch_summary& summary, TableRunner runTable) {
  Job job{};
  const bool tabling = settings.conversion.which == QUORLIX_BATCH_SCHEDULES;
  if (tabling != (settings.table != nullptr)) return QUORLIX_BATCH_BAD_CALL;
  if (tabling) {
    settings.table->status = -1;
    if (!runTable || settings.outputs || !IsUsableTable(*settings.table)) return QUORLIX_BATCH_BAD_CALL;
  }
  // The table's file is the caller's as a report is: no input may be it.
  const char* const tableFile =
      tabling && settings.table->to != QUORLIX_BATCH_TABLE_TO_WRITE ? settings.table->path : nullptr;
  // A list names the outputs of the conversion its flag names, if any.
  const bool listing = settings.conversion.which == QUORLIX_BATCH_LIST;
  if (listing && settings.conversion.flag != QUORLIX_BATCH_LIST &&
      (settings.conversion.flag == QUORLIX_BATCH_VERIFY || settings.conversion.flag == QUORLIX_BATCH_SCHEDULES ||
       !JobOf(settings.conversion.flag, job)))
    return QUORLIX_BATCH_BAD_CALL;
  if ((!listing && !JobOf(settings.conversion.which, job)) || (settings.named_count > 0 && !settings.named) ||
      (settings.reserved_count > 0 && !settings.reserved) || settings.walk < QUORLIX_BATCH_WALK_DEFAULT ||
      settings.walk > QUORLIX_BATCH_WALK_FILINGS)
    return QUORLIX_BATCH_BAD_CALL;
  for (std::size_t i = 0; i < settings.named_count; ++i)
    if (!settings.named[i]) return QUORLIX_BATCH_BAD_CALL;
  const bool writes = job.naming != OutputNaming::kNone;
  const std::string_view outDir = settings.out_dir && !tabling ? settings.out_dir : "";
  const bool explicitNames = settings.outputs != nullptr;
  if (writes && !explicitNames && outDir.empty()) return QUORLIX_BATCH_BAD_CALL;
  if (writes && !outDir.empty() && IsExistingNonFolder(settings.out_dir))
    return Refuse({QUORLIX_BATCH_REFUSED_OUT_DIR_IS_FILE, {}, {}, settings.out_dir}, callbacks);

  if (explicitNames) {
    if (listing) return QUORLIX_BATCH_BAD_CALL;
    for (std::size_t i = 0; i < settings.named_count * OutputCount(job.naming); ++i)
      if (!settings.outputs[i]) return QUORLIX_BATCH_BAD_CALL;
  }
  InputList list;
  if (explicitNames) {
    // Taken as they are: no walk, no output folder, no naming rule.
    for (std::size_t i = 0; i < settings.named_count; ++i) list.Add(settings.named[i], 0, InputSkip::kNone);
    if (settings.named_count == 0) return Refuse({QUORLIX_BATCH_REFUSED_NO_INPUTS, {}, {}, {}}, callbacks);
  }
  const InputSources sources{settings.named,
                             settings.named_count,
                             settings.next_listed,
                             settings.listed_context,
                             outDir,
                             WalkFilterOf(settings.walk, settings.conversion.which)};
  if (!explicitNames)
    if (const Refusal refusal = CollectInputs(sources, list); refusal.reason != 0) return Refuse(refusal, callbacks);
  if (writes && !explicitNames)
    if (const Refusal refusal = FindCollision(job.naming, outDir, list); refusal.reason != 0)
      return Refuse(refusal, callbacks);
  for (std::size_t i = 0; i < settings.reserved_count; ++i)
    if (settings.reserved[i])
      if (const Refusal refusal = FindReservedCollision(settings.reserved[i], job.naming, outDir, list);
          refusal.reason != 0)
        return Refuse(refusal, callbacks);
  if (tableFile)
    if (const Refusal refusal = FindReservedCollision(tableFile, job.naming, outDir, list); refusal.reason != 0)
      return Refuse(refusal, callbacks);

  if (callbacks.start && callbacks.start(callbacks.context, list.Inputs().size()) != 0) return QUORLIX_BATCH_STOPPED;
  if (listing) {
    // A walk alone: each input's row at once, nothing converted.
    for (std::size_t i = 0; i < list.Inputs().size(); ++i) {
      const Input& input = list.Inputs()[i];
      const OutputNames names = writes ? NameOutputs(job.naming, outDir, list.RelativeOf(input)) : OutputNames{};
      quorlix_batch_row row{};
      row.index = i;
      row.input = list.CPathOf(input);
      row.relative_start = input.relStart;
      for (int k = 0; k < names.count; ++k) row.outputs[k] = names.paths[k].c_str();
      row.output_count = names.count;
      row.skip = static_cast<int>(input.skip);
      if (callbacks.row && callbacks.row(callbacks.context, &row) != 0) return QUORLIX_BATCH_STOPPED;
    }
    return QUORLIX_BATCH_DONE;
  }
  if (tabling) return RunTableBatch(list, callbacks, *settings.table, settings.jobs, runTable);
  const RunSettings run{settings.conversion, outDir, settings.outputs, settings.jobs, settings.resume != 0,
                        settings.force != 0};
  BatchRun batchRun(job, run, list, callbacks);
  return batchRun.Run(summary.kept_entries);
}

}  // namespace batch

int quorlix_batch_output_names(int which, const char* out_dir, const char* relative, char* buffer, size_t size) {
  batch::Job job;
  if (!out_dir || !relative || !buffer || !batch::JobOf(which, job)) return -1;
  try {
    const batch::OutputNames names = batch::NameOutputs(job.naming, out_dir, batch::MirroredPath(relative));
    std::size_t used = 0;
    for (int k = 0; k < names.count; ++k) {
      const std::string& path = names.paths[k];
      if (size - used <= path.size()) return -1;
      std::memcpy(buffer + used, path.c_str(), path.size() + 1);
      used += path.size() + 1;
    }
    return names.count;
  } catch (...) {
    return -1;
  }
}

void quorlix_batch_abandon(void) {
  try {
    temporaries::RemoveAllForGood();
  } catch (...) {
  }
}
