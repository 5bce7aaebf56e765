// Whether a file is an EDGAR submission, judged by its framing lines, so that a
// slip on the command line cannot overwrite a filing and a folder walk takes
// filings only.
#pragma once

#include <string_view>

enum class SubmissionSniff {
  kSubmission,  // a framing line begins within the first 8 KiB
  kOther,       // readable, and no framing line there
  kUnreadable,  // missing, no regular file, or it cannot be read
};

// Reads at most the first 8 KiB of path. A submission has a line beginning
// <SEC-DOCUMENT>, <IMS-DOCUMENT>, <SEC-HEADER>, <IMS-HEADER> or <SUBMISSION>
// there. The PEM banner that opens many filings does not count: the decoded
// text keeps it, and a decoded text is no filing to protect.
SubmissionSniff SniffSubmission(const char* path);

// The same test on bytes already read (the start of a file).
bool HasFramingLine(std::string_view head);
