// The run. With one thread, the caller's thread reads every input and writes its
// rows. With more, worker threads read inputs in input order, each into a slot
// of its own, while the caller's thread takes the slots in input order: it
// writes each slot's rows (the long form) or merges its cells (the wide form)
// and reports the input. The input at the head of that order is written as it
// is read, so one long filing goes out in pieces; the inputs after it wait in
// their slots, at most kInputsAhead of them, each holding at most
// kHeldBytesPerInput of rows before its worker waits for its turn.
#include "schedules/schedule_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "schedules/schedule_input.h"
#include "schedules/schedule_reader.h"
#include "schedules/schedule_table.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMostThreads = 1024;
constexpr std::size_t kInputsAhead = 128;
constexpr std::size_t kInputsPerWake = 32;
constexpr std::size_t kInputsPerClaim = 4;
constexpr std::size_t kHeldBytesPerInput = std::size_t{16} << 20;
// An input that took this many bytes to read (an archive, a long filing) is
// reported as soon as it is read, not with a batch: the caller hears of it, and
// can stop the run, without waiting for a batch of such inputs.
constexpr std::uint64_t kReportAtOnceBytes = std::uint64_t{16} << 20;

// Thrown through a reading to end it when the run stops; it is no
// std::exception, so the reader lets it pass.
struct RunStopped {};

// The caller's write callback, fed in pieces of at most kTablePieceBytes.
class TableWriter final : public ChunkSink {
 public:
  TableWriter(QUORLIX_WRITE_FN write, void* pContext) : m_write(write), m_pContext(pContext) {
    m_buffer.reserve(kTablePieceBytes);
  }

  void TakeChunk(std::string& chunk) override { Write(chunk); }

  void Write(std::string_view bytes) {
    if (m_buffer.size() + bytes.size() < kTablePieceBytes) {
      m_buffer += bytes;
      return;
    }
    Flush();
    if (bytes.size() < kTablePieceBytes) m_buffer += bytes;
    else Pass(bytes);
  }

  void Flush() {
    Pass(m_buffer);
    m_buffer.clear();
  }

  bool Failed() const { return m_bFailed; }

 private:
  void Pass(std::string_view bytes) {
    for (std::size_t nDone = 0; nDone < bytes.size() && !m_bFailed; nDone += kTablePieceBytes) {
      const std::size_t nPiece = std::min(kTablePieceBytes, bytes.size() - nDone);
      if (m_write(m_pContext, bytes.data() + nDone, nPiece) != 0) m_bFailed = true;
    }
  }

  QUORLIX_WRITE_FN m_write;
  void* m_pContext;
  std::string m_buffer;
  bool m_bFailed = false;
};

// ---- Inputs that name one file ----

// Which inputs name the file of an earlier input, told before any is read: a
// file is read once, however many inputs reach it. Held as the repeats alone,
// since most lists have none.
class RepeatedInputs {
 public:
  RepeatedInputs(const char* const* paths, std::size_t count) {
    struct Named {
      FileKey key;
      std::size_t index;
    };
    std::vector<Named> named;
    named.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      FileKey key;
      if (FindFileKey(paths[i], key)) named.push_back({key, i});
    }
    std::ranges::sort(
        named, [](const Named& a, const Named& b) { return a.key != b.key ? a.key < b.key : a.index < b.index; });
    for (std::size_t i = 1; i < named.size(); ++i) {
      std::size_t nFirst = i - 1;
      while (i < named.size() && named[i].key == named[nFirst].key)
        m_repeats.push_back({named[i++].index, named[nFirst].index});
    }
    std::ranges::sort(m_repeats);
  }

  // The first input that names the same file as input index: index itself but for a repeat.
  std::size_t FirstOf(std::size_t index) const {
    const auto it = std::ranges::lower_bound(m_repeats, std::pair{index, std::size_t{0}});
    return it != m_repeats.end() && it->first == index ? it->second : index;
  }

 private:
  std::vector<std::pair<std::size_t, std::size_t>> m_repeats;  // (input, the first of its file), by input
};

int PackingOf(Packing packing) {
  switch (packing) {
    case Packing::kPlain: return QUORLIX_PACKING_NONE;
    case Packing::kCompressed: return QUORLIX_PACKING_COMPRESSED;
    case Packing::kArchive: return QUORLIX_PACKING_ARCHIVE;
  }
  return QUORLIX_PACKING_NONE;
}

// ---- Reading ----

// One thread's means of reading inputs into their part of the table.
class InputTableReader final : public ScheduleSink {
 public:
  explicit InputTableReader(bool bWide)
      : m_bWide(bWide), m_reader(*this), m_pBlock(AllocateByteBuffer(kScheduleBlockBytes)) {}

  // Reads one input: the long form's rows go to chunks, their last piece stays
  // in Rest(); the wide form's cells go to wide; the words of a problem to
  // problem (the input's problem is left null). An input that repeats an earlier
  // one (nFirst) is not read. Only RunStopped, from chunks, passes out.
  QUORLIX_SCHEDULES_INPUT Read(std::size_t index, std::size_t nFirst, const char* pszPath, ChunkSink& chunks,
                               WideInput& wide, std::string& problem) {
    QUORLIX_SCHEDULES_INPUT input{};
    input.index = index;
    input.path = pszPath;
    input.first_index = nFirst;
    problem.clear();
    if (m_bWide) wide.Clear();
    if (nFirst != index) return input;
    const Clock::time_point start = Clock::now();
    try {
      if (m_bWide) m_wide.StartInput(pszPath, wide);
      else m_long.StartInput(pszPath, chunks);
      ReadScheduleInput(pszPath, m_reader, m_pBlock, m_reading);
      input.status = m_reading.status;
      input.bytes = m_reading.nBytesRead;
      input.packing = PackingOf(m_reading.packing);
      input.members = m_reading.nMembers;
      input.filings = m_reading.nFilings;
      input.filings_with_schedules = m_reading.nFilingsWithSchedules;
      problem.swap(m_reading.problem);
    } catch (const std::exception&) {
      input.status = QUORLIX_FILING_DECODE_FAILED;  // no memory for the rows
    }
    if (m_bWide) {
      input.schedules = wide.rows.size();
      input.values = wide.nValues;
    } else {
      input.schedules = m_long.Schedules();
      input.values = m_long.Values();
    }
    input.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return input;
  }

  void TakeDocument(const SubmissionHeader& header, const ScheduleDocument& document) override {
    if (m_bWide) m_wide.TakeDocument(header, document);
    else m_long.TakeDocument(header, document);
  }

  std::string& Rest() { return m_long.Rest(); }

 private:
  const bool m_bWide;
  ScheduleReader m_reader;
  ByteBuffer m_pBlock;
  InputReading m_reading;
  LongTable m_long;
  WideSink m_wide;
};

// What an input's status is when there was no memory to read it.
QUORLIX_SCHEDULES_INPUT NoMemoryFor(std::size_t index, std::size_t nFirst, const char* pszPath) {
  QUORLIX_SCHEDULES_INPUT input{};
  input.index = index;
  input.path = pszPath;
  input.first_index = nFirst;
  if (nFirst == index) input.status = QUORLIX_FILING_DECODE_FAILED;
  return input;
}

// Points the input at its problem's words, which live as long as the call of on_input needs.
void AttachProblem(QUORLIX_SCHEDULES_INPUT& input, const std::string& problem) {
  input.problem = problem.empty() ? nullptr : problem.c_str();
}

// ---- On the caller's thread alone ----

class DirectChunks final : public ChunkSink {
 public:
  explicit DirectChunks(TableWriter& writer) : m_writer(writer) {}
  void TakeChunk(std::string& chunk) override {
    m_writer.Write(chunk);
    if (m_writer.Failed()) throw RunStopped{};
  }

 private:
  TableWriter& m_writer;
};

int RunOnCallerThread(const char* const* paths, std::size_t count, const RepeatedInputs& repeats, bool bWide,
                      TableWriter& writer, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext) {
  InputTableReader reader(bWide);
  DirectChunks chunks(writer);
  WideInput wide;
  WideTable table;
  std::string problem;
  int nStatus = QUORLIX_SCHEDULES_OK;
  for (std::size_t i = 0; i < count; ++i) {
    QUORLIX_SCHEDULES_INPUT input;
    try {
      input = reader.Read(i, repeats.FirstOf(i), paths[i], chunks, wide, problem);
    } catch (const RunStopped&) {
      return QUORLIX_SCHEDULES_OUTPUT_ERROR;
    }
    AttachProblem(input, problem);
    writer.Write(reader.Rest());
    reader.Rest().clear();
    if (writer.Failed()) return QUORLIX_SCHEDULES_OUTPUT_ERROR;
    if (bWide) table.Merge(wide);
    if (onInput && onInput(pInputContext, &input) != 0) {
      nStatus = QUORLIX_SCHEDULES_STOPPED;
      break;
    }
  }
  if (bWide) table.Write(writer);
  return nStatus;
}

// ---- On worker threads ----

class ParallelRun {
 public:
  ParallelRun(const char* const* paths, std::size_t count, const RepeatedInputs& repeats, bool bWide,
              TableWriter& writer)
      : m_paths(paths), m_count(count), m_repeats(repeats), m_bWide(bWide), m_writer(writer), m_slots(kInputsAhead) {}

  // Starts up to nWorkers threads; false when none would start.
  bool Start(std::size_t nWorkers);
  int Run(QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext);
  // Stops the workers after the inputs in flight and waits for them.
  void Finish();

 private:
  struct Slot {
    std::vector<std::string> chunks;
    std::size_t nHeldBytes = 0;
    bool bDone = false;
    QUORLIX_SCHEDULES_INPUT input{};
    std::string problem;
    WideInput wide;
  };

  // The chunks of input index go to its slot.
  class SlotChunks final : public ChunkSink {
   public:
    SlotChunks(ParallelRun& run, std::size_t index) : m_run(run), m_index(index) {}
    void TakeChunk(std::string& chunk) override { m_run.Publish(m_index, chunk); }

   private:
    ParallelRun& m_run;
    std::size_t m_index;
  };

  Slot& SlotOf(std::size_t index) { return m_slots[index % kInputsAhead]; }
  void Work();
  void Publish(std::size_t index, std::string& chunk);
  // The input is read; rest holds its last rows.
  void Complete(std::size_t index, const QUORLIX_SCHEDULES_INPUT& input, std::string& rest);
  // An emptied string in place of one that was moved away, with the memory of a written chunk where there is one.
  void TakeSpareChunk(std::string& chunk) {
    chunk.clear();
    if (m_spareChunks.empty()) return;
    chunk.swap(m_spareChunks.back());
    m_spareChunks.pop_back();
  }
  // Inputs a worker takes at once: a few, to take the lock less often, but never
  // so many that the last inputs (large ones, often) go to one worker alone.
  std::size_t ClaimSize() const {
    return std::clamp<std::size_t>((m_count - m_nNext) / (2 * m_nWorkers), 1, kInputsPerClaim);
  }
  bool WriterMayGo();
  void WaitAsWorker(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready);
  int Report(std::size_t index, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext, WideTable& table);

  const char* const* m_paths;
  const std::size_t m_count;
  const RepeatedInputs& m_repeats;
  const bool m_bWide;
  TableWriter& m_writer;

  std::mutex m_mutex;
  std::condition_variable m_workersWake;   // the head moved, or the run stops
  std::condition_variable m_writerWake;    // see WriterMayGo
  std::vector<Slot> m_slots;               // input i in m_slots[i % kInputsAhead]
  std::vector<std::string> m_spareChunks;  // written chunks, their memory kept for new ones
  std::size_t m_nNext = 0;                 // the next input to take
  std::size_t m_nHead = 0;                 // the first input not yet reported
  std::size_t m_nCompleted = 0;            // inputs read so far
  std::size_t m_nWaitingWorkers = 0;
  std::size_t m_nWorkers = 1;  // asked for
  bool m_bStop = false;
  std::atomic<bool> m_bStopping{false};  // m_bStop, for a worker between its inputs
  bool m_bWriterWaits = false;
  std::vector<std::jthread> m_workers;
};

bool ParallelRun::Start(std::size_t nWorkers) {
  m_nWorkers = nWorkers;
  for (std::size_t w = 0; w < nWorkers; ++w) {
    try {
      m_workers.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      break;  // fewer threads than asked for still do all the work
    }
  }
  return !m_workers.empty();
}

// The caller's thread goes on when the head, still being read, has rows to
// write, or once the head is read and either a batch of inputs after it is read
// too, or a worker waits for the head to move, or the head was a large input:
// so it wakes once for many small inputs, not for each (a read head's rows wait
// for the batch).
bool ParallelRun::WriterMayGo() {
  const Slot& head = SlotOf(m_nHead);
  if (!head.bDone) return !head.chunks.empty();
  return m_nWaitingWorkers > 0 || head.input.bytes >= kReportAtOnceBytes ||
         m_nCompleted >= std::min(m_count, m_nHead + kInputsPerWake);
}

void ParallelRun::WaitAsWorker(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready) {
  if (ready()) return;
  ++m_nWaitingWorkers;
  if (m_bWriterWaits && WriterMayGo()) m_writerWake.notify_one();
  m_workersWake.wait(lock, ready);
  --m_nWaitingWorkers;
}

void ParallelRun::Work() {
  // Without memory for its reader, a worker still takes its inputs, so the run
  // ends; each gets the status of no memory.
  std::unique_ptr<InputTableReader> pReader;
  try {
    pReader = std::make_unique<InputTableReader>(m_bWide);
  } catch (const std::bad_alloc&) {
  }
  std::string noRows;
  for (;;) {
    std::size_t nFirst = 0;
    std::size_t nEnd = 0;
    {
      std::unique_lock lock(m_mutex);
      WaitAsWorker(lock, [this] { return m_bStop || m_nNext == m_count || m_nNext < m_nHead + kInputsAhead; });
      if (m_bStop || m_nNext == m_count) return;
      nFirst = m_nNext;
      nEnd = std::min({m_count, m_nHead + kInputsAhead, nFirst + ClaimSize()});
      m_nNext = nEnd;
    }
    for (std::size_t index = nFirst; index < nEnd; ++index) {
      // A stopped run reads no more: the inputs claimed but not begun stay unread.
      if (m_bStopping.load(std::memory_order_relaxed)) return;
      const std::size_t nFirstOfFile = m_repeats.FirstOf(index);
      if (!pReader) {
        Complete(index, NoMemoryFor(index, nFirstOfFile, m_paths[index]), noRows);
        continue;
      }
      SlotChunks chunks(*this, index);
      try {
        // The slot's problem and cells are the worker's until it is complete.
        Slot& slot = SlotOf(index);
        const QUORLIX_SCHEDULES_INPUT input =
            pReader->Read(index, nFirstOfFile, m_paths[index], chunks, slot.wide, slot.problem);
        Complete(index, input, pReader->Rest());
      } catch (const RunStopped&) {
        return;
      }
    }
  }
}

// An input's rows wait in its slot; past kHeldBytesPerInput, its worker waits
// until the input is at the head, whose rows the caller's thread writes as they come.
void ParallelRun::Publish(std::size_t index, std::string& chunk) {
  std::unique_lock lock(m_mutex);
  if (m_bStop) throw RunStopped{};
  Slot& slot = SlotOf(index);
  slot.nHeldBytes += chunk.size();
  slot.chunks.push_back(std::move(chunk));
  TakeSpareChunk(chunk);
  if (m_bWriterWaits && index == m_nHead) m_writerWake.notify_one();
  WaitAsWorker(lock, [&] { return m_bStop || index == m_nHead || slot.nHeldBytes <= kHeldBytesPerInput; });
  if (m_bStop) throw RunStopped{};
}

void ParallelRun::Complete(std::size_t index, const QUORLIX_SCHEDULES_INPUT& input, std::string& rest) {
  const std::lock_guard lock(m_mutex);
  Slot& slot = SlotOf(index);
  if (!rest.empty()) {
    slot.chunks.push_back(std::move(rest));
    TakeSpareChunk(rest);
  }
  slot.input = input;
  slot.bDone = true;
  ++m_nCompleted;
  if (m_bWriterWaits && WriterMayGo()) m_writerWake.notify_one();
}

// Writes what is left of a read input's rows, merges its cells and reports it;
// the slot is the caller's thread's alone from its bDone until the head moves past it.
int ParallelRun::Report(std::size_t index, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext, WideTable& table) {
  Slot& slot = SlotOf(index);
  for (const std::string& chunk : slot.chunks) m_writer.Write(chunk);
  if (m_writer.Failed()) return QUORLIX_SCHEDULES_OUTPUT_ERROR;
  if (m_bWide) table.Merge(slot.wide);
  QUORLIX_SCHEDULES_INPUT input = slot.input;
  AttachProblem(input, slot.problem);
  return onInput && onInput(pInputContext, &input) != 0 ? QUORLIX_SCHEDULES_STOPPED : QUORLIX_SCHEDULES_OK;
}

int ParallelRun::Run(QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext) {
  WideTable table;
  std::vector<std::string> chunks;
  int nStatus = QUORLIX_SCHEDULES_OK;
  while (m_nHead < m_count && nStatus == QUORLIX_SCHEDULES_OK) {
    std::size_t nReadUpTo = m_nHead;  // [m_nHead, nReadUpTo) are read
    {
      std::unique_lock lock(m_mutex);
      m_bWriterWaits = true;
      m_writerWake.wait(lock, [this] { return WriterMayGo(); });
      m_bWriterWaits = false;
      Slot& head = SlotOf(m_nHead);
      if (!head.bDone) {
        chunks.swap(head.chunks);
        head.nHeldBytes = 0;
      }
      while (nReadUpTo < m_count && nReadUpTo < m_nHead + kInputsAhead && SlotOf(nReadUpTo).bDone) ++nReadUpTo;
    }
    for (const std::string& chunk : chunks) m_writer.Write(chunk);
    if (m_writer.Failed()) return QUORLIX_SCHEDULES_OUTPUT_ERROR;
    std::size_t nReported = m_nHead;
    while (nReported < nReadUpTo && nStatus == QUORLIX_SCHEDULES_OK)
      nStatus = Report(nReported++, onInput, pInputContext, table);
    if (nStatus == QUORLIX_SCHEDULES_OUTPUT_ERROR) return nStatus;
    {
      const std::lock_guard lock(m_mutex);
      for (std::size_t i = m_nHead; i < nReported; ++i) {
        Slot& slot = SlotOf(i);
        for (std::string& chunk : slot.chunks) chunks.push_back(std::move(chunk));
        slot.chunks.clear();
        slot.nHeldBytes = 0;
        slot.bDone = false;
        slot.wide.Clear();
      }
      // Written chunks keep their memory for the workers' next ones.
      for (std::string& chunk : chunks) {
        if (m_spareChunks.size() >= kInputsAhead) break;
        chunk.clear();
        m_spareChunks.push_back(std::move(chunk));
      }
      m_nHead = nReported;
      if (nStatus != QUORLIX_SCHEDULES_OK) m_bStop = true;
      m_bStopping = m_bStop;
    }
    chunks.clear();
    m_workersWake.notify_all();
  }
  if (m_bWide) table.Write(m_writer);
  return nStatus;
}

void ParallelRun::Finish() {
  {
    const std::lock_guard lock(m_mutex);
    m_bStop = true;
    m_bStopping = true;
  }
  m_workersWake.notify_all();
  m_workers.clear();  // joins
}

std::size_t ThreadsFor(unsigned nJobs, std::size_t count) {
  std::size_t nThreads = nJobs != 0 ? nJobs : std::max(1u, std::thread::hardware_concurrency());
  return std::min({nThreads, count, kMostThreads});
}

}  // namespace

int WriteScheduleTable(const char* const* paths, std::size_t count, bool bWide, unsigned nJobs, QUORLIX_WRITE_FN write,
                       void* pWriteContext, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext) {
  TableWriter writer(write, pWriteContext);
  if (!bWide) {
    std::string header;
    LongTable::AppendHeader(header);
    writer.Write(header);
  }
  int nStatus = QUORLIX_SCHEDULES_OK;
  const RepeatedInputs repeats(paths, count);
  const std::size_t nThreads = ThreadsFor(nJobs, count);
  std::optional<ParallelRun> parallel;
  if (nThreads > 1) {
    parallel.emplace(paths, count, repeats, bWide, writer);
    if (!parallel->Start(nThreads)) parallel.reset();
  }
  if (parallel) {
    try {
      nStatus = parallel->Run(onInput, pInputContext);
    } catch (...) {
      parallel->Finish();
      throw;
    }
    parallel->Finish();
  } else {
    nStatus = RunOnCallerThread(paths, count, repeats, bWide, writer, onInput, pInputContext);
  }
  if (nStatus == QUORLIX_SCHEDULES_OUTPUT_ERROR) return nStatus;
  writer.Flush();
  return writer.Failed() ? QUORLIX_SCHEDULES_OUTPUT_ERROR : nStatus;
}
