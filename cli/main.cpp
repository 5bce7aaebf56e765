// quorlix: the command-line tool over the library's exports. Its exit status is
// the export's status; a failure prints one line on stderr, and a command line
// the tool cannot use exits with kExitUsage and one line naming the problem.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>

#include "commands.h"
#include "exit_codes.h"
#include "quorlix.h"
#include "status_messages.h"

#ifndef QUORLIX_PRODUCT_VERSION
#error "the build defines QUORLIX_PRODUCT_VERSION"
#endif

namespace {

constexpr Subcommand kSubcommands[] = {
    {"schedules", "Read the Financial Data Schedules of many filings into one CSV table", AddSchedulesOptions,
     RunSchedules},
    {"panel", "Read the Financial Data Schedules of many filings into one row per company and period", AddPanelOptions,
     RunPanel},
    {"tags", "Print the dictionary of Financial Data Schedule tags as CSV", AddTagsOptions, RunTags},
    {"crlf", "Rewrite a text file with CR LF line ends and printable ASCII only", AddCrlfOptions, RunCrlf},
    {"decode-filing", "Decode an EDGAR filing into text and its Financial Data Schedule", AddDecodeFilingOptions,
     RunDecodeFiling},
    {"html2text", "Render the body of an HTML page as text, tables as comma-separated lines", AddHtml2textOptions,
     RunHtml2text},
    {"verify", "Check that each file's contents agree with its suffix", AddVerifyOptions, RunVerify},
    {"delimited", "Rewrite a delimited file with other record and field delimiters", AddDelimitedOptions, RunDelimited},
    {"version", "Print the library's version number", AddVersionOptions, RunVersion},
};

bool IsSubcommand(std::string_view name) {
  return std::ranges::any_of(kSubcommands, [name](const Subcommand& command) { return name == command.pszName; });
}

}  // namespace

int main(int argc, char** argv) {
  // A write past the file size limit then fails with EFBIG, which the export
  // reports as its output error, instead of killing the tool before it can say so.
  std::signal(SIGXFSZ, SIG_IGN);

  CLI::App app{"quorlix: convert and check files", "quorlix"};
  app.require_subcommand(1);
  app.set_version_flag(
      "-V,--version",
      std::string("quorlix ") + QUORLIX_PRODUCT_VERSION + " (library " + std::to_string(CvtDLLVersion()) + ")",
      "Print the tool's and the library's versions and exit");
  for (const auto& command : kSubcommands) command.pfnAddOptions(*app.add_subcommand(command.pszName, command.pszHelp));

  // The parser would call a word it does not know an extra argument; name it.
  if (argc > 1 && argv[1][0] != '-' && !IsSubcommand(argv[1]))
    return ReportUsageError(std::string("unknown subcommand '") + EscapeName(argv[1]) +
                            "' (quorlix --help lists them)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    if (argc == 1) return ReportUsageError("a subcommand is required (quorlix --help lists them)");
    return ReportUsageError(e.what());
  }
  try {
    for (const auto& command : kSubcommands)
      if (app.got_subcommand(command.pszName)) return command.pfnRun();
  } catch (const std::exception& e) {
    // The tool's own work ran out of a resource (memory, threads).
    std::fprintf(stderr, "quorlix: %s\n", OneLine(e.what()).c_str());
    return kExitOsError;
  }
}
