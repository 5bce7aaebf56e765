#include <string>
#include <vector>

#include "batch.h"
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

// A filing's text goes to <stem>.txt and its schedule to <stem>.fds.txt.
int NameFilingOutputs(std::string_view relPath, std::string outputs[2]) {
  const std::string stem(StemOf(relPath));
  outputs[0] = stem + ".txt";
  outputs[1] = stem + ".fds.txt";
  return 2;
}

constexpr BatchJob kFilingJob{Export::kFiling,           NameFilingOutputs, ConvertFiling, QUORLIX_FILING_FILE_ERROR,
                              QUORLIX_FILING_FILE_ERROR, kNoKeptStatus,     kNoKeptStatus};
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
