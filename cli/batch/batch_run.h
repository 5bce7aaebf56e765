// The run of a batch: a pool of workers converts the inputs, each input's outputs
// are written under temporary names and renamed into place when complete, the
// results go to the report in input order, and SIGINT, SIGTERM or SIGHUP lets
// the conversions in flight finish before the tool ends by that signal.
#pragma once

#include <string_view>

#include "batch/batch_report.h"
#include "batch/input_list.h"
#include "batch/output_names.h"
#include "quorlix.h"
#include "status_messages.h"

// What a batch does with each input.
struct BatchJob {
  Export which;
  OutputNaming naming;
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

// Every conversion, the jobs that write outputs, neither reads a compressed file
// or an archive (an input that is one fails with the input error) nor writes one
// (an output in the way that is one is not replaced without --force).
constexpr bool RefusesPackedFiles(const BatchJob& job) { return job.naming != OutputNaming::kNone; }

// Decoding writes text that is never a filing, so an output in the way that is
// one can only be a slip (a filing folder given as -o): it is not replaced
// without --force. Other conversions of a filing still frame it, and so run again
// over their own outputs.
constexpr bool GuardsFilings(const BatchJob& job) { return job.which == Export::kFiling; }

// True when the status leaves the job's outputs complete: success or a kept status.
constexpr bool KeepsOutputs(const BatchJob& job, int status) {
  return status == QUORLIX_OK || status == job.nKeptStatus1 || status == job.nKeptStatus2;
}

struct RunSettings {
  std::string_view outDir;  // the output folder; empty when the job writes no outputs
  unsigned jobs = 0;        // conversions at once; 0 for one per online processor
  bool resume = false;      // pass over an input whose outputs all exist and are newer than it
  bool force = false;       // write over an output in the way that is compressed or an archive, or a filing
};

// Converts every input of the list and hands each result to the report, in
// input order. Returns the report's exit status, or ends the process by the
// signal that stopped the batch.
int RunInputs(const BatchJob& job, const RunSettings& settings, InputList& list, BatchReport& report);
