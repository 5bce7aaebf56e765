#include <cstdio>

#include "commands.h"
#include "quorlix.h"

void AddVersionOptions(CLI::App&) {}

int RunVersion() {
  std::printf("%d\n", CvtDLLVersion());
  return 0;
}
