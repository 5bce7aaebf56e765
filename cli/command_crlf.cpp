#include <string>

#include "commands.h"
#include "quorlix.h"
#include "status_messages.h"

namespace {
struct CrlfArgs {
  std::string strIn;
  std::string strOut;
  bool bSkipBlank = false;
} g_args;
}  // namespace

void AddCrlfOptions(CLI::App& sub) {
  sub.add_flag("--skip-blank", g_args.bSkipBlank, "also remove empty lines");
  sub.add_option("INPUT", g_args.strIn, "text file to read")->required();
  sub.add_option("OUTPUT", g_args.strOut, "file to create or replace (may be INPUT)")->required();
}

int RunCrlf() {
  const int nStatus = CvtCRLF(g_args.strIn.c_str(), g_args.strOut.c_str(), g_args.bSkipBlank ? 1 : 0);
  return ReportStatus(Export::kCrlf, nStatus, {g_args.strIn, g_args.strOut, {}});
}
