// The one-file form of the converting subcommands, where "-" stands for standard
// input or standard output.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_command.h"

struct OneFileCall {
  std::string input;
  std::string output;
  std::string output2;       // empty when the export has one output
  const char* inputSuffix;   // the suffix the export expects of a temporary input
  const char* outputSuffix;  // and of a temporary output
  bool force = false;        // write over an output in the way that is compressed or an archive
};

// Converts one file and returns the export's status, printing one line when it
// failed. The library reads and writes paths, so "-" goes through temporary
// files: standard input is copied into one first, and an output is written to
// one and then copied to standard output (which keeps a ">>" target's content
// and works on a socket). The temporary files are removed also on signals.
// An output that is a link is written through (output_file.h); one that is a
// link to nothing is refused (kExitUsage), and one that is the tool's standard
// output (/dev/stdout) goes the way of "-".
// Before anything is written: an output in the way that is compressed or an
// archive is refused (kExitUsage) unless call.force, since no conversion writes
// one; an input that is one fails with the export's input error, since no
// conversion reads one.
int RunOneFile(const BatchJob& job, const OneFileCall& call);

// Checks the command line of a one-file form: no batch option, and exactly the
// paths the form names (a space-separated list such as "INPUT OUTPUT"). Returns
// kExitUsage after saying what is wrong and showing the batch form (such as
// "quorlix crlf -o OUT_DIR INPUT..."), or 0.
int CheckOneFileForm(const BatchOptions& batch, const std::vector<std::string>& paths, std::string_view form,
                     std::string_view batchForm);
