// The run. With one thread, the caller's thread reads every input and writes its
// rows. With more, worker threads read inputs in input order, each into a slot
// of its own, while the caller's thread takes the slots in input order: it
// writes each slot's rows (the long form) or merges its part (the wide form's
// cells, the panel's candidates) and reports the input. The input at the head of that order is written as it
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
#include <unordered_map>
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
  // The status of a failed writer: the callback refused a piece, or threw.
  int FailedStatus() const { return m_bThrew ? QUORLIX_SCHEDULES_CALLBACK_FAILED : QUORLIX_SCHEDULES_OUTPUT_ERROR; }

 private:
  void Pass(std::string_view bytes) {
    for (std::size_t nDone = 0; nDone < bytes.size() && !m_bFailed; nDone += kTablePieceBytes) {
      const std::size_t nPiece = std::min(kTablePieceBytes, bytes.size() - nDone);
      try {
        if (m_write(m_pContext, bytes.data() + nDone, nPiece) != 0) m_bFailed = true;
      } catch (...) {
        m_bFailed = m_bThrew = true;
      }
    }
  }

  QUORLIX_WRITE_FN m_write;
  void* m_pContext;
  std::string m_buffer;
  bool m_bFailed = false;
  bool m_bThrew = false;
};

// Tells on_input of an input: QUORLIX_SCHEDULES_OK to go on, STOPPED when it
// asked to stop, CALLBACK_FAILED when an exception left it (caught here, at the
// library's edge, so that it never unwinds through the run).
int TellOfInput(QUORLIX_SCHEDULES_INPUT_FN onInput, void* pContext, const QUORLIX_SCHEDULES_INPUT& input) {
  if (!onInput) return QUORLIX_SCHEDULES_OK;
  try {
    return onInput(pContext, &input) != 0 ? QUORLIX_SCHEDULES_STOPPED : QUORLIX_SCHEDULES_OK;
  } catch (...) {
    return QUORLIX_SCHEDULES_CALLBACK_FAILED;
  }
}

// ---- Inputs that name one file ----

// The files the inputs name, by key, with the first input (in input order) that
// named each: a file is read once, however many inputs reach it. An input is
// registered once its file is open; once every input before it is, the first of
// its file is known for good.
class FileRegistry {
 public:
  explicit FileRegistry(std::size_t nInputs) { m_first.reserve(nInputs); }
  // Registers input index's file; returns the first input registered so far for
  // it (index itself when it is the first).
  std::size_t Register(const FileKey& key, std::size_t index) {
    const auto [it, bNew] = m_first.try_emplace(key, index);
    if (!bNew && index < it->second) it->second = index;
    return it->second;
  }
  // The first input that named the file of key, among those registered.
  std::size_t FirstOf(const FileKey& key) const { return m_first.at(key); }

 private:
  struct KeyHash {
    std::size_t operator()(const FileKey& key) const noexcept {
      return std::hash<std::uint64_t>{}(key.nIndex * 0x9E3779B97F4A7C15ull ^ key.nDevice);
    }
  };
  std::unordered_map<FileKey, std::size_t, KeyHash> m_first;
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

// One input's part of the wide form or the panel, as read; the long form's rows
// go out as they come.
struct InputPart {
  WideInput wide;
  PanelInput panel;

  void Clear() {
    wide.Clear();
    panel.Clear();
  }
};

// One thread's means of reading inputs into their part of the table.
class InputTableReader final : public ScheduleSink {
 public:
  explicit InputTableReader(const TableSettings& settings)
      : m_form(settings.form),
        m_reader(*this),
        m_pBlock(AllocateByteBuffer(kScheduleBlockBytes)),
        m_long(settings.guard, settings.bMarksColumn),
        m_wide(settings.guard),
        m_panel(settings.guard) {}

  // Reads one input: the long form's rows go to chunks, their last piece stays
  // in Rest(); the wide form's cells and the panel's candidates go to part; the
  // words of a problem to problem (the input's problem is left null). The gate
  // hears of the file once it is open and may pass it over (an input that
  // names the file of an earlier one). Only RunStopped, from chunks, passes out.
  QUORLIX_SCHEDULES_INPUT Read(std::size_t index, const char* pszPath, ChunkSink& chunks, InputPart& part,
                               std::string& problem, FileGate& gate) {
    QUORLIX_SCHEDULES_INPUT input{};
    input.index = index;
    input.path = pszPath;
    input.first_index = index;
    problem.clear();
    const Clock::time_point start = Clock::now();
    try {
      switch (m_form) {
        case TableForm::kLong: m_long.StartInput(pszPath, chunks); break;
        case TableForm::kWide: m_wide.StartInput(pszPath, part.wide); break;
        case TableForm::kPanel: m_panel.StartInput(part.panel); break;
      }
      ReadScheduleInput(pszPath, m_reader, m_pBlock, m_reading, &gate);
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
    switch (m_form) {
      case TableForm::kLong:
        input.schedules = m_long.Schedules();
        input.values = m_long.Values();
        break;
      case TableForm::kWide:
        input.schedules = part.wide.rows.size();
        input.values = part.wide.nValues;
        break;
      case TableForm::kPanel:
        input.schedules = part.panel.nSchedules;
        input.values = part.panel.nValues;
        break;
    }
    input.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return input;
  }

  void TakeDocument(const SubmissionHeader& header, const ScheduleDocument& document) override {
    switch (m_form) {
      case TableForm::kLong: m_long.TakeDocument(header, document); break;
      case TableForm::kWide: m_wide.TakeDocument(header, document); break;
      case TableForm::kPanel: m_panel.TakeDocument(header, document); break;
    }
  }

  std::string& Rest() { return m_long.Rest(); }

 private:
  const TableForm m_form;
  ScheduleReader m_reader;
  ByteBuffer m_pBlock;
  InputReading m_reading;
  LongTable m_long;
  WideSink m_wide;
  PanelSink m_panel;
};

// The table of the wide form or the panel, built on the caller's thread from the
// inputs' parts in input order and written once every input is read.
class WholeTable {
 public:
  WholeTable(const char* const* paths, const TableSettings& settings)
      : m_form(settings.form),
        m_pOtherTags(settings.pOtherTags),
        m_wide(settings.nMostTagColumns, settings.guard),
        m_panel(paths, settings.vintage, settings.guard, settings.nMostTagColumns) {}

  void Merge(const InputPart& part, std::size_t index) {
    if (m_form == TableForm::kWide) m_wide.Merge(part.wide);
    else if (m_form == TableForm::kPanel) m_panel.Merge(part.panel, index);
  }
  void Write(ChunkSink& out) {
    std::uint64_t nOtherTags = 0;
    if (m_form == TableForm::kWide) nOtherTags = m_wide.Write(out);
    else if (m_form == TableForm::kPanel) nOtherTags = m_panel.Write(out);
    if (m_pOtherTags) *m_pOtherTags = nOtherTags;
  }

 private:
  const TableForm m_form;
  std::uint64_t* const m_pOtherTags;
  WideTable m_wide;
  PanelTable m_panel;
};

// What an input's status is when there was no memory to read it.
QUORLIX_SCHEDULES_INPUT NoMemoryFor(std::size_t index, const char* pszPath) {
  QUORLIX_SCHEDULES_INPUT input{};
  input.index = index;
  input.path = pszPath;
  input.first_index = index;
  input.status = QUORLIX_FILING_DECODE_FAILED;
  return input;
}

// An input that names the file of input nFirst, an earlier one: it is not read
// again (or what was read of it goes), and says so.
QUORLIX_SCHEDULES_INPUT RepeatOf(std::size_t index, const char* pszPath, std::size_t nFirst) {
  QUORLIX_SCHEDULES_INPUT input{};
  input.index = index;
  input.path = pszPath;
  input.first_index = nFirst;
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

// On the caller's thread the inputs are read in input order, so the registry
// tells at once whether an input's file was an earlier one's.
class InOrderGate final : public FileGate {
 public:
  explicit InOrderGate(std::size_t nInputs) : m_registry(nInputs) {}
  void Start(std::size_t index) { m_nIndex = m_nFirst = index; }
  bool TakeFile(const FileKey& key) override {
    m_nFirst = m_registry.Register(key, m_nIndex);
    return m_nFirst == m_nIndex;
  }
  std::size_t First() const { return m_nFirst; }

 private:
  FileRegistry m_registry;
  std::size_t m_nIndex = 0;
  std::size_t m_nFirst = 0;
};

int RunOnCallerThread(const char* const* paths, std::size_t count, const TableSettings& settings, TableWriter& writer,
                      QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext) {
  InputTableReader reader(settings);
  DirectChunks chunks(writer);
  InputPart part;
  WholeTable table(paths, settings);
  InOrderGate gate(count);
  std::string problem;
  int nStatus = QUORLIX_SCHEDULES_OK;
  for (std::size_t i = 0; i < count; ++i) {
    QUORLIX_SCHEDULES_INPUT input;
    gate.Start(i);
    try {
      input = reader.Read(i, paths[i], chunks, part, problem, gate);
    } catch (const RunStopped&) {
      return writer.FailedStatus();
    }
    if (gate.First() != i) input = RepeatOf(i, paths[i], gate.First());
    AttachProblem(input, problem);
    writer.Write(reader.Rest());
    reader.Rest().clear();
    if (settings.bRowsBeforeReport) writer.Flush();
    if (writer.Failed()) return writer.FailedStatus();
    if (gate.First() == i) table.Merge(part, i);
    part.Clear();
    nStatus = TellOfInput(onInput, pInputContext, input);
    if (nStatus != QUORLIX_SCHEDULES_OK) break;
  }
  table.Write(writer);
  return nStatus;
}

// ---- On worker threads ----

class ParallelRun {
 public:
  ParallelRun(const char* const* paths, std::size_t count, const TableSettings& settings, TableWriter& writer)
      : m_paths(paths),
        m_count(count),
        m_settings(settings),
        m_writer(writer),
        m_slots(kInputsAhead),
        m_registry(count) {}

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
    InputPart part;
    FileKey key;  // of the input's file, once open
    bool bKeyKnown = false;
    std::size_t nFirst = 0;  // the first input of its file, once every earlier input is read
  };

  // Registers the file of input index; false when an earlier input's is the same.
  class SlotGate final : public FileGate {
   public:
    SlotGate(ParallelRun& run, std::size_t index) : m_run(run), m_index(index) {}
    bool TakeFile(const FileKey& key) override { return m_run.Register(m_index, key); }

   private:
    ParallelRun& m_run;
    std::size_t m_index;
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
  bool Register(std::size_t index, const FileKey& key);
  // With the run's lock held, and every input before index read: the first
  // input that names the file of input index (index itself for most).
  std::size_t FirstOfFile(std::size_t index) {
    const std::lock_guard lock(m_registryMutex);
    const Slot& slot = SlotOf(index);
    return slot.bKeyKnown ? m_registry.FirstOf(slot.key) : index;
  }
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
  int Report(std::size_t index, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext, WholeTable& table);

  const char* const* m_paths;
  const std::size_t m_count;
  const TableSettings m_settings;
  TableWriter& m_writer;

  std::mutex m_mutex;
  std::condition_variable m_workersWake;  // the head moved, or the run stops
  std::condition_variable m_writerWake;   // see WriterMayGo
  std::vector<Slot> m_slots;              // input i in m_slots[i % kInputsAhead]
  std::mutex m_registryMutex;
  FileRegistry m_registry;                 // the files of the inputs begun
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
    pReader = std::make_unique<InputTableReader>(m_settings);
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
      if (!pReader) {
        Complete(index, NoMemoryFor(index, m_paths[index]), noRows);
        continue;
      }
      SlotChunks chunks(*this, index);
      SlotGate gate(*this, index);
      try {
        // The slot's part and problem are the worker's until it is complete.
        Slot& slot = SlotOf(index);
        const QUORLIX_SCHEDULES_INPUT input =
            pReader->Read(index, m_paths[index], chunks, slot.part, slot.problem, gate);
        Complete(index, input, pReader->Rest());
      } catch (const RunStopped&) {
        return;
      }
    }
  }
}

// The registry has a lock of its own, which the caller's thread takes inside the
// run's lock and a worker alone, so that registering waits on no other work.
bool ParallelRun::Register(std::size_t index, const FileKey& key) {
  const std::lock_guard lock(m_registryMutex);
  Slot& slot = SlotOf(index);
  slot.key = key;
  slot.bKeyKnown = true;
  return m_registry.Register(key, index) == index;
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

// Writes what is left of a read input's rows, merges its part and reports it;
// the slot is the caller's thread's alone from its bDone until the head moves
// past it. An input that names an earlier one's file gives nothing.
int ParallelRun::Report(std::size_t index, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext, WholeTable& table) {
  Slot& slot = SlotOf(index);
  QUORLIX_SCHEDULES_INPUT input = slot.input;
  if (slot.nFirst != index) {
    input = RepeatOf(index, m_paths[index], slot.nFirst);
  } else {
    for (const std::string& chunk : slot.chunks) m_writer.Write(chunk);
    if (m_writer.Failed()) return m_writer.FailedStatus();
    table.Merge(slot.part, index);
    AttachProblem(input, slot.problem);
  }
  if (m_settings.bRowsBeforeReport) {
    m_writer.Flush();
    if (m_writer.Failed()) return m_writer.FailedStatus();
  }
  return TellOfInput(onInput, pInputContext, input);
}

int ParallelRun::Run(QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext) {
  WholeTable table(m_paths, m_settings);
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
        if (FirstOfFile(m_nHead) != m_nHead) chunks.clear();  // rows of a file an earlier input has given
      }
      // Every input before one read is read: the first of its file is known.
      while (nReadUpTo < m_count && nReadUpTo < m_nHead + kInputsAhead && SlotOf(nReadUpTo).bDone) {
        SlotOf(nReadUpTo).nFirst = FirstOfFile(nReadUpTo);
        ++nReadUpTo;
      }
    }
    for (const std::string& chunk : chunks) m_writer.Write(chunk);
    if (m_writer.Failed()) return m_writer.FailedStatus();
    std::size_t nReported = m_nHead;
    while (nReported < nReadUpTo && nStatus == QUORLIX_SCHEDULES_OK)
      nStatus = Report(nReported++, onInput, pInputContext, table);
    if (m_writer.Failed()) return m_writer.FailedStatus();
    {
      const std::lock_guard lock(m_mutex);
      for (std::size_t i = m_nHead; i < nReported; ++i) {
        Slot& slot = SlotOf(i);
        for (std::string& chunk : slot.chunks) chunks.push_back(std::move(chunk));
        slot.chunks.clear();
        slot.nHeldBytes = 0;
        slot.bDone = false;
        slot.bKeyKnown = false;  // the slot's next input is not claimed yet: no worker writes it
        slot.part.Clear();
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
  table.Write(m_writer);
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

int WriteScheduleTable(const char* const* paths, std::size_t count, const TableSettings& settings, unsigned nJobs,
                       QUORLIX_WRITE_FN write, void* pWriteContext, QUORLIX_SCHEDULES_INPUT_FN onInput,
                       void* pInputContext) {
  TableWriter writer(write, pWriteContext);
  if (settings.form == TableForm::kLong) {
    std::string header;
    LongTable::AppendHeader(header);
    writer.Write(header);
  }
  int nStatus = QUORLIX_SCHEDULES_OK;
  const std::size_t nThreads = ThreadsFor(nJobs, count);
  std::optional<ParallelRun> parallel;
  if (nThreads > 1) {
    parallel.emplace(paths, count, settings, writer);
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
    nStatus = RunOnCallerThread(paths, count, settings, writer, onInput, pInputContext);
  }
  if (writer.Failed()) return writer.FailedStatus();
  writer.Flush();
  return writer.Failed() ? writer.FailedStatus() : nStatus;
}
