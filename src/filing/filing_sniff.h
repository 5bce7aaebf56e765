// Whether a file is an EDGAR submission, judged by its framing lines: so that a
// slip on a command line cannot write over a filing, a folder walk takes filings
// only, and the schedules' table tells "not a filing" from "a filing without
// schedules".
//
// A submission has a line beginning <SEC-DOCUMENT>, <IMS-DOCUMENT>, <SEC-HEADER>,
// <IMS-HEADER> or <SUBMISSION> within its first 8 KiB. The PEM banner that opens
// many filings does not count: the decoder's text keeps it, and a decoded text
// is no filing to protect.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/platform_string.h"

enum class SubmissionSniff {
  kSubmission,  // a framing line begins within the first 8 KiB
  kOther,       // readable, and no framing line there
  kUnreadable,  // missing, no regular file, or it cannot be read
};

// What the first bytes of a file say.
enum class HeadVerdict {
  kSubmission,
  kOther,
  kReadOn,  // the answer lies past these bytes
};

// How far the framing lines are looked for.
inline constexpr std::size_t kFramingWindowBytes = 8 * 1024;

// Judges head, the file's first bytes; bWhole says that they are all there is,
// so that no answer lies past them.
HeadVerdict JudgeSubmissionHead(std::string_view head, bool bWhole);

// Reads the start of the file at strPath, as little of it as the answer needs.
SubmissionSniff SniffSubmission(const CString& strPath) noexcept;
