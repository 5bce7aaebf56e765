#include "batch/table_batch.h"

#include <cstdint>
#include <vector>

#include "quorlix_schedules.h"

namespace batch {
namespace {

// A QUORLIX_BATCH_SCHEDULES batch: the inputs the walk took go to the table in
// one call, and each input it tells of becomes a row, with the walked inputs it
// was not given in their places.
class TableRun {
 public:
  TableRun(const InputList& list, const quorlix_batch_callbacks& callbacks) : m_list(list), m_callbacks(callbacks) {}

  int Run(quorlix_batch_table& table, unsigned jobs, TableRunner runTable) {
    std::vector<const char*> paths;
    for (std::size_t i = 0; i < m_list.Inputs().size(); ++i) {
      if (m_list.Inputs()[i].skip != InputSkip::kNone) continue;
      paths.push_back(m_list.CPathOf(m_list.Inputs()[i]));
      m_taken.push_back(i);
    }
    table.status = runTable(table, paths.data(), paths.size(), jobs, &TableRun::OnInput, this);
    // The walked inputs after the last one read, once the table is whole.
    if (table.status == QUORLIX_SCHEDULES_OK) EmitSkippedBefore(m_list.Inputs().size());
    return m_stopped || table.status == QUORLIX_SCHEDULES_STOPPED ? QUORLIX_BATCH_STOPPED : QUORLIX_BATCH_DONE;
  }

 private:
  static int OnInput(void* context, const QUORLIX_SCHEDULES_INPUT* input) {
    return static_cast<TableRun*>(context)->Take(*input) ? 0 : 1;
  }

  // The row of an input the table read; false to stop the table.
  bool Take(const QUORLIX_SCHEDULES_INPUT& read) {
    if (read.index >= m_taken.size()) return false;
    const std::size_t index = m_taken[read.index];
    if (!EmitSkippedBefore(index)) return false;
    // The table counts the inputs it was given; the row, every input walked.
    QUORLIX_SCHEDULES_INPUT told = read;
    told.index = index;
    told.first_index = read.first_index < m_taken.size() ? m_taken[read.first_index] : index;
    quorlix_batch_row row = RowOf(index);
    row.bytes_in = read.bytes;
    row.seconds = read.seconds;
    row.table_input = &told;
    if (read.first_index != read.index) row.skip = QUORLIX_BATCH_SKIP_REPEATED;
    else if (read.status == QUORLIX_OK && read.filings == 0) row.skip = QUORLIX_BATCH_SKIP_NOT_A_FILING;
    else row.status = read.status;
    if (read.failure) row.failure = *read.failure;
    row.failure.status = row.status;
    m_bytes += read.bytes;
    if (row.status != QUORLIX_OK) ++m_failed;
    return Tell(row);
  }

  quorlix_batch_row RowOf(std::size_t index) {
    const Input& input = m_list.Inputs()[index];
    quorlix_batch_row row{};
    row.index = index;
    row.input = m_list.CPathOf(input);
    row.relative_start = input.relStart;
    row.skip = static_cast<int>(input.skip);
    m_next = index + 1;
    return row;
  }

  // The rows of the walk's skipped inputs from the next one up to end (an input
  // the table was given and did not tell of, one a database holds unchanged, has
  // none); false on a stop.
  bool EmitSkippedBefore(std::size_t end) {
    while (m_next < end) {
      const std::size_t index = m_next++;
      if (m_list.Inputs()[index].skip != InputSkip::kNone && !Tell(RowOf(index))) return false;
    }
    return true;
  }

  // Hands a row over, then the progress; false once either callback asked to stop.
  bool Tell(const quorlix_batch_row& row) {
    if (m_callbacks.row && m_callbacks.row(m_callbacks.context, &row) != 0) m_stopped = true;
    if (!m_stopped && m_callbacks.progress) {
      const quorlix_batch_progress progress{m_list.Inputs().size(), m_next, m_failed, m_bytes};
      if (m_callbacks.progress(m_callbacks.context, &progress) != 0) m_stopped = true;
    }
    return !m_stopped;
  }

  const InputList& m_list;
  const quorlix_batch_callbacks& m_callbacks;
  std::vector<std::size_t> m_taken;  // by the table's index, the input's
  std::size_t m_next = 0;            // the input whose row comes next
  std::size_t m_failed = 0;
  std::uint64_t m_bytes = 0;
  bool m_stopped = false;
};

}  // namespace

int RunTableBatch(const InputList& list, const quorlix_batch_callbacks& callbacks, quorlix_batch_table& table,
                  unsigned jobs, TableRunner runTable) {
  return TableRun(list, callbacks).Run(table, jobs, runTable);
}

}  // namespace batch
