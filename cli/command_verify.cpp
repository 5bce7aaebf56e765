#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "quorlix.h"
#include "status_messages.h"

namespace {
struct VerifyArgs {
  std::vector<std::string> files;
  bool bQuiet = false;
} g_args;
}  // namespace

void AddVerifyOptions(CLI::App& sub) {
  sub.add_flag("-q,--quiet", g_args.bQuiet, "print only the files that do not agree");
  sub.add_option("FILE", g_args.files, "files to check")->required();
}

// One line per file on stdout; the exit status is the first failing file's status.
int RunVerify() {
  int nFirstFailure = QUORLIX_OK;
  for (const auto& strFile : g_args.files) {
    const int nStatus = CvtVerifyFile(strFile.c_str());
    if (nStatus == QUORLIX_OK) {
      if (!g_args.bQuiet) std::printf("%s: ok\n", strFile.c_str());
      continue;
    }
    std::printf("%s: %s (status %d)\n", strFile.c_str(), DescribeStatus(Export::kVerify, nStatus, {strFile, {}, {}}).c_str(),
                nStatus);
    if (nFirstFailure == QUORLIX_OK) nFirstFailure = nStatus;
  }
  return nFirstFailure;
}
