/* Decodes an EDGAR filing with the installed Quorlix library, then checks that the
 * text written is plain text, as its name claims.
 *
 *   cc decode_filing.c $(pkg-config --cflags --libs quorlix) -o decode_filing
 *   ./decode_filing FILING OUT_DIR
 *
 * writes OUT_DIR/filing.txt and OUT_DIR/schedule.txt; the exit status is 0 when
 * both calls succeed, or the failing call's status. */
#include <stdio.h>

#include <quorlix.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s FILING OUT_DIR\n", argv[0]);
    return 2;
  }
  const char* filing = argv[1];
  char text[4096];
  char schedule[4096];
  if (snprintf(text, sizeof text, "%s/filing.txt", argv[2]) >= (int)sizeof text ||
      snprintf(schedule, sizeof schedule, "%s/schedule.txt", argv[2]) >= (int)sizeof schedule) {
    fprintf(stderr, "output folder name too long\n");
    return 2;
  }

  int status = CvtDecodeFiling(filing, text, schedule);
  if (status == QUORLIX_FILING_NOT_FOUND) fprintf(stderr, "%s: not found\n", filing);
  if (status != QUORLIX_OK) {
    fprintf(stderr, "decoding %s failed (status %d)\n", filing, status);
    return status;
  }
  status = CvtVerifyFile(text);
  if (status != QUORLIX_OK) {
    fprintf(stderr, "%s: not plain text (status %d)\n", text, status);
    return status;
  }
  printf("%s -> %s, %s\n", filing, text, schedule);
  return 0;
}
