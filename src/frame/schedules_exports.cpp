// The schedules' C interface: arguments checked, then the run; nothing escapes to the host.
#include "quorlix_schedules.h"

#include <algorithm>
#include <span>

#include "schedules/schedule_run.h"

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

}  // extern "C"
