// The schedules in an SQLite database: the long form's rows, read from the run's
// CSV input by input, go into tables and views on the caller's thread, in
// transactions of about a second each; --update reads only what changed.
#pragma once

#include <cstddef>

#include "quorlix_schedules.h"
#include "schedules/schedule_run.h"

// quorlix_write_schedules_database, with its arguments checked: paths holds count
// non-null paths, flags are known and the path is not empty. summary is filled
// (its problem among it). Raises std::bad_alloc when there is no memory.
int WriteScheduleDatabase(const char* const* paths, std::size_t count, unsigned nJobs, int nFlags,
                          const char* pszDatabasePath, QUORLIX_DATABASE_SUMMARY& summary,
                          QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext);
