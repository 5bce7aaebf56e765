#include <string>
#include <vector>

#include "batch/batch_command.h"
#include "batch/batch_run.h"
#include "commands.h"
#include "exit_codes.h"
#include "one_file.h"
#include "quorlix.h"

namespace {
struct DecodeFilingArgs {
  std::vector<std::string> paths;
  BatchOptions batch;
} g_args;

int ConvertFiling(const char* filing, const char* text, const char* schedule) {
  return CvtDecodeFiling(filing, text, schedule);
}

constexpr BatchJob kFilingJob{Export::kFiling,
                              OutputNaming::kTextAndSchedule,
                              ConvertFiling,
                              QUORLIX_FILING_FILE_ERROR,
                              QUORLIX_FILING_FILE_ERROR,
                              kNoKeptStatus,
                              kNoKeptStatus};
}  // namespace

void AddDecodeFilingOptions(CLI::App& sub) {
  sub.add_option("PATHS", g_args.paths,
                 "FILING TEXT_OUT SCHEDULE_OUT ('-' for standard input, or standard output for one of the outputs), "
                 "or with -o the inputs");
  AddBatchOptions(sub, g_args.batch, true);
}

int RunDecodeFiling() {
  if (!g_args.batch.outDir.empty()) return RunBatch(kFilingJob, g_args.batch, g_args.paths);
  if (const int usage = CheckOneFileForm(g_args.batch, g_args.paths, "FILING TEXT_OUT SCHEDULE_OUT"); usage)
    return usage;
  if (g_args.paths[1] == "-" && g_args.paths[2] == "-")
    return ReportUsageError("at most one of TEXT_OUT and SCHEDULE_OUT can be '-'");
  return RunOneFile(kFilingJob, {g_args.paths[0], g_args.paths[1], g_args.paths[2], ".txt", ".txt"});
}
