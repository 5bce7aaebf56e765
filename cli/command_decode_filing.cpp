#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_command.h"
#include "commands.h"
#include "exit_codes.h"
#include "one_file.h"
#include "quorlix.h"
#include "quorlix_schedules.h"
#include "status_messages.h"

namespace {
struct DecodeFilingArgs {
  std::vector<std::string> paths;
  BatchOptions batch;  // with --force
} g_args;

constexpr std::string_view kBatchForm = "quorlix decode-filing -o OUT_DIR FILING...";

int ConvertFiling(const char* filing, const char* text, const char* schedule) {
  return CvtDecodeFiling(filing, text, schedule);
}

constexpr BatchJob kFilingJob{Export::kFiling,           QUORLIX_BATCH_FILING, ConvertFiling, QUORLIX_FILING_FILE_ERROR,
                              QUORLIX_FILING_FILE_ERROR, kNoKeptStatus,        kNoKeptStatus};

// "decode-filing a.txt b.txt c.txt" on three filings, -o forgotten, or the paths
// in the wrong order, would replace filings by outputs; an output that is a filing
// is refused before anything is opened for writing.
int RefuseFilingAsOutput(const std::string& output) {
  if (output == "-" || quorlix_is_filing(output.c_str()) != QUORLIX_FILE_IS_FILING) return 0;
  return ReportUsageError("refusing to write over '" + EscapeName(output) +
                          "': it is an EDGAR filing, not an output; to decode several filings: " +
                          std::string(kBatchForm) + " (--force writes over it)");
}
}  // namespace

void AddDecodeFilingOptions(CLI::App& sub) {
  sub.add_option("PATHS", g_args.paths,
                 "FILING TEXT_OUT SCHEDULE_OUT ('-' for standard input, or standard output for one of the outputs), "
                 "or with -o the inputs");
  AddBatchOptions(sub, g_args.batch, true);
  sub.get_option("--force")->description(
      "write over an output that is itself an EDGAR filing, or a compressed file or an archive");
}

int RunDecodeFiling() {
  if (!g_args.batch.outDir.empty())
    return RunBatch(kFilingJob, g_args.batch, g_args.paths, ConversionOf(QUORLIX_BATCH_FILING));
  if (const int usage = CheckOneFileForm(g_args.batch, g_args.paths, "FILING TEXT_OUT SCHEDULE_OUT", kBatchForm); usage)
    return usage;
  if (g_args.paths[1] == "-" && g_args.paths[2] == "-")
    return ReportUsageError("at most one of TEXT_OUT and SCHEDULE_OUT can be '-'");
  if (!g_args.batch.force) {
    for (const std::string& output : {g_args.paths[1], g_args.paths[2]})
      if (const int refused = RefuseFilingAsOutput(output); refused) return refused;
  }
  return RunOneFile(kFilingJob,
                    {g_args.paths[0], g_args.paths[1], g_args.paths[2], ".txt", ".txt", g_args.batch.force});
}
