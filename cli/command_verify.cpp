#include <sys/stat.h>

#include <string>
#include <vector>

#include "batch/batch_command.h"
#include "commands.h"
#include "quorlix.h"
#include "verify_mismatch.h"

namespace {
struct VerifyArgs {
  std::vector<std::string> files;
  BatchOptions batch;
} g_args;

int VerifyOne(const char* path, const char*, const char*) { return CvtVerifyFile(path); }

// A mismatch says what the check wanted, what the file holds, and what it looks like.
FailureNote ExplainVerifyFailure(const char* path, int status) {
  if (status != QUORLIX_VERIFY_MISMATCH) return {};
  return ExplainMismatch(path);
}

constexpr BatchJob kVerifyJob{Export::kVerify,           QUORLIX_BATCH_VERIFY, VerifyOne,     QUORLIX_VERIFY_FILE_ERROR,
                              QUORLIX_VERIFY_FILE_ERROR, kNoKeptStatus,        kNoKeptStatus, ExplainVerifyFailure};

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
}  // namespace

void AddVerifyOptions(CLI::App& sub) {
  sub.add_option("FILE", g_args.files, "files to check, or folders whose files are checked");
  AddBatchOptions(sub, g_args.batch, false);
  // -q also keeps the lines of the files that agree off standard output.
  sub.get_option("-q")->description("print only the files that do not agree; no progress and no summary");
}

// One line per file on stdout, in input order; the exit status is the first
// failing file's status. Named files alone are checked as they always were,
// without a summary; folders and the batch options add one.
int RunVerify() {
  bool folderNamed = false;
  for (const auto& file : g_args.files) folderNamed = folderNamed || IsFolder(file);
  g_args.batch.showSummary = folderNamed || AsksForBatch(g_args.batch);
  return RunBatch(kVerifyJob, g_args.batch, g_args.files, ConversionOf(QUORLIX_BATCH_VERIFY));
}
