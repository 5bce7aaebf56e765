/* quorlix.h: converting and checking files on disk.
 *
 * Quorlix rewrites text files with CR LF line ends, renders HTML pages as text
 * with their tables as comma-separated lines, decodes EDGAR filings into text and
 * a two-column Financial Data Schedule, checks that a file's contents agree with
 * its suffix, and rewrites delimited files with other delimiters.
 *
 * Every export takes 8-bit, zero-terminated paths and passes them to the file
 * system as given, returns a signed 32-bit status (0 = success; the other values
 * are listed per export below, and the same number can mean different things in
 * different exports), and keeps nothing between calls: calls on different files
 * may run at once from several threads. A null pointer in place of a string is
 * taken as the empty string; an empty path is a bad path.
 *
 * Files. An input must be a regular file: a pipe, FIFO, device, socket (on
 * Windows anything that is not a disk file: NUL, CON, pipes) is refused with the
 * export's input error, without waiting for a writer, as a folder is. A regular
 * file that measures 0 bytes but holds data (Linux /proc files) is read to its
 * end. On POSIX systems outputs are opened write-only and never wait: a FIFO
 * without a reader is the export's output error at once. A reader that goes away
 * raises SIGPIPE, which the library leaves to its host; a host that ignores it
 * gets the output error. Outputs are created or truncated, except an output that
 * is the export's input, by whatever name (see "In place" below).
 *
 * In place. CvtCRLF, and CvtHTMLtoText through a link, may write their output
 * over their input. The same file is then overwritten and cut to its new length:
 * its links, owner, permissions and extended attributes stay as they are. Before
 * a byte changes, the new length is checked against the process's file size limit
 * (RLIMIT_FSIZE; the old length too) and reserved on the file system; when either
 * fails, the output error is returned with the file untouched. The reservation
 * holds on file systems that overwrite in place (ext4, xfs, tmpfs, NTFS). Where a
 * file system cannot reserve, the file is overwritten without that guarantee; on
 * copy-on-write file systems (btrfs, ZFS) even overwriting needs new space, so
 * running out of it part-way can leave a partly converted file.
 *
 * Threads. On POSIX systems CvtCRLF (into a new output) and CvtDecodeFiling read
 * an input longer than 256 KiB ahead of the conversion, up to 1 MiB, on a thread
 * of the call's own; it takes no signals and ends before the call returns. Where
 * no thread can start, the call reads the input itself. The Windows DLL keeps to
 * the caller's thread.
 *
 * No memory. The library reports running out of memory with the statuses of
 * other failures; each export lists those statuses under "No memory".
 *
 * Why a call failed. libquorlix.so keeps, for each thread, the cause of its last
 * failed call (no permission, no space, a folder missing, ...), the errno and
 * the file: quorlix_failure.h. The statuses stay as listed here.
 *
 * On 32-bit Windows the exports use the standard call convention (the callee
 * removes its arguments) and are exported by undecorated name from QUORLIX.dll.
 * Elsewhere they are plain C functions of libquorlix.
 */
#ifndef QUORLIX_H
#define QUORLIX_H

#if defined(_WIN32) && !defined(_WIN64)
#define QUORLIX_CALL __stdcall
#else
#define QUORLIX_CALL
#endif

#if defined(QUORLIX_BUILDING_LIBRARY) && !defined(_WIN32)
#define QUORLIX_API __attribute__((visibility("default")))
#else
#define QUORLIX_API /* Windows exports are listed in the module-definition file */
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses shared by the exports that read a file whole. */
#define QUORLIX_OK 0 /* success */

/* ---- CvtDLLVersion ---- */

/* CvtDLLVersion: the library's version number.
 *   returns     QUORLIX_DLL_VERSION, always. */
#define QUORLIX_DLL_VERSION 103
QUORLIX_API int QUORLIX_CALL CvtDLLVersion(void);

/* ---- CvtCRLF ---- */

/* CvtCRLF: rewrite a text file with CR LF line ends, keeping printable ASCII only.
 *   pszInPath   file to read, whole
 *   pszOutPath  file to create or truncate; may name the input, which is then
 *               converted in place (see "In place" above)
 *   nMode       1 also drops empty lines; any other value keeps them
 *   returns     0, or one of the QUORLIX_CRLF_* statuses below.
 *   Every line break (CR LF, lone LF, lone CR) becomes CR LF; every byte other
 *   than 0x20-0x7E, CR and LF (tabs included) is removed. An output that does
 *   not exist yet is created at once and written as the input is read; an input
 *   that fails part way removes it again. An output that exists (the input
 *   itself included) is opened only after the input has been read whole. So an
 *   input failure never leaves an output that was not there, nor touches one
 *   that was. The converted text
 *   may be twice the input, in a 32-bit length: an input of 2 GiB up to 4 GiB
 *   gives 18 as measured, before it is read; one of 4 GiB or more gives 2.
 *   No memory: 2 (for the input) and 18 (for the output). */
/* clang-format off */
#define QUORLIX_CRLF_INPUT_ERROR 2       /* the input cannot be opened, measured or read, is no regular
                                            file, or there is no memory for it */
#define QUORLIX_CRLF_INPUT_NOT_FOUND 3   /* the input file does not exist */
#define QUORLIX_CRLF_OUTPUT_NOT_FOUND 5  /* creating or writing the output failed as file not found */
#define QUORLIX_CRLF_OUTPUT_ERROR 6      /* the output cannot be created, written, flushed or closed */
#define QUORLIX_CRLF_TOO_MANY_FILES 7    /* too many open files, on either side */
#define QUORLIX_CRLF_PASS_FAILED 18      /* the conversion pass failed: no memory for the output, or an
                                            input of 2 GiB or more */
/* clang-format on */
QUORLIX_API int QUORLIX_CALL CvtCRLF(const char* pszInPath, const char* pszOutPath, int nMode);

/* ---- CvtHTMLtoText ---- */

/* CvtHTMLtoText: render the body of an HTML page as text, tables as comma-separated lines.
 *   pszInPath    HTML page to read; its name must end in ".htm" or ".html"
 *   pszOutPath   text file to create or truncate; its name must end in ".txt" or ".wri"
 *   nTablesOnly  1 writes only the page's tables; any other value the whole body
 *   returns      0, or one of the QUORLIX_HTML_* statuses below.
 *   Only upper-case tags are recognised; the body runs from the last tag beginning
 *   "<BODY" to the last beginning "</BODY". Character entities such as "&nbsp;"
 *   and "&amp;" are written as they stand. The output file is written only when
 *   the whole body rendered; every failure before that leaves it untouched.
 *   No memory: 2 (for the page), 13 (the tag scan), 14, 15 and 16 (rendering). */
/* clang-format off */
#define QUORLIX_HTML_INPUT_ERROR 2       /* the input cannot be opened, measured or read, is no regular
                                            file, or there is no memory for it */
#define QUORLIX_HTML_INPUT_NOT_FOUND 3   /* the input file does not exist */
#define QUORLIX_HTML_OUTPUT_NOT_FOUND 5  /* creating or writing the output failed as file not found */
#define QUORLIX_HTML_OUTPUT_ERROR 6      /* the output cannot be created, written, flushed or closed */
#define QUORLIX_HTML_TOO_MANY_FILES 7    /* too many open files, on either side */
#define QUORLIX_HTML_BOTH_NAMES_WRONG 10 /* neither name has its suffix; no file is opened */
#define QUORLIX_HTML_OUTPUT_NAME_WRONG 11 /* the output name ends in neither ".txt" nor ".wri" */
#define QUORLIX_HTML_INPUT_NAME_WRONG 12 /* the input name ends in neither ".htm" nor ".html" */
#define QUORLIX_HTML_NO_BODY 13          /* no body start or end tag, or a '<' without '>' (or no memory) */
#define QUORLIX_HTML_BODY_FAILED 14      /* rendering the body failed: a digit reference ("&1...") without
                                            ';', or the body end tag before the body start tag (or no memory) */
#define QUORLIX_HTML_TABLE_FAILED 15     /* a table, or a digit reference in it, is left open at the body end
                                            (or no memory) */
#define QUORLIX_HTML_ROW_FAILED 16       /* a table row, or a digit reference in it, is left open at the body end
                                            (or no memory) */
/* clang-format on */
QUORLIX_API int QUORLIX_CALL CvtHTMLtoText(const char* pszInPath, const char* pszOutPath, int nTablesOnly);

/* ---- CvtDecodeFiling ---- */

/* CvtDecodeFiling: decode an EDGAR filing into text and its Financial Data Schedule.
 *   pszFilingPath    the filing to read
 *   pszTextPath      text output to create or truncate: the filing as readable text
 *   pszSchedulePath  schedule output to create or truncate: the schedule rows only
 *   returns          0, or one of the QUORLIX_FILING_* statuses below.
 *   The schedule keeps the host applications' layout: labels of at most 20
 *   characters as it spells them ("Currents Assets"), and a tag it has no row for
 *   (EPS-BASIC) written as its bare value on a line of its own.
 *   Files of any size are decoded in one pass. Memory: one block of the filing
 *   (64 KiB) plus the longest line, which is held whole: about the line's own
 *   length on Linux, up to twice it elsewhere while it grows. An output that names
 *   the filing itself is refused before anything is created. A long filing is read
 *   ahead on POSIX systems (see "Threads" above): 1 MiB more.
 *   No memory: 18. */
/* clang-format off */
#define QUORLIX_FILING_FILE_ERROR 2      /* a file error on any of the three files (bad path, disk full, same
                                            file, a filing that is no regular file) */
#define QUORLIX_FILING_NOT_FOUND 3       /* a file was not found */
#define QUORLIX_FILING_TOO_MANY_FILES 7  /* too many open files */
#define QUORLIX_FILING_DECODE_FAILED 18  /* a failure other than a file error (no memory) */
/* clang-format on */
QUORLIX_API int QUORLIX_CALL CvtDecodeFiling(const char* pszFilingPath, const char* pszTextPath,
                                             const char* pszSchedulePath);

/* ---- CvtVerifyFile ---- */

/* CvtVerifyFile: check that a file's contents agree with the type its suffix claims.
 *   pszPath  the file to check; its suffix (any case) is one of .bmp .gif .jpg .pcx
 *            .tif .wmf .pct .ico .mid .wav .ra .avi .mov .mpg .txt .htm .html
 *   returns  0, or one of the QUORLIX_VERIFY_* statuses below.
 *   Only .txt, .htm and .html files are read whole; other types read at most 128
 *   bytes; .pct passes without the file being opened.
 *   The checks are the host applications' own: a .txt file agrees when it holds a
 *   CR LF pair (LF line ends alone do not), an .htm/.html page when a tag begins
 *   "<HTML" in upper case, a .jpg file when bytes 6-10 are "JFIF" (any case) and a
 *   NUL (an Exif JPEG does not), .bmp when it begins "BM" or "IC", .gif "GIF" (any
 *   case), .pcx the byte 0x0A, .tif "II" or "MM", .wmf the placeable key or a
 *   header type of 1 or 2; .wav and .avi when bytes 8-10 are "WAV" or "AVI" (any
 *   case); .ico, .mid, .ra, .mov and .mpg when the file has 4 bytes or more.
 *   No memory: 2 (a file read whole). */
/* clang-format off */
#define QUORLIX_VERIFY_FILE_ERROR 2      /* the file cannot be opened or read, or is no regular file */
#define QUORLIX_VERIFY_NOT_FOUND 3       /* the file does not exist */
#define QUORLIX_VERIFY_TOO_MANY_FILES 7  /* too many open files */
#define QUORLIX_VERIFY_UNKNOWN_SUFFIX 17 /* the suffix is none of the above; the file is not opened */
#define QUORLIX_VERIFY_MISMATCH 18       /* the contents do not agree with the suffix */
/* clang-format on */
QUORLIX_API int QUORLIX_CALL CvtVerifyFile(const char* pszPath);

/* ---- CvtDelimitedFile ---- */

/* CvtDelimitedFile: rewrite a delimited file with other delimiters.
 *   pszInPath       file to read
 *   pszInRecord     record delimiter of the input; must not be empty
 *   pszInField      field delimiter of the input; must not be empty
 *   pszOutPath      file to create or truncate; must not be the input
 *   pszOutField     written after every field but the last of a record
 *   pszOutRecord    written after the last field of every record
 *   returns         0, or one of the QUORLIX_DELIMITED_* statuses below.
 *   The four delimiters are taken in the ANSI code page and matched and written in
 *   the OEM code page. Text after the last record delimiter is written as a final
 *   record. Quotes have no meaning: a quoted field holding the field delimiter
 *   ("1,000") is split like any other. The set-up checks run in the order of the statuses 4, 3, 1, 2 and the
 *   last failing one is returned; both files are opened even when an argument failed.
 *   Records, fields and delimiters may be of any length; NUL bytes are data. An
 *   input that is no regular file gives 1, and the output is created all the same.
 *   No memory: 1. */
/* clang-format off */
#define QUORLIX_DELIMITED_INPUT_ERROR 1  /* the input cannot be opened or read, is no regular file (or no memory) */
#define QUORLIX_DELIMITED_OUTPUT_ERROR 2 /* the output cannot be opened or written, or names the input */
#define QUORLIX_DELIMITED_NO_IN_FIELD 3  /* pszInField is empty */
#define QUORLIX_DELIMITED_NO_IN_RECORD 4 /* pszInRecord is empty */
#define QUORLIX_DELIMITED_NO_RECORD 5    /* the input holds no record delimiter */
#define QUORLIX_DELIMITED_NO_FIELD 6     /* no record holds a field delimiter */
/* clang-format on */
QUORLIX_API int QUORLIX_CALL CvtDelimitedFile(const char* pszInPath, const char* pszInRecord, const char* pszInField,
                                              const char* pszOutPath, const char* pszOutField,
                                              const char* pszOutRecord);

#ifdef __cplusplus
}
#endif

#endif /* QUORLIX_H */
