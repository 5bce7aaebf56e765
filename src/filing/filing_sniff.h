// Whether a file is an EDGAR submission, judged by its framing lines: so that a
// slip on a command line cannot write over a filing, a folder walk takes filings
// only, and the schedules' table tells "not a filing" from "a filing without
// schedules".
//
// A submission has a line beginning <SEC-DOCUMENT>, <IMS-DOCUMENT>, <SEC-HEADER>,
// <IMS-HEADER> or <SUBMISSION> within the first 8 KiB of its content. The
// content starts past a UTF-8 BOM, leading blank (or white-space) lines, and the
// PEM preamble that opens many filings up to its blank line; the preamble itself
// does not count, since the decoder's text keeps it and a decoded text is no
// filing to protect. Nothing past the first 1 MiB is looked at.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/platform_string.h"

enum class SubmissionSniff {
  kSubmission,  // a framing line begins where one is looked for
  kOther,       // readable, and no framing line there
  kUnreadable,  // missing, no regular file, or it cannot be read
};

// What the first bytes of a file say.
enum class HeadVerdict {
  kSubmission,
  kOther,
  kReadOn,  // the answer lies past these bytes
};

// How far past the content's start the framing lines are looked for.
inline constexpr std::size_t kFramingWindowBytes = 8 * 1024;
// How far into a file the content's start and the framing lines are looked for.
inline constexpr std::size_t kSniffLimitBytes = 1024 * 1024;

// Judges head, the file's first bytes as 8-bit text; bWhole says that they are
// all there is, so that no answer lies past them.
HeadVerdict JudgeSubmissionHead(std::string_view head, bool bWhole);

// Judges the first bytes of a file as saved: 8-bit text as JudgeSubmissionHead,
// and UTF-16 in either byte order, with or without its BOM, as the same text.
HeadVerdict JudgeFileHead(std::string_view head, bool bWhole);

// Reads the start of the file at strPath, as little of it as the answer needs.
SubmissionSniff SniffSubmission(const CString& strPath) noexcept;
