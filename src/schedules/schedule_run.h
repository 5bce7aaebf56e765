// A run over a list of filings: each read on one of several threads into its
// part of the table, the parts written in input order through the caller's
// callback on the caller's thread.
#pragma once

#include <cstddef>

#include "quorlix_schedules.h"

// quorlix_write_schedules, with its arguments checked: paths holds count
// non-null paths, form is a known form and write is not null. Raises
// std::bad_alloc when there is no memory for the run itself.
int WriteScheduleTable(const char* const* paths, std::size_t count, bool bWide, unsigned nJobs, QUORLIX_WRITE_FN write,
                       void* pWriteContext, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext);

// quorlix_write_schedules_file, with the same checks and a non-empty output path.
int WriteScheduleTableFile(const char* const* paths, std::size_t count, bool bWide, unsigned nJobs,
                           const char* pszOutputPath, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext);
