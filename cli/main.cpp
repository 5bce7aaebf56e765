// quorlix: the command-line tool over the library's exports. Its exit status is
// the export's status; a failure prints one line on stderr.
#include <CLI/CLI.hpp>

#include "commands.h"

namespace {

constexpr Subcommand kSubcommands[] = {
    {"crlf", "Rewrite a text file with CR LF line ends and printable ASCII only", AddCrlfOptions, RunCrlf},
    {"decode-filing", "Decode an EDGAR filing into text and its Financial Data Schedule", AddDecodeFilingOptions,
     RunDecodeFiling},
    {"html2text", "Render the body of an HTML page as text, tables as comma-separated lines", AddHtml2textOptions,
     RunHtml2text},
    {"verify", "Check that each file's contents agree with its suffix", AddVerifyOptions, RunVerify},
    {"delimited", "Rewrite a delimited file with other record and field delimiters", AddDelimitedOptions,
     RunDelimited},
    {"version", "Print the library's version number", AddVersionOptions, RunVersion},
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"quorlix: convert and check files", "quorlix"};
  app.require_subcommand(1);
  for (const auto& command : kSubcommands) command.pfnAddOptions(*app.add_subcommand(command.pszName, command.pszHelp));

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  for (const auto& command : kSubcommands)
    if (app.got_subcommand(command.pszName)) return command.pfnRun();
  return 1;
}
