// The tool's subcommands. Each adds its options to its own CLI11 subcommand and,
// once the command line is parsed, runs the export and returns the exit status.
#pragma once

#include <CLI/CLI.hpp>

struct Subcommand {
  const char* pszName;
  const char* pszHelp;
  void (*pfnAddOptions)(CLI::App& sub);
  int (*pfnRun)();
};

void AddVersionOptions(CLI::App& sub);
int RunVersion();

void AddCrlfOptions(CLI::App& sub);
int RunCrlf();

void AddDecodeFilingOptions(CLI::App& sub);
int RunDecodeFiling();
void AddHtml2textOptions(CLI::App& sub);
int RunHtml2text();
void AddVerifyOptions(CLI::App& sub);
int RunVerify();
void AddDelimitedOptions(CLI::App& sub);
int RunDelimited();
void AddSchedulesOptions(CLI::App& sub);
int RunSchedules();
void AddPanelOptions(CLI::App& sub);
int RunPanel();
void AddTagsOptions(CLI::App& sub);
int RunTags();
