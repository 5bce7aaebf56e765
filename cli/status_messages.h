// The tool's words for every status of every export, in one table, and the
// escaping that keeps a file's name on one line of a message.
#pragma once

#include <string>
#include <string_view>

enum class Export { kCrlf, kHtml, kFiling, kVerify, kDelimited, kSchedules };

// The files of one call, as the user named them; placeholders {in}, {out} and
// {out2} in a message stand for them. strDetail is the cause the tool found
// itself, if any: it follows the words, in place of a guess that the status can
// also mean no memory.
struct CallFiles {
  std::string_view strIn;
  std::string_view strOut;
  std::string_view strOut2;
  std::string_view strDetail = {};
};

// Bytes below 0x20, 0x7F and the backslash as C escapes (\n, \t, \x1b, \\), so a
// name cannot forge a line of its own; bytes of 0x80 and above stay as they are.
std::string EscapeName(std::string_view name);

// A message on one line: line breaks become "; ", trailing blanks and line breaks
// go, and other control bytes are escaped as EscapeName does (backslashes stay).
std::string OneLine(std::string_view text);

// True when the table holds words for this status of this export.
bool HasStatusWords(Export which, int status);

// The words for a status, without the tool's name or the number; the names in
// them are escaped. No file is looked at: an input the library recorded as no
// regular file takes DescribeNotRegular's words. Where the status can also mean that
// memory ran out, the words say so only when memoryMayBeShort (and for verify only for the types it reads whole). The
// tool's words for a cause it found are in failure_cause.h.
std::string DescribeStatus(Export which, int nStatus, const CallFiles& files, bool memoryMayBeShort = true);

// The words for an input the export refused as no regular file (a pipe, FIFO,
// device or socket), where the status has such words; else DescribeStatus's.
// For a failure the library recorded so, without looking at the input again.
std::string DescribeNotRegular(Export which, int nStatus, const CallFiles& files, bool memoryMayBeShort);
