#include "batch/batch_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <system_error>

#include "batch/batch_report.h"
#include "batch/input_list.h"
#include "batch/output_names.h"
#include "exit_codes.h"
#include "status_messages.h"

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

// The report may write neither over an input of the run nor where an output goes.
std::string FindReportCollision(const BatchJob& job, const BatchOptions& options, const InputList& list) {
  if (options.reportPath.empty() || options.reportPath == "-") return {};
  const FileKey report(options.reportPath);
  const std::string named = "the report '" + EscapeName(options.reportPath) + "' ";
  for (const Input& input : list.Inputs()) {
    const std::string_view path = list.PathOf(input);
    if (FileKey(path) == report) return named + "is the input '" + EscapeName(path) + "'";
    if (options.outDir.empty() || input.skip != InputSkip::kNone) continue;
    const OutputNames names = NameOutputs(job.naming, options.outDir, list.RelativeOf(input));
    for (int k = 0; k < names.count; ++k)
      if (FileKey(names.paths[k]) == report) return named + "is where '" + EscapeName(path) + "' writes its output";
  }
  return {};
}

// A walked folder gives each conversion the files it accepts: the HTML
// conversion pages, the decoder filings; the others take every file.
WalkFilter WalkFilterOf(Export which) {
  switch (which) {
    case Export::kHtml: return WalkFilter::kPages;
    case Export::kFiling: return WalkFilter::kSubmissions;
    default: return WalkFilter::kEveryFile;
  }
}

bool IsExistingNonFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace

int RunBatch(const BatchJob& job, const BatchOptions& options, const std::vector<std::string>& inputs) {
  if (IsExistingNonFolder(options.outDir))
    return ReportUsageError("-o names the folder the outputs go to, and '" + EscapeName(options.outDir) +
                            "' is an existing file");
  InputList list;
  const std::string listProblem =
      CollectInputs({inputs, options.listFiles, options.nullSeparated, options.outDir, WalkFilterOf(job.which)}, list);
  if (!listProblem.empty()) return ReportUsageError(listProblem);
  if (!options.outDir.empty()) {
    const std::string collision = FindCollision(job.naming, options.outDir, list);
    if (!collision.empty()) return ReportUsageError(collision);
  }
  if (const std::string collision = FindReportCollision(job, options, list); !collision.empty())
    return ReportUsageError(collision);
  const bool showProgress = !options.quiet && !options.noProgress && (options.progress || ::isatty(STDERR_FILENO));
  BatchReport report({job.which, options.reportPath, showProgress, options.quiet, options.showSummary},
                     list.Inputs().size());
  if (!report.Open()) return kExitIoError;
  return RunInputs(job, {options.outDir, options.jobs, options.resume, options.force}, list, report);
}
