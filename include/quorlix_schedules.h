/* quorlix_schedules.h: the Financial Data Schedules of many EDGAR filings as one table.
 *
 * Every EX-27 exhibit (the Financial Data Schedules of 1993-2001 filings) of a
 * list of filings is read, on several threads, into one CSV table (RFC 4180,
 * UTF-8, CR LF line ends) that goes to the caller through a write callback, or
 * into a file. Each filing is read once, in blocks: memory is one block plus
 * the longest line per thread, and one EX-27 document's values (the long
 * form), the cells of every schedule (the wide form), or the values of every
 * schedule the panel keeps. libquorlix.so only: QUORLIX.dll keeps its six exports.
 *
 * Archives as EDGAR distributes them. An input is taken by its content, not its
 * name (libarchive reads it):
 *   - a plain file is a filing, or several submissions one after another;
 *   - a file compressed with gzip (one member or several), bzip2, xz or
 *     compress (.Z) is one input whose decompressed bytes are the file, so a
 *     daily gzip of concatenated submissions is read as one stream of them;
 *   - a tar or zip archive, plain or compressed, is one input whose every
 *     regular member is read as a filing, in archive order; a member that is
 *     itself compressed is decompressed (one level).
 * One thread reads an archive from start to end. A damaged archive (a truncated
 * gzip, a bad tar header, a zip member that does not inflate) gives its input
 * QUORLIX_FILING_FILE_ERROR with the problem (naming the member and
 * libarchive's reason); the members read before it keep their rows. Limits
 * against decompression bombs: a member (or a compressed file) larger than
 * 4 GiB decompressed, or an archive of more than 1,000,000 entries, is refused
 * so, with its own problem. Memory stays one block and the longest line per
 * thread, as for plain files (and libarchive's own buffers).
 *
 * Filings. A file (an input, or an archive's member) is a filing when a line
 * beginning <SEC-DOCUMENT>, <IMS-DOCUMENT>, <SEC-HEADER>, <IMS-HEADER> or
 * <SUBMISSION> lies within the first 8 KiB of its content (decompressed): past
 * a UTF-8 BOM, leading blank or white-space lines, and a PEM preamble
 * (-----BEGIN PRIVACY-ENHANCED MESSAGE-----) up to its blank line, and within
 * the file's first 1 MiB; quorlix_is_filing tells the same of a plain file. Another file is not a filing: it is read no
 * further, gives no rows and is counted apart (see QUORLIX_SCHEDULES_INPUT).
 * Each file is read once, however many inputs name it: an input that names the
 * file of an earlier one (the same file, through a link or another spelling) is
 * not read again.
 *
 * The table.
 *   Long form, one row per value, columns
 *     path,member,accession_number,cik,company,form_type,filed,period,sic,
 *     fiscal_year_end,document,description,schedule,article,series,series_name,
 *     flawed,complete,multiplier,restated,multiplier_source,tag,raw,value,scaled
 *   Wide form, one row per schedule: the columns from path to multiplier_source,
 *   unparsed, other_tags, then one per tag other than ARTICLE and MULTIPLIER,
 *   named by the tag, in the order each was first met in input order. Tag
 *   columns are capped (max_columns of QUORLIX_SCHEDULES_OPTIONS, 500 by
 *   default): every tag of the tag dictionary keeps its column; the other tags
 *   fill the cap, those in the most schedules first, ties in the order first
 *   met; the values of the tags left out go to other_tags. So the table grows
 *   linearly with its input. A cell holds a value of
 *   its tag's kind (see "The tag dictionary"): `scaled` for a number, the ISO date
 *   for a date, `raw` for text; it is empty where the schedule lacks the tag, and
 *   where the value is not of its tag's kind (then unparsed lists it); a tag
 *   written twice in a schedule keeps its first value.
 *   Rows are in input order, then archive order, then file order, and the bytes
 *   are the same for any number of threads. A row's key is (path, member,
 *   accession_number, schedule).
 *
 * The columns.
 *   path             the input as given
 *   member           the member's path in the archive, as the archive holds it;
 *                    empty for a plain or compressed file
 *                    (path and member are written as text: valid UTF-8 as it
 *                    stands, and each byte that is not part of valid UTF-8, and
 *                    each control byte below 0x20 but TAB, as the four
 *                    characters \xNN, two lower-case hex digits; so a Latin-1
 *                    name "d\xe9c.txt" keeps the table UTF-8. quorlix_name_as_text
 *                    writes names so.)
 *   accession_number, form_type, company, fiscal_year_end: from the submission
 *                    header (the lines before its first <DOCUMENT>), as written,
 *                    in either of its two forms, field by field, whichever
 *                    comes first: "KEY: value" lines (ACCESSION NUMBER,
 *                    CONFORMED SUBMISSION TYPE, COMPANY CONFORMED NAME, FISCAL
 *                    YEAR END (MMDD), ...) or tags (<ACCESSION-NUMBER>, <TYPE>,
 *                    <CONFORMED-NAME>, <FISCAL-YEAR-END>, ...); the company's
 *                    fields from the first COMPANY DATA, in tags the first
 *                    <FILER>'s <COMPANY-DATA>
 *   cik              CENTRAL INDEX KEY (<CIK>) without leading zeros; empty when
 *                    not digits
 *   filed, period    FILED AS OF DATE (<FILING-DATE>), CONFORMED PERIOD OF
 *                    REPORT (<PERIOD>) as YYYY-MM-DD; empty when not written as
 *                    YYYYMMDD
 *   sic              the digits between '[' and ']' of STANDARD INDUSTRIAL
 *                    CLASSIFICATION (<ASSIGNED-SIC>), else the value when it is
 *                    all digits, else empty
 *   document         the EX-27 document's TYPE in capitals (EX-27, EX-27.1, ...)
 *   description      its first DESCRIPTION line
 *   schedule         1, 2, ... through the submission: every ARTICLE line starts one
 *   article          the ARTICLE value (5, 9, UT, ...)
 *   series, series_name  NUMBER and NAME of the schedule's SERIES block
 *   flawed           1 when the document holds a <FLAWED> line
 *   complete         0 when the document ends at the end of the file or of its
 *                    submission instead of at </DOCUMENT> (a download cut off)
 *   multiplier       the number of the schedule's first MULTIPLIER line, also
 *                    when written in words (THOUSAND(S) and 1,000'S, 1,000S or
 *                    $1,000 are 1000, MILLION(S) 1000000); 1 when there is none;
 *                    empty when it is unreadable: 0, negative, longer than 40
 *                    digits, no number, or on a last line that no line end closed
 *   restated         1 when the schedule holds a <RESTATED> line, or its
 *                    document's description the word RESTATED (any case)
 *   multiplier_source  written, words, absent or unreadable, as above
 *   unparsed         (wide form) each value that is not of its tag's kind, as
 *                    TAG=raw, separated by "; ": N/A for an amount, 12/31/1999
 *                    for a date, a number cut off by the filing's end, and every
 *                    amount of a schedule whose multiplier is unreadable
 *   other_tags       (wide form) the values of the tags the cap leaves without a
 *                    column, as TAG=raw, separated by "; ", in schedule order (a
 *                    value listed in unparsed is not repeated here)
 *   tag              the tag without brackets, in capitals (TOTAL-REVENUES, EPS-BASIC)
 *   raw              the value as written, without blanks around it or footnote
 *                    marks (<F1>) after it
 *   value            a number in plain form (no exponent or separators, '-' for
 *                    a negative, "(1,045)" is -1045, "-0.40" is -0.4), a date
 *                    MON-DD-YYYY as YYYY-MM-DD; empty for other text (a value
 *                    longer than 1,024 characters is text, never a number), and
 *                    for a last line that no line end closed
 *   scaled           the number times the multiplier, exactly, for a tag whose
 *                    kind is stock, flow or shares; unscaled for the other kinds.
 *                    A tag the dictionary does not hold keeps the general rule:
 *                    unscaled for per-share figures, ratios and rates (tags
 *                    containing PER-SHARE, with a word EPS, RATIO, NAV, YIELD or
 *                    RATE, and Article 6's RETURNS-OF-CAPITAL) and for CIK, an
 *                    identifier; scaled otherwise. Empty for ARTICLE and
 *                    MULTIPLIER, what is no number, and an amount whose
 *                    multiplier is unreadable.
 *   Filing bytes 0x80-0xFF are read as Windows-1252 (the five bytes it leaves
 *   undefined as the C1 controls of the same number).
 *
 * Text cells. The header's fields, the document's and the schedule's text, tags,
 * raw values, unparsed and other_tags are written as the filing has them, but
 * that each control byte below 0x20 other than TAB (NUL, CR, LF, ...) is
 * written as \xNN, as names are. A cell such as =HYPERLINK("...") stays as it
 * is, and a spreadsheet that opens the table may run it as a formula; with
 * spreadsheet_safe, a text cell that starts with '=', '+', '-', '@', TAB or CR
 * and is no plain number gets a leading ' (the number columns, and a text cell
 * such as -1,045 or (12.5), never change).
 *
 * The tag dictionary. Each tag of Articles 5, 6, 7, 9, UT and BD has a kind
 * (stock, flow, shares, per-share, ratio, date, period-type, text, identifier),
 * a label and a concept (revenue, net_income, total_assets, eps_basic,
 * eps_diluted, or none); quorlix_write_tag_dictionary writes it. A tag has one
 * kind in every article.
 *
 * The panel. One row per (cik, series, period_end, months, derived), sorted so,
 * columns
 *     cik,series,company,article,fiscal_year_end,period_start,period_end,months,
 *     derived,period_type,period_type_conflict,vintages,filed,form_type,
 *     accession_number,schedule,path,member,restated,multiplier,multiplier_source,
 *     revenue,net_income,total_assets,eps_basic,eps_diluted,other_tags
 *   then one per tag, typed as in the wide form, in the order first met among
 *   the rows kept (inputs in order), capped as the wide form's (max_columns;
 *   the rows that hold a tag count as its schedules). other_tags lists the
 *   values of the tags left out as TAG=value, the value as its cell would hold
 *   it (a number scaled, a date as YYYY-MM-DD, text as written), joined by "; ".
 *   period_end       the PERIOD-END date; without one, FISCAL-YEAR-END for a YEAR
 *                    or 12-MOS schedule, else the period of report
 *   months           from PERIOD-START and PERIOD-END when both are dates; else
 *                    the days from one year before FISCAL-YEAR-END to period_end
 *                    over 30.44, rounded, when FISCAL-YEAR-END is on or after
 *                    period_end and less than a year later; else PERIOD-TYPE's
 *                    (YEAR and 12-MOS 12, n-MOS n). Where PERIOD-TYPE says
 *                    otherwise, the dates win, but for a 3-MOS schedule that the
 *                    fiscal-year dates make longer (a quarter's own figures)
 *   period_type_conflict  1 where PERIOD-TYPE and the dates disagree
 *   period_type      PERIOD-TYPE as written
 *   fiscal_year_end, period_start  the FISCAL-YEAR-END and PERIOD-START dates
 *   company, article the row's filing's name; the article in capitals without
 *                    leading zeros
 *   vintages         the schedules with the row's key (a CIK, a period_end and
 *                    months are needed); the one kept is the one filed first
 *                    (QUORLIX_VINTAGE_FIRST) or last (QUORLIX_VINTAGE_LATEST),
 *                    ties to the earlier input, then the lower schedule number;
 *                    filed, form_type, accession_number, schedule, path and member name it
 *   derived          1 for a quarter derived from two kept rows of one cik and
 *                    series with FISCAL-YEAR-END dates at most 7 days apart,
 *                    months m and m+3 and ends 60 to 120 days apart: months 3,
 *                    ending with the later one, starting the day after the
 *                    earlier one's end; flow tags the difference, stock tags the
 *                    later row's, other tags empty; the source columns both
 *                    rows' joined by ';' (earlier first), multiplier empty when
 *                    theirs differ; vintages and period_type empty. A reported
 *                    three-month row for the same end takes its place.
 *   revenue, net_income, total_assets, eps_basic, eps_diluted  the cells of the
 *                    tags of those concepts in the row's article (eps_basic:
 *                    EPS-BASIC, else EPS-PRIMARY)
 *
 * Inputs. Each input gets one of CvtDecodeFiling's statuses: QUORLIX_OK,
 * QUORLIX_FILING_NOT_FOUND, QUORLIX_FILING_TOO_MANY_FILES, QUORLIX_FILING_FILE_ERROR
 * (a file that cannot be opened or read, is no regular file, or ends before its
 * measured length; a damaged archive or compressed file; one past a limit) or
 * QUORLIX_FILING_DECODE_FAILED (no memory). A file that is no filing, or a
 * filing without a schedule, gives no rows and QUORLIX_OK. When a read fails
 * part way, the documents that ended before it keep their rows.
 */
#ifndef QUORLIX_SCHEDULES_H
#define QUORLIX_SCHEDULES_H

#include <stddef.h>
#include <stdint.h>

#include "quorlix.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The forms of the table. */
#define QUORLIX_SCHEDULES_LONG 0  /* one row per value */
#define QUORLIX_SCHEDULES_WIDE 1  /* one row per schedule, one column per tag */
#define QUORLIX_SCHEDULES_PANEL 2 /* one row per company, series and period (see "The panel") */

/* Which of a period's schedules the panel keeps. */
#define QUORLIX_VINTAGE_FIRST 0  /* the one filed earliest: the figures as first reported */
#define QUORLIX_VINTAGE_LATEST 1 /* the one filed last: amendments and restatements included */

/* A run's settings for quorlix_write_schedules_ex and quorlix_write_schedules_file_ex.
 * Set size to sizeof (QUORLIX_SCHEDULES_OPTIONS) and every other field to 0 (its
 * default) or the value wanted; later versions add fields at the end, and the
 * library reads a caller's struct only up to its size, taking the default for
 * fields past it. A struct larger than the library knows is refused
 * (QUORLIX_SCHEDULES_BAD_ARGUMENT) unless its unknown bytes are all 0. */
typedef struct QUORLIX_SCHEDULES_OPTIONS {
  size_t size; /* the struct's size as the caller knows it; at least sizeof (size_t) */
  int vintage; /* the panel's: QUORLIX_VINTAGE_FIRST (0, the default) or QUORLIX_VINTAGE_LATEST;
                  the other forms ignore it */
  /* The fields below came after vintage: a library that predates them takes them
     as unknown bytes, and refuses them unless 0. */
  int spreadsheet_safe; /* 1: a text cell that starts with '=', '+', '-', '@', TAB or CR and is
                           no plain number (digits, signs, commas, a point, parentheses) is
                           written with a leading ' (see "Text cells"); 0 (the default): as the
                           filing has it. Number columns never change. */
  size_t max_columns;   /* the tag columns of the wide form and the panel at most; 0 is the
                           default, 500. The dictionary's tags always keep their columns (see
                           "Wide form") */
  uint64_t* other_tags; /* null, or where the wide form and the panel put the number of tags
                           whose values went to other_tags (0 for the long form, and when the
                           call ends before the table is written) */
} QUORLIX_SCHEDULES_OPTIONS;

/* Statuses of the calls below (an input's own status is reported to on_input). */
/* clang-format off */
#define QUORLIX_SCHEDULES_OK 0             /* every input was read or reported failed; the table is whole */
#define QUORLIX_SCHEDULES_BAD_ARGUMENT 20  /* a null list with inputs, a null path in it, an unknown form, no
                                              write callback or output path, or an output that is an input;
                                              nothing was read or written */
#define QUORLIX_SCHEDULES_OUTPUT_ERROR 21  /* write returned non-zero, or the output file could not be
                                              created, written or renamed into place */
#define QUORLIX_SCHEDULES_STOPPED 22       /* on_input returned non-zero */
#define QUORLIX_SCHEDULES_NO_MEMORY 23     /* no memory for the run or the wide table */
#define QUORLIX_SCHEDULES_CALLBACK_FAILED 24 /* an exception left write or on_input (see the callbacks) */
#define QUORLIX_SCHEDULES_DATABASE_REFUSED 25 /* quorlix_write_schedules_database: the file is no database of
                                                 this library's (not SQLite, no quorlix_meta) or one of a
                                                 newer format; it was not written */
/* clang-format on */

/* How an input is packed (QUORLIX_SCHEDULES_INPUT's packing, quorlix_file_packing). */
/* clang-format off */
#define QUORLIX_PACKING_NONE 0          /* a plain file: its bytes are its content */
#define QUORLIX_PACKING_COMPRESSED 1    /* one file compressed with gzip, bzip2, xz or compress */
#define QUORLIX_PACKING_ARCHIVE 2       /* a tar or zip archive, plain or compressed */
#define QUORLIX_PACKING_UNREADABLE (-1) /* quorlix_file_packing: missing, no regular file, or unreadable */
/* clang-format on */

/* What on_input learns of one input, when it has been read. The fields from
 * packing on came with libquorlix.so 1.2.0. */
struct quorlix_failure;

typedef struct QUORLIX_SCHEDULES_INPUT {
  size_t index;       /* its place in the list, from 0 */
  const char* path;   /* as given */
  int status;         /* QUORLIX_OK or a QUORLIX_FILING_* status (see "Inputs" above) */
  uint64_t bytes;     /* bytes read of the file (of a packed one, as packed) */
  uint64_t schedules; /* schedules found */
  uint64_t values;    /* values found: rows of the long form */
  double seconds;     /* time spent reading it */
  int packing;        /* a QUORLIX_PACKING_* value other than UNREADABLE (NONE when it could not be read) */
  uint64_t members;   /* an archive's regular members read; 0 for a plain or compressed file */
  uint64_t filings;   /* of the files read (the input itself, or an archive's members), the filings */
  uint64_t filings_with_schedules; /* of those, the ones with a schedule */
  size_t first_index;              /* index, or for an input that names the file of an earlier one, that
                                      one's index: such an input is not read again (status QUORLIX_OK,
                                      every count 0) */
  const char* problem;             /* with QUORLIX_FILING_FILE_ERROR for a damaged packed file or one past
                                      a limit, what is wrong, naming the member as the table writes names
                                      ("member '0001.txt': truncated gzip input"); else null. Valid during
                                      the call of on_input. */
  /* For an input that failed to be read, the library's record of why (see
     quorlix_failure.h: the cause, errno and which file); else null. Valid during
     the call of on_input. */
  const struct quorlix_failure* failure;
} QUORLIX_SCHEDULES_INPUT;
/* An input with status QUORLIX_OK whose files read hold no filing (filings is 0,
 * and first_index is index) is not a filing: a file that is none, or an archive
 * none of whose members is one. */

/* The callbacks should not throw: each is called from the library's C++ code,
 * which catches any exception that leaves one at its edge and ends the call with
 * QUORLIX_SCHEDULES_CALLBACK_FAILED. The table then stands as after a stop: an
 * on_input that throws is taken as one that returned non-zero (the table holds
 * the rows of the inputs reported so far, this one included), and a write that
 * throws as one that returned non-zero (it is called no more). A file written by
 * quorlix_write_schedules_file_ex is then left as it was. The exception itself
 * is not passed on. */

/* Takes the next size bytes of the table; returns 0, or non-zero to stop the call
 * with QUORLIX_SCHEDULES_OUTPUT_ERROR. */
typedef int (*QUORLIX_WRITE_FN)(void* context, const char* data, size_t size);
/* Learns of one input; returns 0 to go on, or non-zero to stop the call with
 * QUORLIX_SCHEDULES_STOPPED. The table then holds the rows of the inputs
 * reported so far, this one included. */
typedef int (*QUORLIX_SCHEDULES_INPUT_FN)(void* context, const QUORLIX_SCHEDULES_INPUT* input);

/* quorlix_write_schedules_ex: the schedules of a list of filings as one table, through a callback.
 *   paths          the filings, count of them (8-bit paths, passed to the file
 *                  system as given); paths may be null when count is 0
 *   form           QUORLIX_SCHEDULES_LONG, QUORLIX_SCHEDULES_WIDE or QUORLIX_SCHEDULES_PANEL
 *   jobs           threads reading filings at once; 0 is one per processor. No
 *                  more are started than there are inputs, nor more than 1024;
 *                  with 1 the call reads on the caller's thread alone.
 *   options        the run's settings (see QUORLIX_SCHEDULES_OPTIONS); null for the defaults
 *   write          receives the table in order, in pieces of up to 64 KiB (the
 *                  long form's header line first; the wide form's and the
 *                  panel's whole table once every input is read); must not be null
 *   on_input       told of each input once it is read, in input order; may be null
 *   returns        one of the QUORLIX_SCHEDULES_* statuses above; a bad
 *                  argument also when options has a size under sizeof (size_t),
 *                  a vintage that is neither QUORLIX_VINTAGE_* value, or bytes
 *                  not 0 past the fields this library knows.
 *   Both callbacks are called on the caller's thread, one call at a time; an
 *   input's rows go to write no later than when on_input hears of the next input
 *   (or the call returns). Calls may run at once from several threads. */
QUORLIX_API int quorlix_write_schedules_ex(const char* const* paths, size_t count, int form, unsigned jobs,
                                           const QUORLIX_SCHEDULES_OPTIONS* options, QUORLIX_WRITE_FN write,
                                           void* write_context, QUORLIX_SCHEDULES_INPUT_FN on_input,
                                           void* input_context);

/* quorlix_write_schedules_file_ex: the same table into a file.
 *   output_path    the file to create or replace; it is written under a
 *                  temporary name in its folder and renamed into place when
 *                  whole, so it is whole or left as it was (also when the call
 *                  is stopped). The temporary name is .quorlix-<name>.<random
 *                  hex>-<n>.tmp, created exclusively; a name taken (a leftover
 *                  of a killed call) gives way to a new random part. An output
 *                  that is one of the inputs is refused. A symbolic link is
 *                  followed: the file it names is written so, in that file's
 *                  folder, and the link stays a link. An existing device, pipe
 *                  or socket (named or through a link) is written as it stands.
 *                  A link that names no file gives QUORLIX_SCHEDULES_OUTPUT_ERROR,
 *                  and nothing is created through it.
 *   returns        as quorlix_write_schedules_ex; for QUORLIX_SCHEDULES_OUTPUT_ERROR
 *                  quorlix_last_failure (quorlix_failure.h) tells the system's
 *                  error and the file: the output, or the temporary file, whose
 *                  path is then its detail. */
QUORLIX_API int quorlix_write_schedules_file_ex(const char* const* paths, size_t count, int form, unsigned jobs,
                                                const QUORLIX_SCHEDULES_OPTIONS* options, const char* output_path,
                                                QUORLIX_SCHEDULES_INPUT_FN on_input, void* input_context);

/* quorlix_write_schedules, quorlix_write_schedules_file: the calls above with
 * options null (every setting its default), as version 1.1 had them. */
QUORLIX_API int quorlix_write_schedules(const char* const* paths, size_t count, int form, unsigned jobs,
                                        QUORLIX_WRITE_FN write, void* write_context,
                                        QUORLIX_SCHEDULES_INPUT_FN on_input, void* input_context);
QUORLIX_API int quorlix_write_schedules_file(const char* const* paths, size_t count, int form, unsigned jobs,
                                             const char* output_path, QUORLIX_SCHEDULES_INPUT_FN on_input,
                                             void* input_context);

/* The database (quorlix_write_schedules_database), SQLite 3, format 2. Every
 * empty field of the table is NULL. Tables:
 *   quorlix_meta(key TEXT PRIMARY KEY, value TEXT)  format_version (2;
 *                    an update brings a format 1 database to 2), library_version,
 *                    scaling_rule, multiplier_rule, written_at
 *   inputs           one row per input read: path TEXT PRIMARY KEY (as the table
 *                    writes it), size INTEGER and mtime_ns INTEGER (the file's, as
 *                    stat told them before it was read; what --update compares),
 *                    status INTEGER, meaning TEXT, problem TEXT, packing INTEGER,
 *                    members, filings, filings_with_schedules, schedule_count,
 *                    value_count INTEGER, same_as TEXT (for an input that names an
 *                    earlier one's file, that one's path), read_at TEXT (UTC,
 *                    ISO 8601), seconds REAL
 *   submissions      id INTEGER PRIMARY KEY, then path, member, accession_number,
 *                    cik INTEGER, company, form_type, filed, period, sic INTEGER,
 *                    fiscal_year_end: one row per submission with a schedule
 *   schedules        id INTEGER PRIMARY KEY, submission_id, then the wide form's
 *                    columns from path to multiplier_source (schedule, flawed,
 *                    complete and restated INTEGER; multiplier TEXT, exact), and
 *                    its unparsed list (TEXT; format 2)
 *   facts            the long form's values: schedule_id, seq (1, 2, ... in the
 *                    schedule; with schedule_id the primary key), tag, raw, value
 *                    and scaled as TEXT (exact), amount REAL (scaled as a double,
 *                    NULL where it is none or beyond a double's range), repeated
 *                    INTEGER (1 for a tag the schedule wrote before), cut INTEGER
 *                    (1 where the filing ended inside the value's line: it may be
 *                    cut, so it has no value; format 2)
 *   tag_dictionary   article, tag (the primary key), kind, label, concept
 *   Indexes on cik, accession_number and path of submissions and schedules, and on
 *   facts' tag.
 * Views wide_5, wide_6, wide_7, wide_9, wide_ut, wide_bd: the schedules of one
 * article (its ARTICLE in capitals without leading zeros), with schedule_id, the
 * fixed columns and unparsed, then one column per tag of the article in the
 * dictionary, in its order: amount for a number's kind, value for a date, raw for
 * other kinds, each from the tag's first value in the schedule. A tag column is
 * named by the tag; where that name equals a fixed column's in any case (Article 6's CIK
 * against cik) it takes the suffix _tag (CIK_tag), so no two columns collide in
 * any database. Names are quoted: "TOTAL-ASSETS".
 * Writes come from one thread (the caller's), in transactions of at most about
 * a second of inputs, each input's rows whole in one; the database is in WAL mode,
 * so readers query while it is written, and a run killed at any point leaves the
 * inputs committed so far whole and the file sound. */
#define QUORLIX_DATABASE_UPDATE                                                                           \
  1                              /* keep the database: read only the inputs that are new or whose size or \
                                    modification time changed, replacing the rows of the changed ones */
#define QUORLIX_DATABASE_PRUNE 2 /* with UPDATE: remove the inputs (and their rows) that the list no longer names */

/* What a database call did, and why it failed. */
typedef struct QUORLIX_DATABASE_SUMMARY {
  uint64_t new_inputs;       /* inputs read that the database did not hold */
  uint64_t changed_inputs;   /* inputs read again, their size or modification time changed */
  uint64_t unchanged_inputs; /* inputs left as they were, not read */
  uint64_t pruned_inputs;    /* inputs removed (QUORLIX_DATABASE_PRUNE) */
  char problem[256];         /* with OUTPUT_ERROR or DATABASE_REFUSED, what went wrong; else "" */
} QUORLIX_DATABASE_SUMMARY;

/* quorlix_write_schedules_database: the schedules of a list of filings into an SQLite database.
 *   paths, count, jobs  as quorlix_write_schedules_ex
 *   flags          0, or QUORLIX_DATABASE_UPDATE, with QUORLIX_DATABASE_PRUNE or not
 *   database_path  without UPDATE: the database to create or replace, written
 *                  under a temporary name beside it and renamed into place when
 *                  whole (an existing SQLite file that is not a Quorlix database
 *                  is refused, not replaced). With UPDATE: the database to keep up
 *                  to date, created when missing; the inputs read are committed
 *                  as they go, so a stop keeps the ones reported.
 *   summary        where the counts and the problem go; may be null
 *   on_input       told of each input read (not of an unchanged one), with its
 *                  index in paths; may be null
 *   returns        one of the QUORLIX_SCHEDULES_* statuses: BAD_ARGUMENT also for
 *                  unknown flags or PRUNE without UPDATE; OUTPUT_ERROR when
 *                  SQLite fails (summary->problem says why); DATABASE_REFUSED.
 *   Calls on different databases may run at once. */
QUORLIX_API int quorlix_write_schedules_database(const char* const* paths, size_t count, unsigned jobs, int flags,
                                                 const char* database_path, QUORLIX_DATABASE_SUMMARY* summary,
                                                 QUORLIX_SCHEDULES_INPUT_FN on_input, void* input_context);

/* quorlix_write_panel_of_database: the panel (see "The panel") of the schedules a
 * database of quorlix_write_schedules_database holds, without reading a filing.
 *   database_path  the database; read in one snapshot, so an update may run meanwhile
 *   options        the vintage (see QUORLIX_SCHEDULES_OPTIONS); null for the defaults
 *   write          receives the panel as quorlix_write_schedules_ex gives it
 *   summary        where the problem goes (its counts stay 0); may be null
 *   returns        QUORLIX_SCHEDULES_OK; BAD_ARGUMENT (as quorlix_write_schedules_ex's
 *                  options, or no path or write); OUTPUT_ERROR when write returned
 *                  non-zero or SQLite failed; DATABASE_REFUSED for a file that is no
 *                  Quorlix database or of a newer format; NO_MEMORY.
 *   Inputs are taken in the order the database first stored them; the panel's
 *   path column names them as the database does. */
QUORLIX_API int quorlix_write_panel_of_database(const char* database_path, const QUORLIX_SCHEDULES_OPTIONS* options,
                                                QUORLIX_WRITE_FN write, void* write_context,
                                                QUORLIX_DATABASE_SUMMARY* summary);

/* quorlix_write_panel_of_database_file: the same panel into a file.
 *   output_path    the file to create or replace, written as
 *                  quorlix_write_schedules_file_ex writes its table: under a
 *                  temporary name in its folder, renamed into place when whole
 *                  (a refused database, or any failure, leaves it as it was);
 *                  followed through a symbolic link; a device, pipe or socket
 *                  written as it stands; a link to nothing refused with
 *                  OUTPUT_ERROR. An output that is the database itself is a
 *                  bad argument.
 *   returns        as quorlix_write_panel_of_database. For OUTPUT_ERROR,
 *                  quorlix_last_failure (quorlix_failure.h) names the file that
 *                  failed (the output, or the temporary, whose path is its
 *                  detail) with the system's error; where it names none, SQLite
 *                  failed and summary->problem says why. */
QUORLIX_API int quorlix_write_panel_of_database_file(const char* database_path,
                                                     const QUORLIX_SCHEDULES_OPTIONS* options, const char* output_path,
                                                     QUORLIX_DATABASE_SUMMARY* summary);

/* quorlix_write_tag_dictionary: the tag dictionary (see "The tag dictionary") as CSV.
 *   article        the article whose tags are wanted (5, 6, 7, 9, UT or BD; case
 *                  and leading zeros do not matter), or null for every article
 *   write          receives the CSV in pieces of up to 64 KiB; must not be null
 *   returns        QUORLIX_SCHEDULES_OK; QUORLIX_SCHEDULES_BAD_ARGUMENT for no
 *                  write callback or an article with no tags in the dictionary
 *                  (nothing is written); QUORLIX_SCHEDULES_OUTPUT_ERROR when
 *                  write returned non-zero. */
QUORLIX_API int quorlix_write_tag_dictionary(const char* article, QUORLIX_WRITE_FN write, void* write_context);

/* quorlix_file_packing: whether a file is compressed or an archive, told by its
 * content as quorlix_write_schedules takes its inputs.
 *   path           the file (an 8-bit path, passed to the file system as given)
 *   words          null, or where the packing's words go ("a gzip-compressed
 *                  file", "a bzip2-compressed file", "an xz-compressed file",
 *                  "a compress (.Z) file", "a tar archive", "a gzip-compressed
 *                  tar archive", "a zip archive", ...; "" for a plain file),
 *                  cut to fit size bytes with their NUL
 *   size           bytes at words
 *   returns        one of the QUORLIX_PACKING_* values.
 *   Reads the first 4 KiB, and of a compressed file what is needed to tell an
 *   archive inside. A pipe or device is not read (QUORLIX_PACKING_UNREADABLE). */
QUORLIX_API int quorlix_file_packing(const char* path, char* words, size_t size);

/* What quorlix_is_filing tells of a file. */
/* clang-format off */
#define QUORLIX_FILE_IS_NO_FILING 0   /* readable, and no EDGAR submission */
#define QUORLIX_FILE_IS_FILING 1      /* an EDGAR submission */
#define QUORLIX_FILE_UNREADABLE (-1)  /* missing, no regular file, or it cannot be read (or a null path) */
/* clang-format on */

/* quorlix_is_filing: whether a plain file is an EDGAR submission, as the quorlix
 * tool tells before it writes over one, as its folder walks take filings, and as
 * the table tells a filing (see "Filings" above).
 *   path           the file (an 8-bit path, passed to the file system as given)
 *   returns        one of the QUORLIX_FILE_* values above.
 *   Reads the first 8 KiB, and further only while blank lines or a preamble
 *   last, at most 1 MiB; its bytes as they are, not decompressed (a compressed
 *   filing is QUORLIX_FILE_IS_NO_FILING: ask quorlix_file_packing). A file saved
 *   as UTF-16 (either byte order, with or without its BOM) is judged by its
 *   text, so a filing saved so is a filing here, although the table reads 8-bit
 *   text only. A pipe or device is not read (QUORLIX_FILE_UNREADABLE), so the
 *   call never waits. */
QUORLIX_API int quorlix_is_filing(const char* path);

/* quorlix_name_as_text: a name (a path, an archive member) as the table writes
 * path and member, so that a caller's own text (a report, a message) says it the same way.
 *   bytes, size    the name
 *   text           where the text goes, with a NUL, when capacity is more than its
 *                  length; may be null when capacity is 0
 *   returns        the text's length without the NUL (so a call with capacity 0
 *                  measures it). */
QUORLIX_API size_t quorlix_name_as_text(const char* bytes, size_t size, char* text, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* QUORLIX_SCHEDULES_H */
