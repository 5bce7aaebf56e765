// The calling thread sleeps until the first index not taken (the head) is done
// and either a batch of indexes after it is done too (in a run that does not
// poll), or a worker waits for the window to move, or the head asked to be taken
// at once; or until a worker asks for it, or the poll is due. So it wakes once
// for many small indexes, not for each.
#include "batch/ordered_run.h"

#include <algorithm>
#include <system_error>

namespace batch {
namespace {

using Clock = std::chrono::steady_clock;

// The calling thread takes this many done indexes at a wake, unless told sooner.
constexpr std::size_t kIndexesPerWake = 32;
// kInOrder: indexes a worker claims at once, to take the lock less often, but
// never so many that the last ones (large inputs, often) go to one worker alone.
constexpr std::size_t kMostPerClaim = 4;

}  // namespace

OrderedRun::OrderedRun(OrderedJob& job, const OrderedRunSettings& settings) : m_job(job), m_settings(settings) {
  const bool windowed = settings.claims == ClaimOrder::kInOrder && settings.window > 0;
  m_done.assign(std::max<std::size_t>(1, windowed ? std::min(settings.window, settings.count) : settings.count), 0);
}

OrderedRun::~OrderedRun() { StopAndJoin(); }

bool OrderedRun::Run() {
  const std::size_t workers = std::min(m_settings.workers, m_settings.count);
  if (workers <= 1) return RunOnCallingThread();
  for (std::size_t w = 0; w < workers; ++w)
    m_ranges.push_back({m_settings.count * w / workers, m_settings.count * (w + 1) / workers});
  m_claimers = workers;
  m_workers.reserve(workers);
  for (std::size_t w = 0; w < workers; ++w) {
    try {
      const std::lock_guard lock(m_mutex);
      m_workers.emplace_back([this, w] { Work(w); });
      ++m_liveWorkers;
    } catch (const std::system_error&) {
      break;  // fewer threads than asked for still do all the work
    }
  }
  // A range whose worker did not start is left to the others to take.
  if (m_workers.empty()) return RunOnCallingThread();
  bool finished = false;
  try {
    finished = TakeInOrder();
  } catch (...) {
    StopAndJoin();
    throw;
  }
  // Every index taken: the workers end as they find none left to claim.
  Join();
  return finished;
}

bool OrderedRun::RunOnCallingThread() {
  Clock::time_point lastPoll = Clock::now();
  for (std::size_t index = 0; index < m_settings.count; ++index) {
    m_job.Work(index, 0);
    m_head = index;
    if (!m_job.Take(index)) return Stop();
    // Polled when due, and once more at the end, as a run with workers is.
    const bool last = index + 1 == m_settings.count;
    if (m_settings.pollEvery.count() > 0 && (last || Clock::now() - lastPoll >= m_settings.pollEvery)) {
      lastPoll = Clock::now();
      if (!m_job.Poll()) return Stop();
    }
  }
  m_head = m_settings.count;
  return true;
}

bool OrderedRun::CallerMayGo() const {
  if (m_stop || m_liveWorkers == 0 || m_wakeAsked) return true;
  if (!IsDone(m_head)) return false;
  if (m_takeAtOnce || m_waitingWorkers > 0) return true;
  // A run that polls takes what is done when it polls: its workers, spread
  // apart, would otherwise wake the calling thread for nearly every index.
  return m_settings.pollEvery.count() == 0 && m_completed >= std::min(m_settings.count, m_head + kIndexesPerWake);
}

bool OrderedRun::TakeInOrder() {
  const std::size_t count = m_settings.count;
  const bool polls = m_settings.pollEvery.count() > 0;
  while (m_head < count) {
    std::size_t doneUpTo = m_head;  // [m_head, doneUpTo) are done
    bool early = false;
    bool stalled = false;
    {
      std::unique_lock lock(m_mutex);
      m_callerWaits = true;
      if (polls) m_callerWake.wait_for(lock, m_settings.pollEvery, [this] { return CallerMayGo(); });
      else m_callerWake.wait(lock, [this] { return CallerMayGo(); });
      m_callerWaits = false;
      early = m_wakeAsked && !IsDone(m_head);
      m_wakeAsked = m_takeAtOnce = false;
      while (doneUpTo < count && doneUpTo < m_head + m_done.size() && IsDone(doneUpTo)) ++doneUpTo;
      // Every worker ended with the head not done: a stop, or a worker that
      // could not go on. The indexes not done stay so.
      if (m_liveWorkers == 0 && doneUpTo == m_head) stalled = true;
    }
    if (stalled) return Stop();
    if (polls && !m_job.Poll()) return Stop();
    if (early && !m_job.TakeEarly(m_head)) return Stop();
    std::size_t taken = m_head;
    bool goOn = true;
    while (taken < doneUpTo && goOn) goOn = m_job.Take(taken++);
    {
      const std::lock_guard lock(m_mutex);
      for (std::size_t index = m_head; index < taken; ++index) m_done[index % m_done.size()] = 0;
      m_head = taken;
    }
    m_workersWake.notify_all();
    if (!goOn) return Stop();
  }
  return true;
}

bool OrderedRun::Claim(std::size_t worker, std::size_t& first, std::size_t& end) {
  std::unique_lock lock(m_mutex);
  if (m_settings.claims == ClaimOrder::kSpread) {
    Range& own = m_ranges[worker];
    if (own.next == own.end) {
      Range& largest = *std::ranges::max_element(m_ranges, {}, [](const Range& r) { return r.end - r.next; });
      const std::size_t left = largest.end - largest.next;
      if (left == 0 || m_stop) return false;
      const std::size_t taken = std::max<std::size_t>(1, left / 2);
      own = {largest.end - taken, largest.end};
      largest.end -= taken;
    }
    if (m_stop) return false;
    first = own.next++;
    end = first + 1;
    return true;
  }
  const std::size_t count = m_settings.count;
  const std::size_t window = m_done.size();
  const auto ready = [&] { return m_stop || m_next == count || m_next < m_head + window; };
  if (!ready()) {
    ++m_waitingWorkers;
    if (m_callerWaits && CallerMayGo()) m_callerWake.notify_one();
    m_workersWake.wait(lock, ready);
    --m_waitingWorkers;
  }
  if (m_stop || m_next == count) return false;
  first = m_next;
  end = std::min(
      {count, m_head + window, first + std::clamp<std::size_t>((count - m_next) / (2 * m_claimers), 1, kMostPerClaim)});
  m_next = end;
  return true;
}

bool OrderedRun::Complete(std::size_t index, bool takeAtOnce) {
  const std::lock_guard lock(m_mutex);
  m_done[index % m_done.size()] = 1;
  ++m_completed;
  if (takeAtOnce) m_takeAtOnce = true;
  if (m_callerWaits && CallerMayGo()) m_callerWake.notify_one();
  return !m_stop;
}

void OrderedRun::Work(std::size_t worker) {
  std::size_t first = 0;
  std::size_t end = 0;
  while (Claim(worker, first, end)) {
    // A stopped run begins no more: the indexes claimed but not begun stay undone.
    for (std::size_t index = first; index < end; ++index)
      if (!Complete(index, m_job.Work(index, worker))) break;
  }
  const std::lock_guard lock(m_mutex);
  --m_liveWorkers;
  if (m_callerWaits) m_callerWake.notify_one();
}

void OrderedRun::WakeCaller() {
  const std::lock_guard lock(m_mutex);
  m_wakeAsked = true;
  if (m_callerWaits) m_callerWake.notify_one();
}

void OrderedRun::WorkerWaits() {
  const std::lock_guard lock(m_mutex);
  ++m_waitingWorkers;
  if (m_callerWaits && CallerMayGo()) m_callerWake.notify_one();
}

void OrderedRun::WorkerGoesOn() {
  const std::lock_guard lock(m_mutex);
  --m_waitingWorkers;
}

bool OrderedRun::Stop() {
  {
    const std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_workersWake.notify_all();
  if (!m_stopped) {
    m_stopped = true;
    m_job.Stopping();
  }
  return false;
}

void OrderedRun::Join() {
  for (std::thread& worker : m_workers) worker.join();
  m_workers.clear();
}

void OrderedRun::StopAndJoin() {
  if (m_workers.empty()) return;
  Stop();
  Join();
}

}  // namespace batch
