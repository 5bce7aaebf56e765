// A QUORLIX_BATCH_SCHEDULES batch: the walked inputs read into one table.
#pragma once

#include "batch/engine.h"
#include "batch/walk.h"
#include "quorlix_batch.h"

namespace batch {

// Hands the inputs the walk took to runTable in one call and makes each input
// it tells of a row, the walked inputs it was not given in their places. Sets
// table.status; returns QUORLIX_BATCH_DONE or QUORLIX_BATCH_STOPPED.
int RunTableBatch(const InputList& list, const quorlix_batch_callbacks& callbacks, quorlix_batch_table& table,
                  unsigned jobs, TableRunner runTable);

}  // namespace batch
