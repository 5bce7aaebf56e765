// The batch engine behind quorlix_run_batch, for the library's C interface.
#pragma once

#include <cstddef>

#include "quorlix_batch.h"
#include "quorlix_schedules.h"

namespace batch {

// Reads the inputs' paths, count of them, into the schedules' table that table
// describes, telling onInput of each input in input order (a nonzero return
// stops it); returns a QUORLIX_SCHEDULES_* status. The table's code lies above
// the engine, so the C interface hands the engine one of these.
using TableRunner = int (*)(const quorlix_batch_table& table, const char* const* paths, std::size_t count,
                            unsigned jobs, QUORLIX_SCHEDULES_INPUT_FN onInput, void* inputContext);

// Runs a batch as quorlix_run_batch does; runTable reads a QUORLIX_BATCH_SCHEDULES
// batch (without one, such a batch is a bad call). May throw std::bad_alloc.
int RunBatch(const quorlix_batch_settings& settings, const quorlix_batch_callbacks& callbacks,
             quorlix_batch_summary& summary, TableRunner runTable);

}  // namespace batch
