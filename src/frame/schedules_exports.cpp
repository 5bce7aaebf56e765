// The schedules' C interface: arguments checked, then the run; nothing escapes to the host.
#include "quorlix_schedules.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>

#include "filing/filing_sniff.h"
#include "platform/failure_record.h"
#include "platform/file.h"
#include "platform/packed_file.h"
#include "schedules/database_panel.h"
#include "schedules/schedule_database.h"
#include "schedules/schedule_run.h"
#include "schedules/schedule_table.h"
#include "schedules/tag_dictionary.h"

namespace {

// A list of count non-null paths (none needed when count is 0).
bool AreUsable(const char* const* paths, std::size_t count) {
  if (count == 0) return true;
  return paths && std::ranges::none_of(std::span(paths, count), [](const char* psz) { return psz == nullptr; });
}

// The form and the caller's options as the run's settings; false for an unknown
// form or options this library cannot honour. The caller's struct is read only
// up to its size: a shorter one (an older caller) leaves the later fields 0, and
// a longer one (a newer caller) must hold only 0 past the fields known here.
bool ReadSettings(int form, const QUORLIX_SCHEDULES_OPTIONS* pOptions, TableSettings& settings) {
  switch (form) {
    case QUORLIX_SCHEDULES_LONG: settings.form = TableForm::kLong; break;
    case QUORLIX_SCHEDULES_WIDE: settings.form = TableForm::kWide; break;
    case QUORLIX_SCHEDULES_PANEL: settings.form = TableForm::kPanel; break;
    default: return false;
  }
  QUORLIX_SCHEDULES_OPTIONS options{};
  if (pOptions) {
    const std::size_t nSize = pOptions->size;
    if (nSize < sizeof(std::size_t)) return false;
    std::memcpy(&options, pOptions, std::min(nSize, sizeof options));
    const auto* const pBytes = reinterpret_cast<const unsigned char*>(pOptions);
    if (nSize > sizeof options &&
        std::any_of(pBytes + sizeof options, pBytes + nSize, [](unsigned char b) { return b != 0; }))
      return false;
  }
  switch (options.vintage) {
    case QUORLIX_VINTAGE_FIRST: settings.vintage = PanelVintage::kFirst; break;
    case QUORLIX_VINTAGE_LATEST: settings.vintage = PanelVintage::kLatest; break;
    default: return false;
  }
  switch (options.spreadsheet_safe) {
    case 0: settings.guard = CellGuard::kAsWritten; break;
    case 1: settings.guard = CellGuard::kSpreadsheetSafe; break;
    default: return false;
  }
  settings.nMostTagColumns = options.max_columns != 0 ? options.max_columns : kDefaultMostTagColumns;
  settings.pOtherTags = options.other_tags;
  if (settings.pOtherTags) *settings.pOtherTags = 0;
  return true;
}

// Hands text to write in pieces of at most kTablePieceBytes; false when write refused one.
bool WriteInPieces(std::string_view text, QUORLIX_WRITE_FN write, void* pContext) {
  for (std::size_t nDone = 0; nDone < text.size(); nDone += kTablePieceBytes) {
    const std::size_t nPiece = std::min(kTablePieceBytes, text.size() - nDone);
    if (write(pContext, text.data() + nDone, nPiece) != 0) return false;
  }
  return true;
}

}  // namespace

extern "C" {

QUORLIX_API int quorlix_write_schedules_ex(const char* const* paths, size_t count, int form, unsigned jobs,
                                           const QUORLIX_SCHEDULES_OPTIONS* options, QUORLIX_WRITE_FN write,
                                           void* write_context, QUORLIX_SCHEDULES_INPUT_FN on_input,
                                           void* input_context) {
  TableSettings settings;
  if (!AreUsable(paths, count) || !ReadSettings(form, options, settings) || !write)
    return QUORLIX_SCHEDULES_BAD_ARGUMENT;
  try {
    return WriteScheduleTable(paths, count, settings, jobs, write, write_context, on_input, input_context);
  } catch (...) {
    return QUORLIX_SCHEDULES_NO_MEMORY;
  }
}

QUORLIX_API int quorlix_write_schedules_file_ex(const char* const* paths, size_t count, int form, unsigned jobs,
                                                const QUORLIX_SCHEDULES_OPTIONS* options, const char* output_path,
                                                QUORLIX_SCHEDULES_INPUT_FN on_input, void* input_context) {
  // The record tells a caller why the file failed, and which: the temporary's name is the library's.
  ClearFailure();
  TableSettings settings;
  if (!AreUsable(paths, count) || !ReadSettings(form, options, settings) || !output_path || !*output_path) {
    FinishFailure(QUORLIX_SCHEDULES_BAD_ARGUMENT);
    return QUORLIX_SCHEDULES_BAD_ARGUMENT;
  }
  int nStatus = QUORLIX_SCHEDULES_NO_MEMORY;
  try {
    nStatus = WriteScheduleTableFile(paths, count, settings, jobs, output_path, on_input, input_context);
  } catch (...) {
    RecordFailure(FailureCause::kNoMemory, FailedFile::kNone);
  }
  FinishFailure(nStatus);
  return nStatus;
}

QUORLIX_API int quorlix_write_schedules(const char* const* paths, size_t count, int form, unsigned jobs,
                                        QUORLIX_WRITE_FN write, void* write_context,
                                        QUORLIX_SCHEDULES_INPUT_FN on_input, void* input_context) {
  return quorlix_write_schedules_ex(paths, count, form, jobs, nullptr, write, write_context, on_input, input_context);
}

QUORLIX_API int quorlix_write_schedules_file(const char* const* paths, size_t count, int form, unsigned jobs,
                                             const char* output_path, QUORLIX_SCHEDULES_INPUT_FN on_input,
                                             void* input_context) {
  return quorlix_write_schedules_file_ex(paths, count, form, jobs, nullptr, output_path, on_input, input_context);
}

QUORLIX_API int quorlix_write_schedules_database(const char* const* paths, size_t count, unsigned jobs, int flags,
                                                 const char* database_path, QUORLIX_DATABASE_SUMMARY* summary,
                                                 QUORLIX_SCHEDULES_INPUT_FN on_input, void* input_context) {
  QUORLIX_DATABASE_SUMMARY ignored;
  QUORLIX_DATABASE_SUMMARY& result = summary ? *summary : ignored;
  result = {};
  constexpr int kKnownFlags = QUORLIX_DATABASE_UPDATE | QUORLIX_DATABASE_PRUNE;
  const bool bFlagsKnown =
      (flags & ~kKnownFlags) == 0 && ((flags & QUORLIX_DATABASE_PRUNE) == 0 || (flags & QUORLIX_DATABASE_UPDATE) != 0);
  if (!AreUsable(paths, count) || !bFlagsKnown || !database_path || !*database_path)
    return QUORLIX_SCHEDULES_BAD_ARGUMENT;
  try {
    return WriteScheduleDatabase(paths, count, jobs, flags, database_path, result, on_input, input_context);
  } catch (...) {
    return QUORLIX_SCHEDULES_NO_MEMORY;
  }
}

QUORLIX_API int quorlix_write_panel_of_database(const char* database_path, const QUORLIX_SCHEDULES_OPTIONS* options,
                                                QUORLIX_WRITE_FN write, void* write_context,
                                                QUORLIX_DATABASE_SUMMARY* summary) {
  QUORLIX_DATABASE_SUMMARY ignored;
  QUORLIX_DATABASE_SUMMARY& result = summary ? *summary : ignored;
  result = {};
  TableSettings settings;
  if (!database_path || !*database_path || !write || !ReadSettings(QUORLIX_SCHEDULES_PANEL, options, settings))
    return QUORLIX_SCHEDULES_BAD_ARGUMENT;
  try {
    return WritePanelOfDatabase(database_path, settings, write, write_context, result);
  } catch (...) {
    return QUORLIX_SCHEDULES_NO_MEMORY;
  }
}

QUORLIX_API int quorlix_write_panel_of_database_file(const char* database_path,
                                                     const QUORLIX_SCHEDULES_OPTIONS* options, const char* output_path,
                                                     QUORLIX_DATABASE_SUMMARY* summary) {
  // As the table's file form: the record names the file that failed, the summary SQLite's problem.
  ClearFailure();
  QUORLIX_DATABASE_SUMMARY ignored;
  QUORLIX_DATABASE_SUMMARY& result = summary ? *summary : ignored;
  result = {};
  TableSettings settings;
  if (!database_path || !*database_path || !output_path || !*output_path ||
      !ReadSettings(QUORLIX_SCHEDULES_PANEL, options, settings)) {
    FinishFailure(QUORLIX_SCHEDULES_BAD_ARGUMENT);
    return QUORLIX_SCHEDULES_BAD_ARGUMENT;
  }
  int nStatus = QUORLIX_SCHEDULES_NO_MEMORY;
  try {
    const char* const inputs[] = {database_path};
    nStatus = WriteTableFile(output_path, inputs, [&](QUORLIX_WRITE_FN write, void* pContext) {
      return WritePanelOfDatabase(database_path, settings, write, pContext, result);
    });
  } catch (...) {
    RecordFailure(FailureCause::kNoMemory, FailedFile::kNone);
  }
  FinishFailure(nStatus);
  return nStatus;
}

QUORLIX_API int quorlix_write_tag_dictionary(const char* article, QUORLIX_WRITE_FN write, void* write_context) {
  if (!write) return QUORLIX_SCHEDULES_BAD_ARGUMENT;
  try {
    std::string table;
    const std::string normal = article ? NormalArticle(article) : std::string();
    if ((article && normal.empty()) || AppendTagDictionaryCsv(table, normal) == 0)
      return QUORLIX_SCHEDULES_BAD_ARGUMENT;
    return WriteInPieces(table, write, write_context) ? QUORLIX_SCHEDULES_OK : QUORLIX_SCHEDULES_OUTPUT_ERROR;
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
