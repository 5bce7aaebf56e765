// The batch form of the converting subcommands and of verify: many inputs (files,
// folders walked recursively, lists of paths) converted by a pool of threads into
// an output folder that mirrors them, with progress, a CSV report, a summary, safe
// outputs (written under a temporary name, renamed into place when complete) and
// resumption. The library runs the batch (quorlix_batch.h); this is the front:
// the options, and RunBatch, which hands the library's rows to the report.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "batch/batch_report.h"
#include "quorlix.h"
#include "quorlix_batch.h"
#include "status_messages.h"

// What a conversion is, for its one-file form and for the words of its batch.
struct BatchJob {
  Export which;
  int conversion;  // the library's QUORLIX_BATCH_*
  // Converts one input; unused outputs are null.
  int (*pfnConvert)(const char* input, const char* output, const char* output2);
  // The export's statuses for a failure of the tool's own file work on the input
  // (copying standard input) and on an output.
  int nInputError;
  int nOutputError;
  // Statuses whose outputs are complete although the status is not 0.
  int nKeptStatus1;
  int nKeptStatus2;
  // Explains a failure in the tool's own words (on the worker, after the export
  // returned it); null when the job has nothing to add.
  FailureNote (*pfnExplain)(const char* input, int status) = nullptr;
};

// For BatchJob's kept statuses when there are none.
constexpr int kNoKeptStatus = -1;

// True when the status leaves the job's outputs complete: success or a kept status.
constexpr bool KeepsOutputs(const BatchJob& job, int status) {
  return status == QUORLIX_OK || status == job.nKeptStatus1 || status == job.nKeptStatus2;
}

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
  bool force = false;       // --force: write over an output in the way that the tool would refuse
};

// Adds -T, -0, -j, --report, --progress, --no-progress and -q; with outputs also
// -o, --resume and --force.
void AddBatchOptions(CLI::App& sub, BatchOptions& options, bool withOutputs);

// True when the command line asked for any of the batch options (other than -q).
bool AsksForBatch(const BatchOptions& options);

// A conversion without the delimited conversion's delimiters.
inline quorlix_batch_conversion ConversionOf(int which, int flag = 0) {
  quorlix_batch_conversion conversion{};
  conversion.which = which;
  conversion.flag = flag;
  return conversion;
}

// Runs the batch and returns the exit status (or ends by the signal that stopped
// it). conversion: the library's conversion and its settings (which is job's).
int RunBatch(const BatchJob& job, const BatchOptions& options, const std::vector<std::string>& inputs,
             const quorlix_batch_conversion& conversion);
