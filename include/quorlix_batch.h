/* quorlix_batch.h: one conversion over many inputs.
 *
 * quorlix_run_batch walks the inputs (files, folders, listed paths), names every
 * output below an output folder that mirrors them, refuses a batch where two
 * inputs would write one output, converts on several threads with each output
 * written in a private folder beside its final name and renamed into place when
 * whole, and hands the caller one row per input in input order.
 * libquorlix.so only: QUORLIX.dll keeps its six exports.
 */
#ifndef QUORLIX_BATCH_H
#define QUORLIX_BATCH_H

#include <stddef.h>

#include "quorlix.h"
#include "quorlix_failure.h"
#include "quorlix_schedules.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The conversion (quorlix_batch_conversion.which). */
#define QUORLIX_BATCH_LIST                                                                       \
  0                               /* none: every input gets its row, unconverted (a walk alone); \
                                   * flag: a conversion whose outputs the rows name, skipped     \
                                   * inputs too, refused on a collision as that one would be */
#define QUORLIX_BATCH_CRLF 1      /* CvtCRLF; flag: skip blank lines */
#define QUORLIX_BATCH_HTML 2      /* CvtHTMLtoText; flag: tables only */
#define QUORLIX_BATCH_FILING 3    /* CvtDecodeFiling */
#define QUORLIX_BATCH_VERIFY 4    /* CvtVerifyFile; no outputs */
#define QUORLIX_BATCH_DELIMITED 5 /* CvtDelimitedFile with the four delimiters */
#define QUORLIX_BATCH_SCHEDULES 6 /* every input read once into one schedules' table (settings.table) */

/* Which files of a walked folder are taken (quorlix_batch_settings.walk). */
#define QUORLIX_BATCH_WALK_DEFAULT 0 /* the conversion's: pages for HTML, filings for decoding, else all */
#define QUORLIX_BATCH_WALK_EVERY_FILE 1
#define QUORLIX_BATCH_WALK_PAGES 2 /* names ending in ".htm" or ".html" */
#define QUORLIX_BATCH_WALK_FILINGS 3

/* What quorlix_run_batch returns. */
#define QUORLIX_BATCH_DONE 0     /* every input has had its row; the table: its call ended, table->status says how */
#define QUORLIX_BATCH_STOPPED 1  /* a callback asked to stop: the inputs in flight were finished */
#define QUORLIX_BATCH_REFUSED 2  /* nothing was converted; the refused callback said why */
#define QUORLIX_BATCH_BAD_CALL 3 /* a setting is missing or unknown */
#define QUORLIX_BATCH_NO_MEMORY 4

/* Why an input was passed over (quorlix_batch_row.skip). */
#define QUORLIX_BATCH_SKIP_NONE 0
#define QUORLIX_BATCH_SKIP_INSIDE_OUTPUT 1 /* found below the output folder */
#define QUORLIX_BATCH_SKIP_NOT_A_PAGE 2    /* walked, and not taken by the walk */
#define QUORLIX_BATCH_SKIP_NOT_A_FILING 3  /* walked, and no EDGAR submission; the table: read, and none in it */
#define QUORLIX_BATCH_SKIP_UP_TO_DATE 4    /* resume: every output exists and is newer */
#define QUORLIX_BATCH_SKIP_REPEATED 5      /* the table: names the file of an earlier input, which is read once */

/* What the batch itself found about a failure (quorlix_batch_row.note): the
 * export was not called for 1 to 4; for 5 it was, and its outputs were whole. */
#define QUORLIX_BATCH_NOTE_NONE 0
#define QUORLIX_BATCH_NOTE_INPUT_PACKED 1      /* the input is compressed or an archive */
#define QUORLIX_BATCH_NOTE_OUTPUT_PACKED 2     /* an output in the way is one: force writes over it */
#define QUORLIX_BATCH_NOTE_OUTPUT_IS_FILING 3  /* decoding: an output in the way is an EDGAR filing */
#define QUORLIX_BATCH_NOTE_NO_PRIVATE_FOLDER 4 /* an output's folder or its private folder cannot be made */
#define QUORLIX_BATCH_NOTE_OUTPUT_NOT_PLACED 5 /* an output could not be renamed into place */

/* Why a batch was refused before any work (quorlix_batch_refusal.reason). */
#define QUORLIX_BATCH_REFUSED_NO_INPUTS 1
#define QUORLIX_BATCH_REFUSED_DOT_DOT 2            /* input: a listed path with a ".." component */
#define QUORLIX_BATCH_REFUSED_LIST 3               /* the caller's list of paths failed */
#define QUORLIX_BATCH_REFUSED_COLLISION 4          /* input and input2 would both write output */
#define QUORLIX_BATCH_REFUSED_RESERVED_IS_INPUT 5  /* the reserved file output is the input */
#define QUORLIX_BATCH_REFUSED_RESERVED_IS_OUTPUT 6 /* the reserved file output is where input writes */
#define QUORLIX_BATCH_REFUSED_OUT_DIR_IS_FILE 7    /* output: the output folder is an existing file */

typedef struct quorlix_batch_conversion {
  int which; /* QUORLIX_BATCH_* */
  int flag;  /* CvtCRLF's nMode, CvtHTMLtoText's nTablesOnly; for a list, see QUORLIX_BATCH_LIST */
  /* CvtDelimitedFile's delimiters; null for its defaults ("\r\n", ",", "\t", "\r\n") */
  const char* in_record;
  const char* in_field;
  const char* out_field;
  const char* out_record;
} quorlix_batch_conversion;

/* Where a schedules' table goes (quorlix_batch_table.to). */
#define QUORLIX_BATCH_TABLE_TO_WRITE 0    /* through write, as quorlix_write_schedules_ex */
#define QUORLIX_BATCH_TABLE_TO_FILE 1     /* into the file at path, as quorlix_write_schedules_file_ex */
#define QUORLIX_BATCH_TABLE_TO_DATABASE 2 /* into the database at path, as quorlix_write_schedules_database */

/* The schedules' table of a QUORLIX_BATCH_SCHEDULES batch: the inputs the batch
 * walked and accepted, read once each (quorlix_schedules.h) after the start
 * callback. Its file or database is a reserved file: a batch where it is an
 * input is refused (QUORLIX_BATCH_REFUSED_RESERVED_IS_INPUT). An input that an
 * updated database holds unchanged is not read, and has no row. */
typedef struct quorlix_batch_table {
  int form;                                 /* QUORLIX_SCHEDULES_LONG, _WIDE or _PANEL; a database holds every form */
  const QUORLIX_SCHEDULES_OPTIONS* options; /* null for the defaults; a database takes none */
  int to;                                   /* QUORLIX_BATCH_TABLE_TO_* */
  QUORLIX_WRITE_FN write;                   /* TO_WRITE: takes the table in order */
  void* write_context;
  const char* path;   /* TO_FILE, TO_DATABASE: the file written (whole, or left as it was) */
  int database_flags; /* TO_DATABASE: 0 or QUORLIX_DATABASE_UPDATE, with QUORLIX_DATABASE_PRUNE */
  QUORLIX_DATABASE_SUMMARY* database_summary; /* TO_DATABASE: the counts and the problem; may be null */
  int status; /* out: the table call's QUORLIX_SCHEDULES_* status; -1 when it was not called */
} quorlix_batch_table;

/* Gives the next listed path: returns 1 with *path (length bytes, no NUL in it)
 * valid until the next call, 0 at the end, -1 when the list failed (the batch is
 * refused with QUORLIX_BATCH_REFUSED_LIST). */
typedef int (*quorlix_batch_next_listed)(void* context, const char** path, size_t* length);

typedef struct quorlix_batch_settings {
  quorlix_batch_conversion conversion;
  /* Named files and folders: a file is mirrored as its name, a folder walked
   * (depth-first, names in byte order) and its files mirrored below it. */
  const char* const* named;
  size_t named_count;
  /* Listed paths, after the named ones: mirrored as given, a leading '/'
   * dropped; a listed folder is passed over. Null for none. */
  quorlix_batch_next_listed next_listed;
  void* listed_context;
  const char* out_dir; /* the output folder; null for verify (the list: inputs below it are skipped) */
  /* The outputs as the caller names them, in place of out_dir and the naming
   * rule: the conversion's count of paths (1, or 2 for decoding) per named
   * path, in order (verify: none, but a non-null array all the same); null
   * for the rule. The named paths are then inputs as
   * they are (no walk), no folder is made and no collision refused; an input
   * whose outputs name it or each other, or whose outputs' folder takes no
   * private folder, is converted at its final names by the export itself. */
  const char* const* outputs;
  int walk; /* QUORLIX_BATCH_WALK_* */
  /* Files the caller writes itself (a report): none may be an input or an output. */
  const char* const* reserved;
  size_t reserved_count;
  unsigned jobs; /* conversions at once; 0 for one per online processor */
  int resume;    /* pass over an input whose outputs all exist and are newer */
  int force;     /* write over an output in the way that is packed or a filing */
  /* QUORLIX_BATCH_SCHEDULES: the table (out_dir, outputs, resume and force
   * are then unused); null for every other conversion. */
  quorlix_batch_table* table;
} quorlix_batch_settings;

/* One finished input, in input order. Pointers stay valid during the call only. */
typedef struct quorlix_batch_row {
  size_t index;
  const char* input;
  size_t relative_start;  /* where the part mirrored below the output folder begins */
  const char* outputs[2]; /* the final names (null past output_count) */
  int output_count;       /* 0 for a skipped input or a conversion without outputs */
  int status;             /* the export's status; 0 for a skipped input */
  int outputs_present;    /* the outputs are in place */
  int skip;               /* QUORLIX_BATCH_SKIP_* */
  int note;               /* QUORLIX_BATCH_NOTE_* */
  int note_output;        /* the output (0 or 1) a note on an output concerns */
  unsigned long long bytes_in;
  double seconds;
  /* QUORLIX_BATCH_SCHEDULES: what the table read of the input, its index and
   * first_index the rows' (a walked input the table did not take has a row of
   * its own with this null); else null. A repeated input, and one read and found
   * to hold no filing, have status 0 and their skip. */
  const QUORLIX_SCHEDULES_INPUT* table_input;
  /* quorlix_last_failure right after the export; where the batch's own work on
   * an output failed (its folder, or its rename into place), that output's
   * file and the system's error number. Last, as it may grow. */
  quorlix_failure failure;
} quorlix_batch_row;

/* A failed call, on the worker thread right after the export returned, while
 * its outputs are as it left them (at the paths it was handed). */
typedef struct quorlix_batch_call {
  size_t index;
  const char* input;
  const char* outputs[2]; /* as handed to the export (null past the conversion's outputs) */
  int status;
  const quorlix_failure* failure; /* quorlix_last_failure right after the export; null when it did not run */
} quorlix_batch_call;

typedef struct quorlix_batch_progress {
  size_t total;
  size_t done; /* finished in any order, ahead of the rows */
  size_t failed;
  unsigned long long bytes_in;
} quorlix_batch_progress;

typedef struct quorlix_batch_refusal {
  int reason; /* QUORLIX_BATCH_REFUSED_* */
  const char* input;
  const char* input2;
  const char* output;
} quorlix_batch_refusal;

typedef struct quorlix_batch_callbacks {
  void* context;
  /* Each input in input order, on the calling thread; nonzero stops the batch. */
  int (*row)(void* context, const quorlix_batch_row* row);
  /* Now and then on the calling thread (the table: after each row); nonzero
   * stops the batch. May be null. */
  int (*progress)(void* context, const quorlix_batch_progress* progress);
  /* Each failed call, on its worker thread. May be null. */
  void (*inspect)(void* context, const quorlix_batch_call* call);
  /* Why the batch was refused. May be null. */
  void (*refused)(void* context, const quorlix_batch_refusal* refusal);
  /* Once the inputs are collected and accepted, before any work: nonzero ends
   * the batch with nothing done (QUORLIX_BATCH_STOPPED). May be null. */
  int (*start)(void* context, size_t input_count);
} quorlix_batch_callbacks;

/* What a batch found besides its rows (may be null). */
typedef struct quorlix_batch_summary {
  size_t kept_entries; /* resume: `.quorlix-` entries of other runs left in place */
} quorlix_batch_summary;

/* Runs the batch. A stop finishes the conversions in flight and hands the rows
 * of every input finished; the private folders are removed before it returns. */
QUORLIX_API int quorlix_run_batch(const quorlix_batch_settings* settings, const quorlix_batch_callbacks* callbacks,
                                  quorlix_batch_summary* summary);

/* The outputs a batch names, by the conversion's rule (QUORLIX_BATCH_*), for an
 * input whose path below out_dir is relative (empty and "." components dropped;
 * "" for an input with no name of its own): one after another in buffer, each
 * zero-terminated. Returns their count (0 for verify, the list and the table), or -1 for
 * an unknown conversion, a null argument or a buffer too small. Touches no file,
 * so callers name outputs as the batch does without copying its rule. */
QUORLIX_API int quorlix_batch_output_names(int which, const char* out_dir, const char* relative, char* buffer,
                                           size_t size);

/* For a process about to end at once (a second interrupt): waits for a pair of
 * outputs being put in place, removes every temporary file and private folder
 * of every batch running (and the temporary files of tables and databases being
 * written), and keeps any batch from making or placing another. Batches, and
 * calls that would make a temporary file, never return afterwards. */
QUORLIX_API void quorlix_batch_abandon(void);

#ifdef __cplusplus
}
#endif

#endif /* QUORLIX_BATCH_H */
