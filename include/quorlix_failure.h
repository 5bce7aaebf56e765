/* quorlix_failure.h: why the calling thread's last call of an export failed.
 *
 * The exports return fixed statuses; the library knows more where a call fails:
 * the cause, the system's error number and which file it concerns. Each thread
 * keeps its own last failure. libquorlix.so only: QUORLIX.dll keeps its six
 * exports.
 */
#ifndef QUORLIX_FAILURE_H
#define QUORLIX_FAILURE_H

#include "quorlix.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What went wrong (quorlix_failure.cause). */
#define QUORLIX_CAUSE_NONE 0 /* the last call succeeded, or nothing more is known */

/* Which file a failure concerns (quorlix_failure.file). */
#define QUORLIX_FAILED_FILE_NONE 0
#define QUORLIX_FAILED_FILE_INPUT 1
#define QUORLIX_FAILED_FILE_OUTPUT 2
#define QUORLIX_FAILED_FILE_OUTPUT2 3
#define QUORLIX_FAILED_FILE_TEMPORARY 4

typedef struct quorlix_failure {
  int status;       /* the status the export returned; 0 when it succeeded */
  int cause;        /* QUORLIX_CAUSE_* */
  int error_number; /* the system's errno where it gave one, else 0 */
  int file;         /* QUORLIX_FAILED_FILE_* */
} quorlix_failure;

/* Copies the calling thread's last failure into *failure (all 0 when the
 * thread's last export call succeeded or none was made). Returns failure->status. */
QUORLIX_API int quorlix_last_failure(quorlix_failure* failure);

#ifdef __cplusplus
}
#endif

#endif /* QUORLIX_FAILURE_H */
