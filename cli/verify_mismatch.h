// Why a file failed verification, in plain words: what the check of its suffix
// wanted and what the file holds instead, and what the file looks like to
// libmagic. The tool works this out itself after the export said "mismatch"; the
// export's status stays as it was.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "batch/batch_report.h"

// The tool keeps at most this much of a file for its signature and for libmagic;
// the text types are scanned to their end in blocks of this size, as their check
// scans them, so memory does not grow with the file.
inline constexpr std::size_t kMismatchHeadBytes = 64 * 1024;

// True when the suffix's check reads the whole file (text and HTML).
bool ChecksWholeFile(std::string_view path);

// What the check of the path's suffix wanted and what `contents` hold instead.
// `contents` is the whole file for the text types, else at least its first
// bytes; fileBytes is the file's size.
std::string DescribeMismatch(std::string_view path, std::span<const unsigned char> contents, std::uint64_t fileBytes);

// libmagic's description of a file's first bytes, on one line; empty when the
// magic database cannot be loaded. Each thread opens its own database at its
// first call and keeps it until it ends.
std::string DescribeLooks(std::span<const unsigned char> head);

// Reads the file again and explains its mismatch: the detail from
// DescribeMismatch, and looks_like from DescribeLooks (left empty for an empty
// file). A file that cannot be read again gets an empty note.
FailureNote ExplainMismatch(const char* path);
