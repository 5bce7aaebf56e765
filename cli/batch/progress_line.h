// The batch's progress line on stderr: files done, failures, MiB/s, the time
// elapsed and the time left, redrawn in place at most ten times a second.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

// What the line counts: inputs finished in any order, ahead of the results that
// are written in input order.
struct ProgressCounts {
  std::size_t done = 0;
  std::size_t total = 0;
  std::size_t failed = 0;
  std::uint64_t bytes = 0;
};

// The line's text, without the escapes that redraw it: "quorlix: 3/10 files,
// 1 failed, 2.5 MiB/s, 0:04 elapsed, 0:09 left". The time left assumes the
// inputs to come take as long as those done; it is "?" before the first is done.
std::string ProgressText(const ProgressCounts& counts, double elapsedSeconds);

class ProgressLine {
 public:
  // shown: whether the line is drawn at all; the counts are kept either way.
  ProgressLine(bool shown, std::size_t total);

  // Counts one input as finished; any thread may call it.
  void CountDone(std::uint64_t bytes, bool failed) {
    m_doneBytes.fetch_add(bytes, std::memory_order_relaxed);
    if (failed) m_doneFailures.fetch_add(1, std::memory_order_relaxed);
    m_doneInputs.fetch_add(1, std::memory_order_relaxed);
  }

  // Sets the counts of inputs finished, as the library counted them.
  void SetCounts(std::size_t done, std::size_t failed, std::uint64_t bytes) {
    m_doneBytes.store(bytes, std::memory_order_relaxed);
    m_doneFailures.store(failed, std::memory_order_relaxed);
    m_doneInputs.store(done, std::memory_order_relaxed);
  }

  // The rest is for one thread: it draws the line, and clears it before another
  // line is printed on the terminal.
  bool IsShown() const { return m_shown; }
  // Draws the line when it is shown and the last drawing is 100 ms old, or when forced.
  void Draw(bool force);
  void Clear();
  // Seconds since the line was made, which is when the batch's work began.
  double ElapsedSeconds() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }

 private:
  using Clock = std::chrono::steady_clock;

  const bool m_shown;
  const std::size_t m_total;
  std::atomic<std::size_t> m_doneInputs{0};
  std::atomic<std::size_t> m_doneFailures{0};
  std::atomic<std::uint64_t> m_doneBytes{0};
  const Clock::time_point m_start = Clock::now();
  Clock::time_point m_lastDraw = m_start - std::chrono::seconds(1);
  bool m_onScreen = false;
};
