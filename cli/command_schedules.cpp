// quorlix schedules and quorlix panel: the Financial Data Schedules of many
// filings as one CSV table (one row per value or per schedule; or the panel, one
// row per company and period), or an SQLite database kept up to date with
// --update, read by the library's batch (quorlix_run_batch), which walks and
// checks the inputs as for every batch and reads them into the table.
// Inputs, -T/-0, -j, the report, progress and signals are the batch form's; the
// table goes to standard output, or to a file written under a temporary name and
// renamed when whole (by the library's file forms).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_command.h"
#include "batch/batch_report.h"
#include "batch/input_list.h"
#include "commands.h"
#include "exit_codes.h"
#include "failure_cause.h"
#include "interrupts.h"
#include "output_file.h"
#include "quorlix_batch.h"
#include "quorlix_failure.h"
#include "quorlix_schedules.h"

bool IsDatabaseFile(const char* path);

namespace {

struct SchedulesArgs {
  std::vector<std::string> inputs;
  bool wide = false;
  std::size_t maxColumns = 500;  // --max-columns of the wide form and the panel
  bool spreadsheetSafe = false;
  std::string vintage = "first";  // the panel's --vintage
  std::string output;             // -o; empty or "-" for standard output
  std::string format;             // --format: csv, sqlite, or empty to go by the output's suffix
  bool update = false;            // --update: keep the database, read what is new or changed
  bool prune = false;             // --prune: with --update, drop inputs no longer named
  BatchOptions batch;
};
SchedulesArgs g_schedulesArgs;
SchedulesArgs g_panelArgs;
// The arguments of the subcommand that runs.
const SchedulesArgs* g_pArgs = &g_schedulesArgs;

bool WritesToStandardOutput() { return g_pArgs->output.empty() || g_pArgs->output == "-"; }

// An output named so is a database, as --format sqlite asks.
constexpr std::string_view kDatabaseSuffixes[] = {".sqlite", ".sqlite3", ".db"};

bool WritesDatabase() {
  if (g_pArgs != &g_schedulesArgs) return false;  // the panel is CSV
  if (!g_pArgs->format.empty()) return g_pArgs->format == "sqlite";
  const std::string_view output = g_pArgs->output;
  return std::ranges::any_of(kDatabaseSuffixes, [output](std::string_view suffix) { return output.ends_with(suffix); });
}

// The table's destination: standard output, a device or pipe written as it
// stands, or a file (a link's target) that the library writes whole (ByLibrary).
class TableOutput {
 public:
  ~TableOutput() { Discard(); }

  // Closes a device or pipe opened here.
  void Discard() {
    if (m_file && m_file != stdout) std::fclose(m_file);
    m_file = nullptr;
  }

  // Opens the destination; returns what went wrong, or "".
  std::string Open() {
    if (WritesToStandardOutput()) {
      m_file = stdout;
      return {};
    }
    const OutputTarget target = ResolveOutput(g_pArgs->output);
    switch (target.place) {
      case OutputPlace::kStandardOutput: m_file = stdout; return {};
      case OutputPlace::kDanglingLink: return "cannot write the table: " + DanglingLinkWords(g_pArgs->output);
      case OutputPlace::kAsItStands: {
        // Opened without waiting: a FIFO without a reader fails at once.
        const int fd = ::open(target.path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 || !(m_file = ::fdopen(fd, "wb"))) {
          const int error = errno;
          if (fd >= 0) ::close(fd);
          return Problem(error);
        }
        return {};
      }
      case OutputPlace::kFile: break;
    }
    struct stat info {};
    if (::stat(target.path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return Problem(EISDIR);
    m_byLibrary = true;
    return {};
  }

  std::FILE* File() const { return m_file; }
  // The table is a file that the library's file form writes whole.
  bool ByLibrary() const { return m_byLibrary; }

  // Completes the table: flushed and closed. Returns what went wrong, or "".
  std::string Commit() {
    if (m_byLibrary) return {};
    if (m_file == stdout) return std::fflush(stdout) == 0 ? std::string() : Problem(errno);
    const bool bClosed = std::fclose(m_file) == 0;
    m_file = nullptr;
    return bClosed ? std::string() : Problem(errno);
  }

  // The words for a failure to write the table, naming where it goes.
  static std::string Problem(int error) {
    const std::string where =
        WritesToStandardOutput() ? std::string("to standard output") : "'" + EscapeName(g_pArgs->output) + "'";
    return "cannot write the table " + where + ": " + std::strerror(error);
  }

  // The words for the library's failure on the file, from its record: the
  // temporary file it names, or the table's own.
  static std::string LibraryProblem(const quorlix_failure& failure) {
    if (failure.file != QUORLIX_FAILED_FILE_TEMPORARY) return Problem(failure.error_number);
    return "cannot write the table '" + EscapeName(g_pArgs->output) + "' through its temporary file '" +
           EscapeName(failure.detail) + "': " + std::strerror(failure.error_number);
  }
  static std::string LibraryProblem() {
    quorlix_failure failure{};
    quorlix_last_failure(&failure);
    return LibraryProblem(failure);
  }

 private:
  std::FILE* m_file = nullptr;
  bool m_byLibrary = false;
};

// What the batch reports goes to the batch report, in input order, and is counted.
struct Run {
  std::optional<BatchReport> report;  // opened once the batch has accepted the inputs
  std::FILE* table = nullptr;
  std::atomic<bool> stopAsked{false};  // a signal came
  bool reportFailed = false;
  int writeError = 0;
  // Files read (inputs, and archives' members): filings with schedules and
  // without, and files that are no filing; inputs that failed, and that name the
  // file of an earlier one.
  std::uint64_t withSchedules = 0;
  std::uint64_t withoutSchedules = 0;
  std::uint64_t notFilings = 0;
  std::size_t failed = 0;
  std::size_t repeated = 0;
  std::uint64_t schedules = 0;
  std::uint64_t values = 0;
};

int WriteTable(void* context, const char* data, std::size_t size) {
  Run& run = *static_cast<Run*>(context);
  if (std::fwrite(data, 1, size, run.table) == size) return 0;
  run.writeError = errno;
  return 1;
}

// The tool's side of the table's batch: the report and the signals from its
// start, the destination, and what ended the run before the table was read.
struct TableBatch {
  Run run;
  TableOutput output;
  std::optional<SignalWatch> watch;
  ListReader* reader = nullptr;
  std::string refusal;        // why the library refused the inputs
  std::string usageProblem;   // found once the inputs were accepted
  int endStatus = -1;         // the exit status of a run ended at its start
  std::string panelDatabase;  // the panel's one input, a database read without a filing
  std::string lastListed;     // the last path the lists gave
  std::size_t listedCount = 0;
};

// Each input of the table in input order: its report row, and the counts.
int TakeInput(void* context, const quorlix_batch_row* batchRow) {
  Run& run = static_cast<TableBatch*>(context)->run;
  InputRow row;
  row.path = batchRow->input;
  const QUORLIX_SCHEDULES_INPUT* input = batchRow->table_input;
  if (!input) {
    // Passed over by the walk, unread (the skips up to kNotAFiling are numbered as the library's).
    row.skip = static_cast<InputSkip>(batchRow->skip);
    if (!run.report->Add(row)) run.reportFailed = true;
    return run.reportFailed || run.stopAsked ? 1 : 0;
  }
  row.status = input->status;
  row.bytesIn = input->bytes;
  row.seconds = input->seconds;
  const TableCounts counts{input->members, input->schedules, input->values};
  row.counts = &counts;
  const FailureNote problem{input->problem ? input->problem : "", {}};
  const std::uint64_t files = input->packing == QUORLIX_PACKING_ARCHIVE ? input->members : 1;
  run.withSchedules += input->filings_with_schedules;
  run.withoutSchedules += input->filings - input->filings_with_schedules;
  if (batchRow->skip == QUORLIX_BATCH_SKIP_REPEATED) {
    ++run.repeated;
    row.skip = InputSkip::kRepeated;
  } else if (input->status != QUORLIX_OK) {
    ++run.failed;
    if (input->problem) {
      row.cause.kind = CauseKind::kPackedInputDamaged;
      row.note = &problem;
    } else {
      row.cause = FindFailureCause(Export::kSchedules, input->status, &batchRow->failure);
    }
  } else if (batchRow->skip == QUORLIX_BATCH_SKIP_NOT_A_FILING) {
    run.notFilings += files;
    row.skip = InputSkip::kNotAFiling;
    row.readBeforeSkipped = true;
  } else {
    run.notFilings += files - input->filings;
  }
  run.schedules += input->schedules;
  run.values += input->values;
  run.report->Progress().CountDone(input->bytes, input->status != QUORLIX_OK);
  if (!run.report->Add(row)) run.reportFailed = true;
  run.report->Progress().Draw(false);
  return run.reportFailed || run.stopAsked ? 1 : 0;
}

// The lists' paths for the library, the last one kept: a panel's one input may be a database.
int NextListed(void* context, const char** path, std::size_t* length) {
  auto& batch = *static_cast<TableBatch*>(context);
  const int got = batch.reader->Callback()(batch.reader, path, length);
  if (got == 1) {
    batch.lastListed.assign(*path, *length);
    ++batch.listedCount;
  }
  return got;
}

void TakeRefusal(void* context, const quorlix_batch_refusal* refusal) {
  auto& batch = *static_cast<TableBatch*>(context);
  if (refusal->reason != QUORLIX_BATCH_REFUSED_RESERVED_IS_INPUT)
    batch.refusal = InputRefusalWords(*refusal, *batch.reader);
  else if (refusal->output == g_pArgs->batch.reportPath)
    batch.refusal =
        "the report '" + EscapeName(refusal->output) + "' is the input '" + EscapeName(refusal->input) + "'";
  else batch.refusal = "the output '" + EscapeName(g_pArgs->output) + "' is one of the inputs";
}

// The inputs are accepted: the report opens, signals stop the run from here on,
// and the table's destination is opened; nonzero ends the run before any is read.
int StartTable(void* context, std::size_t count) {
  auto& batch = *static_cast<TableBatch*>(context);
  const SchedulesArgs& args = *g_pArgs;
  if (!WritesToStandardOutput() && ResolveOutput(args.output).place == OutputPlace::kDanglingLink) {
    batch.usageProblem = DanglingLinkWords(args.output);
    return 1;
  }
  const BatchOptions& options = args.batch;
  const bool showProgress = !options.quiet && !options.noProgress && (options.progress || ::isatty(STDERR_FILENO));
  Run& run = batch.run;
  run.report.emplace(ReportSettings{Export::kSchedules, options.reportPath, showProgress, options.quiet, true}, count);
  if (!run.report->Open()) {
    batch.endStatus = kExitIoError;
    return 1;
  }
  // A reader that goes away gives EPIPE on the table or the report, which stops the run.
  std::signal(SIGPIPE, SIG_IGN);
  // From here on a signal stops the run after the filings in flight; the
  // library's threads, started later, take none.
  batch.watch.emplace(SignalWatch::Mode::kFinishInFlight, [&run](int) { run.stopAsked = true; });
  if (WritesDatabase()) return 0;
  if (g_pArgs == &g_panelArgs && count == 1) {
    // The one input, named or listed (a folder's one file is read as a filing).
    const std::string one = args.inputs.size() == 1 ? args.inputs[0] : batch.lastListed;
    if ((args.inputs.size() + batch.listedCount == 1) && IsDatabaseFile(one.c_str())) {
      batch.panelDatabase = one;
      return 1;
    }
  }
  if (const std::string problem = batch.output.Open(); !problem.empty()) {
    std::fprintf(stderr, "quorlix: %s\n", problem.c_str());
    batch.endStatus = kExitIoError;
    return 1;
  }
  run.table = batch.output.File();
  return 0;
}

}  // namespace

void AddTableOptions(CLI::App& sub, SchedulesArgs& args) {
  sub.add_option("INPUT", args.inputs, "filings, or folders whose files are read");
  sub.add_option("-o,--output", args.output,
                 "write the table to FILE, whole or not at all ('-' or none: standard output); through a link the "
                 "file it names is replaced and the link stays; a device or pipe is written as it stands; a link to "
                 "no file is refused")
      ->type_name("FILE");
  AddBatchOptions(sub, args.batch, false);
  sub.add_option("--max-columns", args.maxColumns,
                 "tag columns at most: the dictionary's tags always, then those in the most schedules; the other "
                 "tags' values go to other_tags (default: 500)")
      ->check(CLI::PositiveNumber.description(""))
      ->type_name("N");
  sub.add_flag("--spreadsheet-safe", args.spreadsheetSafe,
               "write a text cell that starts with =, +, -, @, TAB or CR (and is no plain number) with a leading '");
}

// The summary's counts of files, schedules and values, then more words.
std::string SummaryCounts(const Run& run, const std::string& more) {
  return std::to_string(run.withSchedules) + " filings with schedules, " + std::to_string(run.withoutSchedules) +
         " without, " + std::to_string(run.notFilings) + " not filings, " + std::to_string(run.schedules) +
         " schedules, " + std::to_string(run.values) + " values, " + std::to_string(run.failed) + " failed" +
         (run.repeated ? ", " + std::to_string(run.repeated) + " named more than once" : "") + more;
}

// Ends a run of the table: says its problem, if any, after the report, and
// gives the exit status (no memory and a problem outrank the inputs' own).
int FinishTable(BatchReport& report, const std::string& problem, int status, const SignalWatch& watch) {
  if (!problem.empty()) {
    report.Progress().Clear();
    std::fprintf(stderr, "quorlix: %s\n", problem.c_str());
  }
  const int exitStatus = report.Finish(problem.empty() ? watch.Received() : 0);
  if (status == QUORLIX_SCHEDULES_NO_MEMORY) return kExitOsError;
  return problem.empty() ? exitStatus : kExitIoError;
}

// Ends a run into the database at -o (new, or updated with --update).
int RunDatabase(int status, const QUORLIX_DATABASE_SUMMARY& summary, Run& run, const SignalWatch& watch) {
  std::string problem;
  if (status == QUORLIX_SCHEDULES_OUTPUT_ERROR || status == QUORLIX_SCHEDULES_DATABASE_REFUSED)
    problem = std::string("database: ") + summary.problem;
  else if (status == QUORLIX_SCHEDULES_NO_MEMORY) problem = "not enough memory for the database";
  else if (status == QUORLIX_SCHEDULES_BAD_ARGUMENT)
    problem = "the output '" + EscapeName(g_pArgs->output) + "' is one of the inputs";  // made one since looked at
  run.report->SetSummaryCounts(SummaryCounts(run, "; inputs " + std::to_string(summary.new_inputs) + " new, " +
                                                      std::to_string(summary.changed_inputs) + " changed, " +
                                                      std::to_string(summary.unchanged_inputs) + " unchanged, " +
                                                      std::to_string(summary.pruned_inputs) + " pruned"));
  return FinishTable(*run.report, problem, status, watch);
}

// True for a file that begins as every SQLite database does: the panel reads it as a database.
bool IsDatabaseFile(const char* path) {
  static constexpr char kSqliteHeader[16] = "SQLite format 3";
  char header[sizeof kSqliteHeader] = {};
  std::FILE* const file = std::fopen(path, "rb");
  if (!file) return false;
  const bool sqlite = std::fread(header, 1, sizeof header, file) == sizeof header &&
                      std::memcmp(header, kSqliteHeader, sizeof header) == 0;
  std::fclose(file);
  return sqlite;
}

// The panel of a database that quorlix schedules wrote, read without a filing.
int RunPanelOfDatabase(const char* database, const QUORLIX_SCHEDULES_OPTIONS& settings, BatchReport& report, Run& run) {
  TableOutput output;
  if (const std::string problem = output.Open(); !problem.empty()) {
    std::fprintf(stderr, "quorlix: %s\n", problem.c_str());
    return kExitIoError;
  }
  run.table = output.File();
  QUORLIX_DATABASE_SUMMARY summary{};
  // A file is the library's to write whole, as the table's is.
  const int status = output.ByLibrary()
                         ? quorlix_write_panel_of_database_file(database, &settings, g_pArgs->output.c_str(), &summary)
                         : quorlix_write_panel_of_database(database, &settings, WriteTable, &run, &summary);
  quorlix_failure failure{};
  if (output.ByLibrary()) quorlix_last_failure(&failure);
  std::string problem;
  if (status == QUORLIX_SCHEDULES_OK) problem = output.Commit();
  else if (status == QUORLIX_SCHEDULES_OUTPUT_ERROR && run.writeError != 0)
    problem = TableOutput::Problem(run.writeError);
  else if (status == QUORLIX_SCHEDULES_OUTPUT_ERROR && failure.file != QUORLIX_FAILED_FILE_NONE)
    problem = TableOutput::LibraryProblem(failure);
  else if (status == QUORLIX_SCHEDULES_NO_MEMORY) problem = "not enough memory for the panel";
  else if (status == QUORLIX_SCHEDULES_BAD_ARGUMENT && output.ByLibrary())
    problem =
        "the output '" + EscapeName(g_pArgs->output) + "' is one of the inputs";  // made one since it was looked at
  else problem = std::string("database: ") + summary.problem;
  output.Discard();
  report.SetSummaryCounts("the panel of the database '" + EscapeName(database) + "'");
  if (!problem.empty()) std::fprintf(stderr, "quorlix: %s\n", problem.c_str());
  const int exitStatus = report.Finish(0);
  if (status == QUORLIX_SCHEDULES_NO_MEMORY) return kExitOsError;
  return problem.empty() ? exitStatus : kExitIoError;
}

// Reads the inputs into the table of the form, with the run's settings: the
// library's batch walks and checks them and reads them into the table.
int RunScheduleTable(int form, QUORLIX_SCHEDULES_OPTIONS settings) {
  const SchedulesArgs& args = *g_pArgs;
  if (WritesDatabase()) {
    if (form != QUORLIX_SCHEDULES_LONG) return ReportUsageError("a database holds both forms: --wide is for CSV");
    if (WritesToStandardOutput()) return ReportUsageError("a database needs a file: name it with -o");
  } else if (args.update || args.prune) {
    return ReportUsageError("--update and --prune keep a database: name one with -o FILE.sqlite or --format sqlite");
  }
  if (args.prune && !args.update) return ReportUsageError("--prune goes with --update");
  if (WritesToStandardOutput() && args.batch.reportPath == "-")
    return ReportUsageError("the table and the report would both go to standard output; name a file for one of them");
  const BatchOptions& options = args.batch;
  if (const std::string problem = CheckInputSources({args.inputs, options.listFiles, options.nullSeparated, {}});
      !problem.empty())
    return ReportUsageError(problem);

  std::vector<const char*> named;
  named.reserve(args.inputs.size());
  for (const auto& path : args.inputs) named.push_back(path.c_str());
  ListReader reader(options.listFiles, options.nullSeparated);
  TableBatch batch;
  batch.reader = &reader;
  std::uint64_t otherTags = 0;
  settings.other_tags = &otherTags;
  QUORLIX_DATABASE_SUMMARY summary{};
  quorlix_batch_table table{};
  table.form = form;
  table.options = &settings;
  // A file is the library's to write whole: it makes, fills and renames the
  // temporary file. Standard output, a device or a pipe takes the table as it comes.
  if (WritesDatabase()) {
    table.to = QUORLIX_BATCH_TABLE_TO_DATABASE;
    table.database_flags = (args.update ? QUORLIX_DATABASE_UPDATE : 0) | (args.prune ? QUORLIX_DATABASE_PRUNE : 0);
    table.database_summary = &summary;
  } else if (!WritesToStandardOutput() && ResolveOutput(args.output).place == OutputPlace::kFile) {
    table.to = QUORLIX_BATCH_TABLE_TO_FILE;
  } else {
    table.to = QUORLIX_BATCH_TABLE_TO_WRITE;
    table.write = WriteTable;
    table.write_context = &batch.run;
  }
  if (table.to != QUORLIX_BATCH_TABLE_TO_WRITE) table.path = args.output.c_str();
  quorlix_batch_settings batchSettings{};
  batchSettings.conversion.which = QUORLIX_BATCH_SCHEDULES;
  batchSettings.named = named.data();
  batchSettings.named_count = named.size();
  batchSettings.next_listed = reader.Callback() ? NextListed : nullptr;
  batchSettings.listed_context = &batch;
  batchSettings.jobs = options.jobs;
  batchSettings.table = &table;
  // The report is written from the start: an input it named would be lost before it was read.
  const char* reserved[] = {options.reportPath.c_str()};
  batchSettings.reserved = reserved;
  batchSettings.reserved_count = !options.reportPath.empty() && options.reportPath != "-" ? 1 : 0;
  const quorlix_batch_callbacks callbacks{&batch, TakeInput, nullptr, nullptr, TakeRefusal, StartTable};
  const int result = quorlix_run_batch(&batchSettings, &callbacks, nullptr);

  if (result == QUORLIX_BATCH_REFUSED) return ReportUsageError(batch.refusal);
  if (!batch.usageProblem.empty()) return ReportUsageError(batch.usageProblem);
  if (batch.endStatus >= 0) return batch.endStatus;
  Run& run = batch.run;
  if (!run.report) {
    std::fprintf(stderr, "quorlix: %s\n", result == QUORLIX_BATCH_NO_MEMORY ? "out of memory" : "the batch failed");
    return kExitOsError;
  }
  if (!batch.panelDatabase.empty()) return RunPanelOfDatabase(batch.panelDatabase.c_str(), settings, *run.report, run);
  const int status = result == QUORLIX_BATCH_NO_MEMORY ? QUORLIX_SCHEDULES_NO_MEMORY : table.status;
  if (WritesDatabase()) return RunDatabase(status, summary, run, *batch.watch);

  // The table is kept only whole: a stop (a signal, or a report that could not
  // be written) leaves it out.
  TableOutput& output = batch.output;
  std::string problem;
  if (status == QUORLIX_SCHEDULES_OK) problem = output.Commit();
  else if (status == QUORLIX_SCHEDULES_OUTPUT_ERROR)
    problem = output.ByLibrary() ? TableOutput::LibraryProblem() : TableOutput::Problem(run.writeError);
  else if (status == QUORLIX_SCHEDULES_NO_MEMORY) problem = "not enough memory for the table";
  else if (status == QUORLIX_SCHEDULES_BAD_ARGUMENT && output.ByLibrary())
    problem = "the output '" + EscapeName(args.output) + "' is one of the inputs";  // made one since it was looked at
  else if (status != QUORLIX_SCHEDULES_STOPPED) problem = "the table failed (status " + std::to_string(status) + ")";
  output.Discard();
  run.report->SetSummaryCounts(
      SummaryCounts(run, otherTags ? ", " + std::to_string(otherTags) + " tags left to other_tags" : ""));
  return FinishTable(*run.report, problem, status, *batch.watch);
}

void AddSchedulesOptions(CLI::App& sub) {
  AddTableOptions(sub, g_schedulesArgs);
  sub.add_option("--format", g_schedulesArgs.format,
                 "csv, or sqlite for a database (default: sqlite for an output ending .sqlite, .sqlite3 or .db)")
      ->check(CLI::IsMember({"csv", "sqlite"}).description(""))
      ->type_name("csv|sqlite");
  sub.add_flag("--update", g_schedulesArgs.update,
               "keep the database and read only the inputs that are new or whose size or time changed");
  sub.add_flag("--prune", g_schedulesArgs.prune, "with --update, remove the inputs the list no longer names");
  sub.add_flag("--wide", g_schedulesArgs.wide,
               "one row per schedule and one column per tag (default: one row per value)");
}

int RunSchedules() {
  g_pArgs = &g_schedulesArgs;
  QUORLIX_SCHEDULES_OPTIONS settings{};
  settings.size = sizeof settings;
  settings.max_columns = g_schedulesArgs.maxColumns;
  settings.spreadsheet_safe = g_schedulesArgs.spreadsheetSafe ? 1 : 0;
  return RunScheduleTable(g_schedulesArgs.wide ? QUORLIX_SCHEDULES_WIDE : QUORLIX_SCHEDULES_LONG, settings);
}

void AddPanelOptions(CLI::App& sub) {
  AddTableOptions(sub, g_panelArgs);
  sub.add_option("--vintage", g_panelArgs.vintage,
                 "of a period's schedules keep the one filed first (as first reported) or the latest (default: "
                 "first)")
      ->check(CLI::IsMember({"first", "latest"}).description(""))
      ->type_name("first|latest");
}

int RunPanel() {
  g_pArgs = &g_panelArgs;
  QUORLIX_SCHEDULES_OPTIONS settings{};
  settings.size = sizeof settings;
  settings.vintage = g_panelArgs.vintage == "latest" ? QUORLIX_VINTAGE_LATEST : QUORLIX_VINTAGE_FIRST;
  settings.spreadsheet_safe = g_panelArgs.spreadsheetSafe ? 1 : 0;
  settings.max_columns = g_panelArgs.maxColumns;
  return RunScheduleTable(QUORLIX_SCHEDULES_PANEL, settings);
}
