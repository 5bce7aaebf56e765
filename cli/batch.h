// The batch form of the converting subcommands and of verify: many inputs (files,
// folders walked recursively, lists of paths) converted by a pool of threads into
// an output folder that mirrors them, with progress, a CSV report, a summary, safe
// outputs (written under a temporary name, renamed into place when complete) and
// resumption.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <string_view>
#include <vector>

#include "quorlix.h"
#include "status_messages.h"

struct BatchOptions {
  std::string outDir;                  // -o: batch mode for the converters
  std::vector<std::string> listFiles;  // -T: files of input paths ("-" for standard input)
  bool nullSeparated = false;          // -0: the lists are NUL-separated
  unsigned jobs = 0;                   // -j: 0 when not given
  std::string reportPath;              // --report ("-" for standard output)
  bool resume = false;
  bool progress = false;
  bool noProgress = false;
  bool quiet = false;
  bool showSummary = true;  // verify keeps its plain form without a summary
};

// Adds -T, -0, -j, --report, --progress, --no-progress and -q; with outputs also
// -o and --resume.
void AddBatchOptions(CLI::App& sub, BatchOptions& options, bool withOutputs);

// True when the command line asked for any of the batch options (other than -q).
bool AsksForBatch(const BatchOptions& options);

// What a batch does with each input.
struct BatchJob {
  Export which;
  // The output names (one or two) for an input whose mirrored path is relPath.
  int (*pfnNameOutputs)(std::string_view relPath, std::string outputs[2]);
  // Converts one input; unused outputs are null.
  int (*pfnConvert)(const char* input, const char* output, const char* output2);
  // The export's statuses for a failure of the tool's own file work on the input
  // (copying standard input) and on an output.
  int nInputError;
  int nOutputError;
  // Statuses whose outputs are complete although the status is not 0.
  int nKeptStatus1;
  int nKeptStatus2;
};

// For BatchJob's kept statuses when there are none.
constexpr int kNoKeptStatus = -1;

// True when the status leaves the job's outputs complete: success or a kept status.
constexpr bool KeepsOutputs(const BatchJob& job, int status) {
  return status == QUORLIX_OK || status == job.nKeptStatus1 || status == job.nKeptStatus2;
}

// A name without its suffix (from the last '.' of its last component, unless
// that is its first byte).
std::string_view StemOf(std::string_view path);

// For the conversions whose output keeps the input's name.
int NameOutputAsInput(std::string_view relPath, std::string outputs[2]);

// Runs the batch and returns the exit status (or ends by the signal that stopped it).
int RunBatch(const BatchJob& job, const BatchOptions& options, const std::vector<std::string>& inputs);
