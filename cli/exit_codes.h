// Exit statuses of the tool's own, apart from the library's statuses (which are
// all below 64), following the BSD convention for command-line tools.
#pragma once

#include <string_view>

constexpr int kExitUsage = 64;    // the command line is wrong; nothing was done
constexpr int kExitOsError = 71;  // the tool itself ran out of memory or threads
constexpr int kExitIoError = 74;  // the batch's report could not be written

// Prints "quorlix: <problem>" on stderr, on one line, and returns kExitUsage.
int ReportUsageError(std::string_view problem);
