// The batch form of the converting subcommands and of verify: many inputs (files,
// folders walked recursively, lists of paths) converted by a pool of threads into
// an output folder that mirrors them, with progress, a CSV report, a summary, safe
// outputs (written under a temporary name, renamed into place when complete) and
// resumption. This is the front: the options, and RunBatch, which puts the units
// below together.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "batch/batch_run.h"

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

// Runs the batch and returns the exit status (or ends by the signal that stopped it).
int RunBatch(const BatchJob& job, const BatchOptions& options, const std::vector<std::string>& inputs);
