#include "batch/progress_line.h"

#include <cstdio>

namespace {

// m:ss, or h:mm:ss from an hour on.
std::string FormatDuration(double seconds) {
  const auto total = static_cast<long long>(seconds);
  char text[32];
  if (total >= 3600) std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  else std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  return text;
}

}  // namespace

std::string ProgressText(const ProgressCounts& counts, double elapsedSeconds) {
  const double rate = elapsedSeconds > 0 ? static_cast<double>(counts.bytes) / (1024.0 * 1024.0) / elapsedSeconds : 0;
  const std::string left = counts.done > 0
                               ? FormatDuration(elapsedSeconds * static_cast<double>(counts.total - counts.done) /
                                                static_cast<double>(counts.done))
                               : std::string("?");
  char text[160];
  std::snprintf(text, sizeof text, "quorlix: %zu/%zu files, %zu failed, %.1f MiB/s, %s elapsed, %s left", counts.done,
                counts.total, counts.failed, rate, FormatDuration(elapsedSeconds).c_str(), left.c_str());
  return text;
}

ProgressLine::ProgressLine(bool shown, std::size_t total) : m_shown(shown), m_total(total) {}

void ProgressLine::Draw(bool force) {
  if (!m_shown) return;
  const Clock::time_point now = Clock::now();
  if (!force && now - m_lastDraw < std::chrono::milliseconds(100)) return;
  m_lastDraw = now;
  const ProgressCounts counts{m_doneInputs.load(std::memory_order_relaxed), m_total,
                              m_doneFailures.load(std::memory_order_relaxed),
                              m_doneBytes.load(std::memory_order_relaxed)};
  std::fprintf(stderr, "\r\x1b[K%s",
               ProgressText(counts, std::chrono::duration<double>(now - m_start).count()).c_str());
  std::fflush(stderr);
  m_onScreen = true;
}

void ProgressLine::Clear() {
  if (!m_onScreen) return;
  std::fputs("\r\x1b[K", stderr);
  m_onScreen = false;
}
