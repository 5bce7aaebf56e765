#include "batch/batch_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "batch/input_list.h"
#include "exit_codes.h"
#include "failure_cause.h"
#include "interrupts.h"

namespace {

bool IsExistingNonFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
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
    sub.add_flag("--force", options.force, "write over an output in the way that is a compressed file or an archive");
    const std::string footer = sub.get_footer();
    sub.footer((footer.empty() ? footer : footer + "\n\n") +
               "One-file form: an output that is a symbolic link is written through (the\n"
               "file it names is written, the link stays a link); a device or pipe, or\n"
               "/dev/stdout, is written as it stands; a link that names no file is refused.\n"
               "With -o, a link at an output's name is replaced, never written through.");
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
  sub.add_option("--report", options.reportPath,
                 "write a CSV report with one row per input ('-': standard output; a link's file is written, a link "
                 "to no file refused)")
      ->type_name("FILE");
  sub.add_flag("--progress", options.progress, "show progress on stderr even when it is not a terminal");
  sub.add_flag("--no-progress", options.noProgress, "never show progress");
  sub.add_flag("-q,--quiet", options.quiet, "no progress and no summary");
}

bool AsksForBatch(const BatchOptions& options) {
  return !options.outDir.empty() || !options.listFiles.empty() || options.nullSeparated || options.jobs != 0 ||
         !options.reportPath.empty() || options.resume || options.progress || options.noProgress;
}

namespace {

// The tool's side of one batch: the report, the signals, and what it found
// about failures on the workers until their rows come.
class ToolBatch {
 public:
  ToolBatch(const BatchJob& job, const BatchOptions& options, const ListReader& reader)
      : m_job(job), m_options(options), m_reader(reader) {}

  quorlix_batch_callbacks Callbacks() {
    return {this,
            &ToolBatch::OnRow,
            &ToolBatch::OnProgress,
            &ToolBatch::OnInspect,
            &ToolBatch::OnRefused,
            &ToolBatch::OnStart};
  }
  const std::string& Refusal() const { return m_refusal; }
  bool ReportFailed() const { return m_reportFailed; }
  BatchReport* Report() { return m_report ? &*m_report : nullptr; }
  // Takes SIGINT, SIGTERM and SIGHUP: the first lets the conversions in flight finish.
  void WatchSignals() {
    m_watch.emplace(SignalWatch::Mode::kFinishInFlight, [this](int) { m_stop = true; });
  }
  int Received() const { return m_watch ? m_watch->Received() : 0; }

 private:
  // Found on the worker while the outputs were as the export left them.
  struct Found {
    FailureCause cause;
    FailureNote note;
  };

  static int OnStart(void* context, std::size_t count) {
    auto& run = *static_cast<ToolBatch*>(context);
    const bool showProgress =
        !run.m_options.quiet && !run.m_options.noProgress && (run.m_options.progress || ::isatty(STDERR_FILENO));
    run.m_report.emplace(ReportSettings{run.m_job.which, run.m_options.reportPath, showProgress, run.m_options.quiet,
                                        run.m_options.showSummary},
                         count);
    if (run.m_report->Open()) return 0;
    run.m_reportFailed = true;
    return 1;
  }

  static void OnInspect(void* context, const quorlix_batch_call* call) {
    auto& run = *static_cast<ToolBatch*>(context);
    // What cannot be found for lack of memory is left out; the status stands.
    try {
      Found found;
      found.cause = FindFailureCause(run.m_job.which, call->status, call->failure);
      if (run.m_job.pfnExplain) found.note = run.m_job.pfnExplain(call->input, call->status);
      // The library's words for an input past the line-end limit go with its row.
      if (found.cause.kind == CauseKind::kTooLargeForLineEnds) found.note = FailureNote{call->failure->detail, {}};
      if (found.cause.kind == CauseKind::kNone && found.note.detail.empty() && found.note.looksLike.empty()) return;
      const std::lock_guard lock(run.m_foundMutex);
      run.m_found.insert_or_assign(call->index, std::move(found));
    } catch (const std::exception&) {
    }
  }

  static int OnRow(void* context, const quorlix_batch_row* row) {
    auto& run = *static_cast<ToolBatch*>(context);
    OutputNames names;
    for (int k = 0; k < row->output_count; ++k) names.paths[k] = row->outputs[k];
    names.count = row->output_count;
    std::optional<Found> found;
    {
      const std::lock_guard lock(run.m_foundMutex);
      if (const auto it = run.m_found.find(row->index); it != run.m_found.end()) {
        found = std::move(it->second);
        run.m_found.erase(it);
      }
    }
    FailureCause cause = found ? found->cause : FailureCause{};
    const auto output = static_cast<std::uint8_t>(row->note_output);
    switch (row->note) {
      case QUORLIX_BATCH_NOTE_INPUT_PACKED: cause = {CauseKind::kInputIsPacked}; break;
      case QUORLIX_BATCH_NOTE_OUTPUT_PACKED: cause = {CauseKind::kOutputIsPacked, output}; break;
      case QUORLIX_BATCH_NOTE_OUTPUT_IS_FILING: cause = {CauseKind::kOutputIsFiling, output}; break;
      // The export did not run: the engine recorded why the output's folder failed.
      case QUORLIX_BATCH_NOTE_NO_PRIVATE_FOLDER:
        cause = FindFailureCause(run.m_job.which, row->status, &row->failure);
        break;
      default: break;
    }
    const bool upToDate = row->skip == QUORLIX_BATCH_SKIP_UP_TO_DATE;
    const InputSkip skip = upToDate ? InputSkip::kNone : static_cast<InputSkip>(row->skip);
    const bool noted = found && (!found->note.detail.empty() || !found->note.looksLike.empty());
    // A row is written whole before an end at once.
    const HoldOffEnd wholeRow;
    const InputRow inputRow{row->input,    skip,
                            upToDate,      row->status,
                            &names,        row->outputs_present != 0,
                            row->bytes_in, row->seconds,
                            cause,         noted ? &found->note : nullptr};
    return run.m_report->Add(inputRow) ? 0 : 1;
  }

  static int OnProgress(void* context, const quorlix_batch_progress* progress) {
    auto& run = *static_cast<ToolBatch*>(context);
    if (run.m_watch) run.m_watch->Poll();
    if (run.m_report) {
      run.m_report->Progress().SetCounts(progress->done, progress->failed, progress->bytes_in);
      run.m_report->Progress().Draw(false);
    }
    return run.m_stop ? 1 : 0;
  }

  static void OnRefused(void* context, const quorlix_batch_refusal* refusal) {
    auto& run = *static_cast<ToolBatch*>(context);
    run.m_refusal = run.RefusalWords(*refusal);
  }

  std::string RefusalWords(const quorlix_batch_refusal& refusal) const {
    const std::string named = "the report '" + EscapeName(m_options.reportPath) + "' ";
    switch (refusal.reason) {
      case QUORLIX_BATCH_REFUSED_COLLISION:
        return "the inputs '" + EscapeName(refusal.input) + "' and '" + EscapeName(refusal.input2) +
               "' would both write '" + EscapeName(refusal.output) + "'; nothing was converted";
      case QUORLIX_BATCH_REFUSED_RESERVED_IS_INPUT: return named + "is the input '" + EscapeName(refusal.input) + "'";
      case QUORLIX_BATCH_REFUSED_RESERVED_IS_OUTPUT:
        return named + "is where '" + EscapeName(refusal.input) + "' writes its output";
      case QUORLIX_BATCH_REFUSED_OUT_DIR_IS_FILE:
        return "-o names the folder the outputs go to, and '" + EscapeName(refusal.output) + "' is an existing file";
      default: return InputRefusalWords(refusal, m_reader);
    }
  }

  const BatchJob& m_job;
  const BatchOptions& m_options;
  const ListReader& m_reader;
  std::optional<BatchReport> m_report;
  std::optional<SignalWatch> m_watch;
  std::atomic<bool> m_stop{false};
  std::string m_refusal;
  bool m_reportFailed = false;
  // Few inputs have something found, so it is kept aside by input index.
  std::unordered_map<std::size_t, Found> m_found;
  std::mutex m_foundMutex;
};

}  // namespace

int RunBatch(const BatchJob& job, const BatchOptions& options, const std::vector<std::string>& inputs,
             const quorlix_batch_conversion& conversion) {
  const InputSources sources{inputs, options.listFiles, options.nullSeparated, options.outDir};
  if (!options.outDir.empty() && IsExistingNonFolder(options.outDir))
    return ReportUsageError("-o names the folder the outputs go to, and '" + EscapeName(options.outDir) +
                            "' is an existing file");
  if (const std::string problem = CheckInputSources(sources); !problem.empty()) return ReportUsageError(problem);

  std::vector<const char*> named;
  named.reserve(inputs.size());
  for (const auto& path : inputs) named.push_back(path.c_str());
  const char* reserved[] = {options.reportPath.c_str()};
  const bool reportIsFile = !options.reportPath.empty() && options.reportPath != "-";
  ListReader reader(options.listFiles, options.nullSeparated);
  quorlix_batch_settings settings{};
  settings.conversion = conversion;
  settings.named = named.data();
  settings.named_count = named.size();
  settings.next_listed = reader.Callback();
  settings.listed_context = &reader;
  settings.out_dir = options.outDir.empty() ? nullptr : options.outDir.c_str();
  settings.reserved = reserved;
  settings.reserved_count = reportIsFile ? 1 : 0;
  settings.jobs = options.jobs;
  settings.resume = options.resume ? 1 : 0;
  settings.force = options.force ? 1 : 0;

  // A reader that goes away gives EPIPE on the report or the lines, which stops
  // the batch as a signal would.
  std::signal(SIGPIPE, SIG_IGN);
  ToolBatch run(job, options, reader);
  run.WatchSignals();
  const quorlix_batch_callbacks callbacks = run.Callbacks();
  quorlix_batch_summary summary{};
  const int result = quorlix_run_batch(&settings, &callbacks, &summary);
  if (result == QUORLIX_BATCH_REFUSED) return ReportUsageError(run.Refusal());
  if (run.ReportFailed()) return kExitIoError;
  BatchReport* report = run.Report();
  if (!report || result == QUORLIX_BATCH_BAD_CALL || result == QUORLIX_BATCH_NO_MEMORY) {
    std::fprintf(stderr, "quorlix: %s\n", result == QUORLIX_BATCH_NO_MEMORY ? "out of memory" : "the batch failed");
    return kExitOsError;
  }
  report->SetKeptEntries(summary.kept_entries);
  return report->Finish(run.Received());
}
