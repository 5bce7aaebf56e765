#include <string>
#include <vector>

#include "batch/batch_command.h"
#include "commands.h"
#include "one_file.h"
#include "quorlix.h"

namespace {
struct CrlfArgs {
  std::vector<std::string> paths;
  bool bSkipBlank = false;
  BatchOptions batch;
} g_args;

int ConvertCrlf(const char* input, const char* output, const char*) {
  return CvtCRLF(input, output, g_args.bSkipBlank ? 1 : 0);
}

constexpr BatchJob kCrlfJob{
    Export::kCrlf, QUORLIX_BATCH_CRLF, ConvertCrlf, QUORLIX_CRLF_INPUT_ERROR, QUORLIX_CRLF_OUTPUT_ERROR,
    kNoKeptStatus, kNoKeptStatus};
}  // namespace

void AddCrlfOptions(CLI::App& sub) {
  sub.add_flag("--skip-blank", g_args.bSkipBlank, "also remove empty lines");
  sub.add_option("PATHS", g_args.paths,
                 "INPUT OUTPUT ('-' for standard input or output; OUTPUT may be INPUT), or with -o the inputs");
  AddBatchOptions(sub, g_args.batch, true);
}

int RunCrlf() {
  if (!g_args.batch.outDir.empty())
    return RunBatch(kCrlfJob, g_args.batch, g_args.paths, ConversionOf(QUORLIX_BATCH_CRLF, g_args.bSkipBlank ? 1 : 0));
  if (const int usage =
          CheckOneFileForm(g_args.batch, g_args.paths, "INPUT OUTPUT", "quorlix crlf -o OUT_DIR INPUT...");
      usage)
    return usage;
  return RunOneFile(kCrlfJob, {g_args.paths[0], g_args.paths[1], {}, ".txt", ".txt", g_args.batch.force});
}
