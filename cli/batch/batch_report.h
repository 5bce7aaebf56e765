// What a batch says about its inputs, in input order: a line on stderr for each
// failure (for verify, a line on standard output for each file), a CSV row per
// input in the report, the progress line meanwhile, and a closing summary.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "batch/progress_line.h"
#include "failure_cause.h"
#include "status_messages.h"

// Why an input is passed over instead of converted: the library's
// QUORLIX_BATCH_SKIP_* up to kNotAFiling, as numbered there.
enum class InputSkip : std::uint8_t {
  kNone,
  kInsideOutput,  // found below the output folder: an output of this or an earlier batch
  kNotAPage,      // found in a folder walked for pages, and its suffix is no page's
  kNotAFiling,    // found in a folder walked for filings, and it is no EDGAR submission (or, for the
                  // schedules' table, read and found to hold none)
  kRepeated,      // names the file of an earlier input, which the schedules' table reads once
};

// The names of an input's outputs, as the library named them (quorlix_batch_row).
struct OutputNames {
  std::string paths[2];
  int count = 0;
};

// Verify's explanation of a mismatch: which check failed and how (it follows
// the status's words), and what the input looks like (the looks_like column).
struct FailureNote {
  std::string detail;
  std::string looksLike;
};

// What the schedules' table read of an input: its report's last columns.
struct TableCounts {
  std::uint64_t members = 0;  // an archive's members read
  std::uint64_t schedules = 0;
  std::uint64_t values = 0;
};

// One finished input, as the report tells it.
struct InputRow {
  std::string_view path;
  InputSkip skip = InputSkip::kNone;     // passed over before any work
  bool upToDate = false;                 // --resume found all its outputs newer than it
  int status = 0;                        // the export's status, when it was converted
  const OutputNames* outputs = nullptr;  // the names of its outputs; null when it has none
  bool outputsPresent = false;           // whether they are in place
  std::uint64_t bytesIn = 0;
  double seconds = 0;
  FailureCause cause;                   // what the run found out about a failure
  const FailureNote* note = nullptr;    // verify's explanation of a mismatch, or the library's problem, or null
  bool readBeforeSkipped = false;       // skipped once read (the table's "not a filing"): bytes_in and seconds stand
  const TableCounts* counts = nullptr;  // the schedules' table's columns; null for the other commands
};

// The report's first line; verify's report adds looks_like, the schedules' the counts.
inline constexpr std::string_view kReportHeader = "input,status,meaning,outputs,bytes_in,seconds\r\n";
inline constexpr std::string_view kVerifyReportHeader = "input,status,meaning,outputs,bytes_in,seconds,looks_like\r\n";
inline constexpr std::string_view kTableReportHeader =
    "input,status,meaning,outputs,bytes_in,seconds,members,schedules,values\r\n";

// The meaning column: "ok", "skipped: <why>", or the tool's words for a
// failure's status (which name the input and its outputs).
std::string MeaningOf(Export which, const InputRow& row);
// One CSV row (RFC 4180, CR LF): input,status,meaning,outputs,bytes_in,seconds,
// and with withLooksLike the note's looks_like (empty without a note), with
// counts members,schedules,values. A skipped input has status 0, so that the
// column holds integers only; bytes_in, seconds and the counts are empty for one
// skipped before any work, and outputs (joined by ';') unless they are all in
// place. Every text is valid UTF-8: names are written as the library writes
// them (quorlix_name_as_text: a byte that is not part of valid UTF-8 as \xNN).
std::string ReportRowOf(const InputRow& row, std::string_view meaning, bool withLooksLike = false,
                        bool withCounts = false);

struct ReportSettings {
  Export which;
  std::string reportPath;  // the CSV report: "" for none, "-" for standard output
  bool showProgress = false;
  bool quiet = false;       // no summary; verify prints the files that do not agree only
  bool showSummary = true;  // verify keeps its plain form without a summary
};

// The run calls Add for each input in input order, from one thread, and the
// progress line's CountDone from any thread as inputs finish.
class BatchReport {
 public:
  BatchReport(ReportSettings settings, std::size_t inputCount);
  ~BatchReport();
  BatchReport(const BatchReport&) = delete;
  BatchReport& operator=(const BatchReport&) = delete;

  // Opens the report and writes its header; false after saying why on stderr.
  bool Open();
  ProgressLine& Progress() { return m_progress; }
  // Writes the input's lines and row. False once something could not be
  // written (standard output or the report): the batch should stop.
  bool Add(const InputRow& row);
  // The summary's counts in other words than inputs converted, failed and
  // skipped (the bytes, time and rate follow them all the same).
  void SetSummaryCounts(std::string words) { m_summaryCounts = std::move(words); }
  // The `.quorlix-` entries --resume found and kept (another run's, or none it can place).
  void SetKeptEntries(std::size_t count) { m_keptEntries = count; }
  // Completes the report and prints the summary and any write problem. When a
  // signal stopped the batch (signal is not 0) and everything was written, ends
  // the process by that signal; else returns the exit status: the first
  // failure's status in input order, or kExitIoError when a write failed.
  int Finish(int signal);

 private:
  void NoteReportProblem();
  void NoteOutputProblem();
  void PrintSummary();

  const ReportSettings m_settings;
  ProgressLine m_progress;
  std::FILE* m_report = nullptr;
  std::string m_writeProblem;
  std::string m_summaryCounts;
  std::size_t m_keptEntries = 0;
  std::size_t m_converted = 0;
  std::size_t m_failed = 0;
  std::size_t m_skipped = 0;
  std::uint64_t m_bytes = 0;
  int m_firstFailure = 0;
};
