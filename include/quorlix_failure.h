/* quorlix_failure.h: why the calling thread's last call of an export failed.
 *
 * The exports return fixed statuses; the library knows more where a call fails:
 * the cause, the system's error number and which file it concerns. Each thread
 * keeps its own last failure, so a caller asks right after the call, on the
 * thread that made it. libquorlix.so only: QUORLIX.dll keeps its six exports.
 */
#ifndef QUORLIX_FAILURE_H
#define QUORLIX_FAILURE_H

#include "quorlix.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What went wrong (quorlix_failure.cause). */
/* clang-format off */
#define QUORLIX_CAUSE_NONE 0                  /* the last call succeeded, or nothing more is known */
#define QUORLIX_CAUSE_NOT_FOUND 1             /* the file does not exist (its folder does) */
#define QUORLIX_CAUSE_NO_PERMISSION 2         /* the file (or a folder on the way) may not be opened so */
#define QUORLIX_CAUSE_IS_FOLDER 3             /* the name is a folder's, not a file's */
#define QUORLIX_CAUSE_SPECIAL_FILE 4          /* a pipe, FIFO, device or socket, or a FIFO without a reader */
#define QUORLIX_CAUSE_READ_ONLY_FILE_SYSTEM 5 /* the file's folder is on a file system mounted read-only */
#define QUORLIX_CAUSE_NO_SPACE 6              /* the file system (or the user's quota) is full */
#define QUORLIX_CAUSE_FILE_TOO_LARGE 7        /* the file would pass the file system's or the process's size limit */
#define QUORLIX_CAUSE_INPUT_TOO_LARGE 8       /* the input is longer than the conversion takes; detail says by how
                                                 much, input_bytes and limit_bytes the numbers */
#define QUORLIX_CAUSE_NO_MEMORY 9             /* memory ran out */
#define QUORLIX_CAUSE_FOLDER_MISSING 10       /* a folder on the way to the file does not exist */
#define QUORLIX_CAUSE_NOT_A_FOLDER 11         /* something on the way to the file is not a folder */
#define QUORLIX_CAUSE_OUTPUT_IS_INPUT 12      /* an output names the input file, which it may not overwrite */
#define QUORLIX_CAUSE_OUTPUTS_ARE_ONE_FILE 13 /* both outputs name one file */
#define QUORLIX_CAUSE_TOO_MANY_OPEN_FILES 14  /* the process or the system has too many files open */
#define QUORLIX_CAUSE_SIGNATURE_MISMATCH 15   /* verify: the contents do not agree with the suffix; wanted, found
                                                 and detail say how */
#define QUORLIX_CAUSE_LOWER_CASE_BODY 16      /* HTML: no "<BODY" tag, but the page writes "<body" in lower case */
#define QUORLIX_CAUSE_EMPTY_NAME 17           /* the file's name is empty */
#define QUORLIX_CAUSE_CHANGED_WHILE_READ 18   /* the input ended before its measured length: it changed meanwhile */
#define QUORLIX_CAUSE_SYSTEM_ERROR 19         /* another error of the system's; error_number tells which */
#define QUORLIX_CAUSE_NO_PERMISSION_IN_FOLDER 20 /* a new file may not be created in its folder */
/* clang-format on */

/* Which file a failure concerns (quorlix_failure.file). */
/* clang-format off */
#define QUORLIX_FAILED_FILE_NONE 0      /* no file: memory, or nothing more is known */
#define QUORLIX_FAILED_FILE_INPUT 1     /* the export's input (CvtVerifyFile: its one file) */
#define QUORLIX_FAILED_FILE_OUTPUT 2    /* the output (CvtDecodeFiling: the text output) */
#define QUORLIX_FAILED_FILE_OUTPUT2 3   /* CvtDecodeFiling's schedule output */
#define QUORLIX_FAILED_FILE_TEMPORARY 4 /* a temporary file of the library's own (none of the six exports
                                           makes one today; the file forms of the schedules' table
                                           and panel do, and name it in detail) */

/* What the library was doing with the file (quorlix_failure.operation). */
#define QUORLIX_OPERATION_NONE 0          /* nothing with a file, or not known */
#define QUORLIX_OPERATION_OPEN_FOR_READ 1 /* opening the input */
#define QUORLIX_OPERATION_CREATE 2        /* creating or truncating an output, or opening it for writing */
#define QUORLIX_OPERATION_READ 3          /* reading, measuring or seeking */
#define QUORLIX_OPERATION_WRITE 4         /* writing, reserving room, or setting the length */
#define QUORLIX_OPERATION_CLOSE 5         /* closing: a late write error */
#define QUORLIX_OPERATION_RENAME 6        /* renaming a whole file into place over the output */
/* clang-format on */

typedef struct quorlix_failure {
  int status;       /* the status the export returned; 0 when it succeeded */
  int cause;        /* QUORLIX_CAUSE_* */
  int error_number; /* the system's errno where it gave one, else 0 */
  int file;         /* QUORLIX_FAILED_FILE_* */
  int operation;    /* QUORLIX_OPERATION_* */
  /* QUORLIX_CAUSE_INPUT_TOO_LARGE: the input's length and the longest the
   * conversion takes; else 0. */
  unsigned long long input_bytes;
  unsigned long long limit_bytes;
  /* QUORLIX_CAUSE_SIGNATURE_MISMATCH: what the suffix's check wanted, in words
   * ("begins with \"BM\" or \"IC\""), and what the file holds where it looked
   * (its bytes quoted, or its length). Else empty. */
  char wanted[160];
  char found[96];
  /* The failure in words, without the file's name: for a mismatch, what the
   * check wanted and what the file holds instead ("does not begin with \"GIF\"
   * (in any case) but \"PNG\""); for an input too large, "2147483648 bytes, more
   * than the line-end conversion takes (2147483647 bytes)". Empty for other
   * causes, whose words the caller knows from the cause; for a failure on a
   * temporary file (QUORLIX_FAILED_FILE_TEMPORARY), its path. Zero-terminated;
   * longer words are cut. */
  char detail[256];
} quorlix_failure;

/* Copies the calling thread's last failure into *failure (all 0 when the
 * thread's last call of one of the six exports, or of
 * quorlix_write_schedules_file[_ex] or quorlix_write_panel_of_database_file,
 * succeeded or none was made; the other
 * calls of libquorlix.so leave the record as it was). Returns
 * failure->status; 0 for a null pointer. Fields may be added at the end of the
 * struct in later versions. */
QUORLIX_API int quorlix_last_failure(quorlix_failure* failure);

#ifdef __cplusplus
}
#endif

#endif /* QUORLIX_FAILURE_H */
