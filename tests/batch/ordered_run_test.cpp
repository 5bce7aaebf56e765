#include "batch/ordered_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace batch;
using namespace std::chrono_literals;

// Records what the run did: which worker did what, the order of taking, and
// how far ahead of the taking the work ran.
class Recorder : public OrderedJob {
 public:
  explicit Recorder(std::size_t count) : m_worked(count) {}

  bool Work(std::size_t index, std::size_t worker) override {
    {
      const std::lock_guard lock(m_mutex);
      m_workers.insert(worker);
      const std::size_t taken = m_takenCount.load();
      m_mostAhead = std::max(m_mostAhead, index - std::min(index, taken));
      if (m_firstOfWorker.size() <= worker) m_firstOfWorker.resize(worker + 1, SIZE_MAX);
      if (m_firstOfWorker[worker] == SIZE_MAX) m_firstOfWorker[worker] = index;
    }
    if (m_allWorkers > 0) {
      // No work is done before every worker has claimed its first index.
      std::unique_lock lock(m_mutex);
      m_arrived.notify_all();
      m_arrived.wait_for(lock, 5s, [&] { return m_workers.size() == m_allWorkers; });
    }
    // Uneven work, so that indexes finish out of order.
    std::this_thread::sleep_for(std::chrono::microseconds((index * 7919) % 300));
    m_worked[index] = 1;
    return false;
  }
  bool Take(std::size_t index) override {
    EXPECT_EQ(m_worked[index].load(), 1) << index;
    m_taken.push_back(index);
    ++m_takenCount;
    return m_stopAt == SIZE_MAX || index < m_stopAt;
  }
  void Stopping() override { ++m_stoppings; }

  std::vector<std::atomic<int>> m_worked;
  std::vector<std::size_t> m_taken;  // the calling thread's
  std::atomic<std::size_t> m_takenCount{0};
  std::size_t m_stopAt = SIZE_MAX;
  std::mutex m_mutex;
  std::set<std::size_t> m_workers;
  std::vector<std::size_t> m_firstOfWorker;
  std::size_t m_mostAhead = 0;
  int m_stoppings = 0;
  std::size_t m_allWorkers = 0;
  std::condition_variable m_arrived;
};

std::vector<std::size_t> UpTo(std::size_t count) {
  std::vector<std::size_t> indexes(count);
  for (std::size_t i = 0; i < count; ++i) indexes[i] = i;
  return indexes;
}

TEST(OrderedRun, TakesEveryIndexOnceInOrderForAnyWorkersAndClaims) {
  for (const ClaimOrder claims : {ClaimOrder::kInOrder, ClaimOrder::kSpread}) {
    for (const std::size_t workers : {1u, 2u, 3u, 8u}) {
      for (const std::size_t count : {0u, 1u, 2u, 7u, 500u}) {
        Recorder job(count);
        OrderedRun run(job, {count, workers, claims, 16, {}});
        EXPECT_TRUE(run.Run());
        EXPECT_EQ(job.m_taken, UpTo(count)) << workers << " workers, " << count;
        EXPECT_EQ(job.m_stoppings, 0);
        if (claims == ClaimOrder::kInOrder) {
          EXPECT_LT(job.m_mostAhead, 16u) << "beyond the window";
        }
        if (count > 0) {
          EXPECT_LT(*job.m_workers.rbegin(), std::max<std::size_t>(1, std::min(workers, count)));
        }
      }
    }
  }
}

TEST(OrderedRun, SpreadWorkersStartInRangesOfTheirOwn) {
  Recorder job(400);
  job.m_allWorkers = 4;
  OrderedRun run(job, {400, 4, ClaimOrder::kSpread, 0, {}});
  EXPECT_TRUE(run.Run());
  ASSERT_EQ(job.m_firstOfWorker.size(), 4u);
  for (std::size_t w = 0; w < 4; ++w) EXPECT_EQ(job.m_firstOfWorker[w], w * 100);
}

TEST(OrderedRun, AFalseTakeStopsTheRunAndBeginsNoMore) {
  for (const ClaimOrder claims : {ClaimOrder::kInOrder, ClaimOrder::kSpread}) {
    for (const std::size_t workers : {1u, 2u, 4u}) {
      Recorder job(1000);
      job.m_stopAt = 10;
      OrderedRun run(job, {1000, workers, claims, 8, {}});
      EXPECT_FALSE(run.Run());
      EXPECT_EQ(job.m_taken, UpTo(11));
      EXPECT_EQ(job.m_stoppings, 1);
      const auto Worked = [&] {
        return std::count_if(job.m_worked.begin(), job.m_worked.end(), [](auto& w) { return w == 1; });
      };
      // The workers have ended: nothing is worked on after the run returns.
      const auto worked = Worked();
      std::this_thread::sleep_for(5ms);
      EXPECT_EQ(Worked(), worked);
      // In order, no index is claimed past the window after the last taken.
      if (claims == ClaimOrder::kInOrder) {
        EXPECT_LE(worked, 11 + 8);
      }
    }
  }
}

// A job whose index 1 cannot finish before index 0 is taken, as the schedules'
// table holds a long input's rows until its turn: the run must take index 0
// although no batch of others is done.
class WaitsForItsTurn : public OrderedJob {
 public:
  OrderedRun* run = nullptr;
  bool Work(std::size_t index, std::size_t /*worker*/) override {
    if (index == 0) {
      std::this_thread::sleep_for(20ms);
      return false;
    }
    std::unique_lock lock(m_mutex);
    if (m_taken == 0) {
      lock.unlock();
      run->WorkerWaits();
      lock.lock();
      m_wake.wait(lock, [&] { return m_taken > 0 || m_stop; });
      lock.unlock();
      run->WorkerGoesOn();
    }
    return false;
  }
  bool Take(std::size_t index) override {
    {
      const std::lock_guard lock(m_mutex);
      m_taken = index + 1;
    }
    m_wake.notify_all();
    return true;
  }
  void Stopping() override {
    const std::lock_guard lock(m_mutex);
    m_stop = true;
    m_wake.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::size_t m_taken = 0;
  bool m_stop = false;
};

TEST(OrderedRun, AWorkerWaitingForItsTurnIsNeverLeftWaiting) {
  for (int round = 0; round < 20; ++round) {
    WaitsForItsTurn job;
    OrderedRun run(job, {2, 2, ClaimOrder::kInOrder, 128, {}});
    job.run = &run;
    EXPECT_TRUE(run.Run());
  }
}

// The first index in line hands over pieces while at work; the calling thread
// takes them as they come, before the index is done.
class HandsOverEarly : public OrderedJob {
 public:
  OrderedRun* run = nullptr;
  std::atomic<int> piecesGiven{0};
  int piecesTakenEarly = 0;
  bool Work(std::size_t index, std::size_t /*worker*/) override {
    if (index != 0) return false;
    for (int piece = 0; piece < 5; ++piece) {
      ++piecesGiven;
      run->WakeCaller();
      // Gives the calling thread time to look before the next piece.
      for (int i = 0; i < 200 && m_seen.load() < piecesGiven.load(); ++i) std::this_thread::sleep_for(1ms);
    }
    return true;
  }
  bool TakeEarly(std::size_t head) override {
    EXPECT_EQ(head, 0u);
    piecesTakenEarly = piecesGiven.load();
    m_seen = piecesTakenEarly;
    return true;
  }
  bool Take(std::size_t /*index*/) override { return true; }

 private:
  std::atomic<int> m_seen{0};
};

TEST(OrderedRun, TheFirstInLineIsLookedAtWhileAtWork) {
  HandsOverEarly job;
  OrderedRun run(job, {3, 2, ClaimOrder::kInOrder, 128, {}});
  job.run = &run;
  EXPECT_TRUE(run.Run());
  EXPECT_EQ(job.piecesTakenEarly, 5);
}

class PollsAndThrows : public OrderedJob {
 public:
  std::atomic<int> polls{0};
  bool stopOnPoll = false;
  bool throwOnTake = false;
  bool Work(std::size_t /*index*/, std::size_t /*worker*/) override {
    std::this_thread::sleep_for(2ms);
    return false;
  }
  bool Take(std::size_t /*index*/) override {
    if (throwOnTake) throw std::runtime_error("taken badly");
    return true;
  }
  bool Poll() override {
    ++polls;
    return !stopOnPoll;
  }
};

TEST(OrderedRun, PollsNowAndThenAndAFalsePollOrAThrowEndsTheRunWithItsWorkers) {
  for (const std::size_t workers : {1u, 2u}) {
    PollsAndThrows job;
    OrderedRun run(job, {40, workers, ClaimOrder::kSpread, 0, 1ms});
    EXPECT_TRUE(run.Run());
    EXPECT_GT(job.polls.load(), 0);

    PollsAndThrows stopping;
    stopping.stopOnPoll = true;
    OrderedRun stopped(stopping, {400, workers, ClaimOrder::kSpread, 0, 1ms});
    EXPECT_FALSE(stopped.Run());

    PollsAndThrows throwing;
    throwing.throwOnTake = true;
    OrderedRun thrown(throwing, {400, workers, ClaimOrder::kInOrder, 16, {}});
    EXPECT_THROW(thrown.Run(), std::runtime_error);
  }
}

}  // namespace
