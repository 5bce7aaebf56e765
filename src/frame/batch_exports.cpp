// quorlix_run_batch: the batch engine, with the schedules' table as one of its
// conversions. The engine lies below the table's code, so the table is handed
// to it from here.
#include <new>

#include "batch/engine.h"
#include "quorlix_batch.h"
#include "quorlix_schedules.h"

namespace {

// The table's own calls, so that a batch's table is the one they write.
int RunTable(const quorlix_batch_table& table, const char* const* paths, std::size_t count, unsigned jobs,
             QUORLIX_SCHEDULES_INPUT_FN onInput, void* inputContext) {
  switch (table.to) {
    case QUORLIX_BATCH_TABLE_TO_FILE:
      return quorlix_write_schedules_file_ex(paths, count, table.form, jobs, table.options, table.path, onInput,
                                             inputContext);
    case QUORLIX_BATCH_TABLE_TO_DATABASE:
      // A database holds every form: the form and its options are not its to take.
      return quorlix_write_schedules_database(paths, count, jobs, table.database_flags, table.path,
                                              table.database_summary, onInput, inputContext);
    default:
      return quorlix_write_schedules_ex(paths, count, table.form, jobs, table.options, table.write, table.write_context,
                                        onInput, inputContext);
  }
}

}  // namespace

int quorlix_run_batch(const quorlix_batch_settings* settings, const quorlix_batch_callbacks* callbacks,
                      quorlix_batch_summary* summary) {
  if (!settings) return QUORLIX_BATCH_BAD_CALL;
  const quorlix_batch_callbacks none{};
  quorlix_batch_summary ignored{};
  try {
    return batch::RunBatch(*settings, callbacks ? *callbacks : none, summary ? *summary : ignored, RunTable);
  } catch (...) {
    return QUORLIX_BATCH_NO_MEMORY;
  }
}
