#include <string>
#include <vector>

#include "batch/batch_command.h"
#include "commands.h"
#include "one_file.h"
#include "quorlix.h"

namespace {
struct Html2textArgs {
  std::vector<std::string> paths;
  bool bTablesOnly = false;
  BatchOptions batch;
} g_args;

int ConvertHtml(const char* input, const char* output, const char*) {
  return CvtHTMLtoText(input, output, g_args.bTablesOnly ? 1 : 0);
}

constexpr BatchJob kHtmlJob{
    Export::kHtml, QUORLIX_BATCH_HTML, ConvertHtml, QUORLIX_HTML_INPUT_ERROR, QUORLIX_HTML_OUTPUT_ERROR,
    kNoKeptStatus, kNoKeptStatus};
}  // namespace

void AddHtml2textOptions(CLI::App& sub) {
  sub.add_flag("--tables-only", g_args.bTablesOnly, "write only the page's tables");
  sub.add_option("PATHS", g_args.paths,
                 "INPUT.htm OUTPUT.txt ('-' for standard input or output), or with -o the inputs");
  AddBatchOptions(sub, g_args.batch, true);
}

int RunHtml2text() {
  if (!g_args.batch.outDir.empty())
    return RunBatch(kHtmlJob, g_args.batch, g_args.paths, ConversionOf(QUORLIX_BATCH_HTML, g_args.bTablesOnly ? 1 : 0));
  if (const int usage =
          CheckOneFileForm(g_args.batch, g_args.paths, "INPUT OUTPUT", "quorlix html2text -o OUT_DIR PAGE...");
      usage)
    return usage;
  return RunOneFile(kHtmlJob, {g_args.paths[0], g_args.paths[1], {}, ".htm", ".txt", g_args.batch.force});
}
