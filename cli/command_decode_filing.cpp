#include <string>

#include "commands.h"
#include "quorlix.h"
#include "status_messages.h"

namespace {
struct DecodeFilingArgs {
  std::string strFiling;
  std::string strText;
  std::string strSchedule;
} g_args;
}  // namespace

void AddDecodeFilingOptions(CLI::App& sub) {
  sub.add_option("FILING", g_args.strFiling, "EDGAR filing to read")->required();
  sub.add_option("TEXT_OUT", g_args.strText, "file to create or replace with the filing as text")->required();
  sub.add_option("SCHEDULE_OUT", g_args.strSchedule, "file to create or replace with the schedule rows")->required();
}

int RunDecodeFiling() {
  const int nStatus = CvtDecodeFiling(g_args.strFiling.c_str(), g_args.strText.c_str(), g_args.strSchedule.c_str());
  return ReportStatus(Export::kFiling, nStatus, {g_args.strFiling, g_args.strText, g_args.strSchedule});
}
