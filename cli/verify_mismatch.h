// Why a file failed verification, in plain words: what the check of its suffix
// wanted and what the file holds instead (the library's words, from its record
// of the call), and what the file looks like to libmagic, the tool's own note.
// The export's status stays as it was.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "batch/batch_report.h"

// The tool reads at most this much of a file for libmagic.
inline constexpr std::size_t kMismatchHeadBytes = 64 * 1024;

// libmagic's description of a file's first bytes, on one line; empty when the
// magic database cannot be loaded. Each thread opens its own database at its
// first call and keeps it until it ends.
std::string DescribeLooks(std::span<const unsigned char> head);

// Explains the mismatch of the last CvtVerifyFile on this thread, which checked
// path: the detail from the library's record, and looks_like from DescribeLooks
// on the file's first bytes (left empty for an empty file or one that cannot be
// read again). Call it on the thread that called the export, before another
// export call there.
FailureNote ExplainMismatch(const char* path);
