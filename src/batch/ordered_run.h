// The ordered parallel run: the one scheduler of the library. Worker threads do
// the work of each index of a run; the calling thread takes the finished
// indexes in index order. The batch engine runs its conversions on it, the
// schedules' table its readings.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace batch {

// What a run does with each index.
class OrderedJob {
 public:
  // Does index's work on worker number worker (below the workers asked for),
  // or on the calling thread as worker 0 in a run without workers. True asks
  // the calling thread to take it without waiting for a batch of others to
  // finish (a large input). Throws nothing.
  virtual bool Work(std::size_t index, std::size_t worker) = 0;
  // On the calling thread, in index order, once Work(index) has returned and
  // every earlier index is taken. False stops the run.
  virtual bool Take(std::size_t index) = 0;
  // On the calling thread, when a worker asked for it (OrderedRun::WakeCaller)
  // while the first index not taken is still at work. False stops the run.
  virtual bool TakeEarly(std::size_t /*head*/) { return true; }
  // On the calling thread at least every OrderedRunSettings::pollEvery, and once
  // more at the end. False stops the run.
  virtual bool Poll() { return true; }
  // When the run stops, before it waits for its workers: a worker that waits
  // on the job must be let go. Called on the calling thread.
  virtual void Stopping() {}

 protected:
  ~OrderedJob() = default;
};

// How workers claim indexes.
enum class ClaimOrder : std::uint8_t {
  // A few at a time, in index order, at most a window ahead of the first index
  // not taken: what waits to be taken is bounded.
  kInOrder,
  // Each worker a range of its own, and a worker whose range is done takes the
  // second half of the largest range left. The workers so stay apart: in one
  // folder, the file system makes them take turns for every file made.
  kSpread,
};

struct OrderedRunSettings {
  std::size_t count = 0;
  std::size_t workers = 1;  // 1, or none that start: every index on the calling thread
  ClaimOrder claims = ClaimOrder::kInOrder;
  std::size_t window = 128;                // kInOrder's
  std::chrono::milliseconds pollEvery{0};  // 0: Poll is never called
};

class OrderedRun {
 public:
  OrderedRun(OrderedJob& job, const OrderedRunSettings& settings);
  ~OrderedRun();
  OrderedRun(const OrderedRun&) = delete;
  OrderedRun& operator=(const OrderedRun&) = delete;

  // Runs every index; true when each was taken, false when the run stopped.
  // Returns once the workers have ended: what one had begun is finished.
  bool Run();
  // From a worker: the calling thread should look at the index at work first in
  // line (OrderedJob::TakeEarly), or at what is finished.
  void WakeCaller();
  // From a worker about to wait, on the job, for the indexes before its own to
  // be taken; until WorkerGoesOn, the calling thread takes each as soon as it is done.
  void WorkerWaits();
  void WorkerGoesOn();

 private:
  bool RunOnCallingThread();
  bool TakeInOrder();
  void Work(std::size_t worker);
  bool Claim(std::size_t worker, std::size_t& first, std::size_t& end);
  // False once the run stops.
  bool Complete(std::size_t index, bool takeAtOnce);
  bool CallerMayGo() const;
  bool IsDone(std::size_t index) const { return m_done[index % m_done.size()] != 0; }
  bool Stop();
  void Join();
  void StopAndJoin();

  OrderedJob& m_job;
  const OrderedRunSettings m_settings;

  std::mutex m_mutex;
  std::condition_variable m_workersWake;  // the head moved, or the run stops
  std::condition_variable m_callerWake;   // see CallerMayGo
  std::vector<std::uint8_t> m_done;       // index i's in m_done[i % size]: a window's, or every index's
  struct Range {
    std::size_t next;
    std::size_t end;
  };
  std::vector<Range> m_ranges;  // kSpread's, one per worker
  std::size_t m_claimers = 1;   // the workers asked for
  std::size_t m_next = 0;       // kInOrder: the next index to claim
  std::size_t m_head = 0;       // the first index not taken
  std::size_t m_completed = 0;  // indexes whose work is done, taken or not
  std::size_t m_liveWorkers = 0;
  std::size_t m_waitingWorkers = 0;  // for the window to move, or on the job
  bool m_callerWaits = false;
  bool m_wakeAsked = false;
  bool m_takeAtOnce = false;
  bool m_stop = false;
  bool m_stopped = false;  // Stopping was called
  std::vector<std::thread> m_workers;
};

}  // namespace batch
