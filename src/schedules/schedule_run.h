// A run over a list of filings: each read on one of several threads into its
// part of the table, the parts written in input order through the caller's
// callback on the caller's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "platform/platform_string.h"
#include "quorlix_schedules.h"
#include "schedules/schedule_panel.h"

// What a run writes.
enum class TableForm : unsigned char { kLong, kWide, kPanel };
struct TableSettings {
  TableForm form = TableForm::kLong;
  PanelVintage vintage = PanelVintage::kFirst;
  CellGuard guard = CellGuard::kAsWritten;
  std::size_t nMostTagColumns = kDefaultMostTagColumns;  // the wide form's
  std::uint64_t* pOtherTags = nullptr;                   // where the count of tags in other_tags goes, or null
  // Every row of an input reaches write before on_input hears of it, so a
  // caller can take each input's rows whole (the database does).
  bool bRowsBeforeReport = false;
  // The long form's rows end in a field of marks (LongTable's bMarksColumn).
  bool bMarksColumn = false;
};

// quorlix_write_schedules_ex, with its arguments checked: paths holds count
// non-null paths, the settings are known and write is not null. Raises
// std::bad_alloc when there is no memory for the run itself.
int WriteScheduleTable(const char* const* paths, std::size_t count, const TableSettings& settings, unsigned nJobs,
                       QUORLIX_WRITE_FN write, void* pWriteContext, QUORLIX_SCHEDULES_INPUT_FN onInput,
                       void* pInputContext);

// quorlix_write_schedules_file_ex, with the same checks and a non-empty output path.
int WriteScheduleTableFile(const char* const* paths, std::size_t count, const TableSettings& settings, unsigned nJobs,
                           const char* pszOutputPath, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext);

// A table handed to a write callback: its status, as the exports' own.
using TableWriting = std::function<int(QUORLIX_WRITE_FN write, void* pContext)>;

// Writes the table writeTable gives into the file at pszOutputPath as
// quorlix_write_schedules_file_ex does: replaced whole through a temporary
// beside it, or a device written as it stands; an output that is one of inputs
// is refused (BAD_ARGUMENT). Failures on the file are recorded for quorlix_last_failure.
int WriteTableFile(const char* pszOutputPath, std::span<const char* const> inputs, const TableWriting& writeTable);
