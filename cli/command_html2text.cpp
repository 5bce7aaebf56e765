#include <string>

#include "commands.h"
#include "quorlix.h"
#include "status_messages.h"

namespace {
struct Html2textArgs {
  std::string strIn;
  std::string strOut;
  bool bTablesOnly = false;
} g_args;
}  // namespace

void AddHtml2textOptions(CLI::App& sub) {
  sub.add_flag("--tables-only", g_args.bTablesOnly, "write only the page's tables");
  sub.add_option("INPUT", g_args.strIn, "HTML page to read (.htm or .html)")->required();
  sub.add_option("OUTPUT", g_args.strOut, "text file to create or replace (.txt or .wri)")->required();
}

int RunHtml2text() {
  const int nStatus = CvtHTMLtoText(g_args.strIn.c_str(), g_args.strOut.c_str(), g_args.bTablesOnly ? 1 : 0);
  return ReportStatus(Export::kHtml, nStatus, {g_args.strIn, g_args.strOut, {}});
}
