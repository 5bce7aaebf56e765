// The schedules' C interface: arguments checked, then the run; nothing escapes to the host.
#include "quorlix_schedules.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>

#include "filing/filing_sniff.h"
#include "platform/file.h"
#include "platform/packed_file.h"
#include "schedules/schedule_run.h"
#include "schedules/schedule_table.h"

namespace {

// A list of count non-null paths (none needed when count is 0), and a known form.
bool AreUsable(const char* const* paths, std::size_t count, int form) {
  if (form != QUORLIX_SCHEDULES_LONG && form != QUORLIX_SCHEDULES_WIDE) return false;
  if (count == 0) return true;
  return paths && std::ranges::none_of(std::span(paths, count), [](const char* psz) { return psz == nullptr; });
}

}  // namespace

extern "C" {

QUORLIX_API int quorlix_write_schedules(const char* const* paths, size_t count, int form, unsigned jobs,
                                        QUORLIX_WRITE_FN write, void* write_context,
                                        QUORLIX_SCHEDULES_INPUT_FN on_input, void* input_context) {
  if (!AreUsable(paths, count, form) || !write) return QUORLIX_SCHEDULES_BAD_ARGUMENT;
  try {
    return WriteScheduleTable(paths, count, form == QUORLIX_SCHEDULES_WIDE, jobs, write, write_context, on_input,
                              input_context);
  } catch (...) {
    return QUORLIX_SCHEDULES_NO_MEMORY;
  }
}

QUORLIX_API int quorlix_write_schedules_file(const char* const* paths, size_t count, int form, unsigned jobs,
                                             const char* output_path, QUORLIX_SCHEDULES_INPUT_FN on_input,
                                             void* input_context) {
  if (!AreUsable(paths, count, form) || !output_path || !*output_path) return QUORLIX_SCHEDULES_BAD_ARGUMENT;
  try {
    return WriteScheduleTableFile(paths, count, form == QUORLIX_SCHEDULES_WIDE, jobs, output_path, on_input,
                                  input_context);
  } catch (...) {
    return QUORLIX_SCHEDULES_NO_MEMORY;
  }
}

QUORLIX_API int quorlix_file_packing(const char* path, char* words, size_t size) {
  if (words && size > 0) *words = '\0';
  if (!path) return QUORLIX_PACKING_UNREADABLE;
  try {
    const PackingKind kind = ProbeFilePacking(path);
    if (words && size > 0) {
      const std::size_t nCopied = std::min(kind.words.size(), size - 1);
      std::memcpy(words, kind.words.data(), nCopied);
      words[nCopied] = '\0';
    }
    switch (kind.packing) {
      case Packing::kPlain: return QUORLIX_PACKING_NONE;
      case Packing::kCompressed: return QUORLIX_PACKING_COMPRESSED;
      case Packing::kArchive: return QUORLIX_PACKING_ARCHIVE;
    }
    return QUORLIX_PACKING_NONE;
  } catch (...) {
    return QUORLIX_PACKING_UNREADABLE;  // the file cannot be opened or read, or no memory
  }
}

QUORLIX_API int quorlix_is_filing(const char* path) {
  if (!path) return QUORLIX_FILE_UNREADABLE;
  try {
    switch (SniffSubmission(path)) {
      case SubmissionSniff::kSubmission: return QUORLIX_FILE_IS_FILING;
      case SubmissionSniff::kOther: return QUORLIX_FILE_IS_NO_FILING;
      case SubmissionSniff::kUnreadable: return QUORLIX_FILE_UNREADABLE;
    }
  } catch (...) {
  }
  return QUORLIX_FILE_UNREADABLE;
}

QUORLIX_API size_t quorlix_name_as_text(const char* bytes, size_t size, char* text, size_t capacity) {
  try {
    std::string out;
    if (bytes) AppendNameText(out, std::string_view(bytes, size));
    if (text && capacity > out.size()) std::memcpy(text, out.c_str(), out.size() + 1);
    return out.size();
  } catch (...) {
    return 0;  // no memory: an empty text
  }
}

}  // extern "C"
