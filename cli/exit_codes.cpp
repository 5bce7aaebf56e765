#include "exit_codes.h"

#include <cstdio>

#include "status_messages.h"

int ReportUsageError(std::string_view problem) {
  std::fprintf(stderr, "quorlix: %s\n", OneLine(problem).c_str());
  return kExitUsage;
}
