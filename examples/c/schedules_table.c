/* Writes the Financial Data Schedules of the filings named on the command line
 * as one CSV table on standard output, one row per schedule, with the installed
 * Quorlix library.
 *
 *   cc schedules_table.c $(pkg-config --cflags --libs quorlix) -o schedules_table
 *   ./schedules_table FILING... > schedules.csv
 *
 * Each filing that cannot be read is named on standard error; the exit status is
 * 0 when every filing was read, 1 when one was not, or the call's own status. */
#include <stdio.h>

#include <quorlix_schedules.h>

static int WriteOut(void* context, const char* data, size_t size) {
  return fwrite(data, 1, size, (FILE*)context) != size;
}

static int NameFailure(void* context, const QUORLIX_SCHEDULES_INPUT* input) {
  if (input->status != QUORLIX_OK) {
    fprintf(stderr, "%s: cannot be read (status %d)\n", input->path, input->status);
    *(int*)context = 1;
  }
  return 0; /* go on with the next filing */
}

int main(int argc, char** argv) {
  int failed = 0;
  const int status = quorlix_write_schedules((const char* const*)(argv + 1), (size_t)(argc - 1), QUORLIX_SCHEDULES_WIDE,
                                             0, WriteOut, stdout, NameFailure, &failed);
  if (status != QUORLIX_SCHEDULES_OK || fflush(stdout) != 0) {
    fprintf(stderr, "the table was not written (status %d)\n", status);
    return status != QUORLIX_SCHEDULES_OK ? status : 2;
  }
  return failed;
}
