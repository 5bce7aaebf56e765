// The run, on the library's ordered run (batch/ordered_run.h). With one worker,
// the calling thread reads every input and writes its rows. With more, worker
// threads read inputs in input order, each into a slot of its own, while the
// calling thread takes the slots in input order: it writes each slot's rows (the
// long form) or merges its part (the wide form's cells, the panel's candidates)
// and reports the input. The input first in line is written as it is read, so
// one long filing goes out in pieces; the inputs after it wait in their slots,
// at most kInputsAhead of them, each holding at most kHeldBytesPerInput of rows
// before its worker waits for its turn.
#include "schedules/schedule_run.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "batch/ordered_run.h"
#include "platform/file.h"
#include "quorlix_failure.h"
#include "schedules/schedule_input.h"
#include "schedules/schedule_reader.h"
#include "schedules/schedule_table.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMostThreads = 1024;
constexpr std::size_t kInputsAhead = 128;
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
                               std::string& problem, quorlix_failure& failure, FileGate& gate) {
    QUORLIX_SCHEDULES_INPUT input{};
    input.index = index;
    input.path = pszPath;
    input.first_index = index;
    problem.clear();
    failure = quorlix_failure{};
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
      // The record of why it failed, as the reading left it on this thread.
      if (input.status != QUORLIX_OK) quorlix_last_failure(&failure);
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

// ---- The run ----

class TableRun final : public batch::OrderedJob {
 public:
  TableRun(const char* const* paths, std::size_t count, const TableSettings& settings, std::size_t nWorkers,
           TableWriter& writer, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext)
      : m_paths(paths),
        m_count(count),
        m_settings(settings),
        m_writer(writer),
        m_onInput(onInput),
        m_pInputContext(pInputContext),
        m_readers(nWorkers),
        m_slots(std::max<std::size_t>(1, std::min(count, kInputsAhead))),
        m_registry(count),
        m_table(paths, settings) {}

  // The run's status once every input is reported, or the run stopped.
  int Run(std::size_t nWorkers);

  bool Work(std::size_t index, std::size_t worker) override;
  bool Take(std::size_t index) override;
  bool TakeEarly(std::size_t head) override;
  void Stopping() override {
    const std::lock_guard lock(m_mutex);
    m_bStop = true;
    m_wake.notify_all();
  }

 private:
  struct Slot {
    std::vector<std::string> chunks;  // rows not yet written
    std::size_t nHeldBytes = 0;
    QUORLIX_SCHEDULES_INPUT input{};
    std::string problem;
    quorlix_failure failure{};
    InputPart part;
    FileKey key;  // of the input's file, once open
    bool bKeyKnown = false;
  };

  // Registers the file of input index; false when an earlier input's is the same.
  class SlotGate final : public FileGate {
   public:
    SlotGate(TableRun& run, std::size_t index) : m_run(run), m_index(index) {}
    bool TakeFile(const FileKey& key) override { return m_run.Register(m_index, key); }

   private:
    TableRun& m_run;
    std::size_t m_index;
  };

  // The chunks of input index go to its slot.
  class SlotChunks final : public ChunkSink {
   public:
    SlotChunks(TableRun& run, std::size_t index) : m_run(run), m_index(index) {}
    void TakeChunk(std::string& chunk) override { m_run.Publish(m_index, chunk); }

   private:
    TableRun& m_run;
    std::size_t m_index;
  };

  Slot& SlotOf(std::size_t index) { return m_slots[index % m_slots.size()]; }
  bool Register(std::size_t index, const FileKey& key);
  // Once every input before index is read: the first input that names the file
  // of input index (index itself for most).
  std::size_t FirstOfFile(std::size_t index) {
    const std::lock_guard lock(m_registryMutex);
    const Slot& slot = SlotOf(index);
    return slot.bKeyKnown ? m_registry.FirstOf(slot.key) : index;
  }
  void Publish(std::size_t index, std::string& chunk);
  // An emptied string in place of one that was moved away, with the memory of a
  // written chunk where there is one. With m_mutex held.
  void TakeSpareChunk(std::string& chunk) {
    chunk.clear();
    if (m_spareChunks.empty()) return;
    chunk.swap(m_spareChunks.back());
    m_spareChunks.pop_back();
  }
  // Writes chunks and keeps their memory for the workers' next ones.
  bool WriteChunks(std::vector<std::string>& chunks);

  const char* const* m_paths;
  const std::size_t m_count;
  const TableSettings m_settings;
  TableWriter& m_writer;
  const QUORLIX_SCHEDULES_INPUT_FN m_onInput;
  void* const m_pInputContext;
  std::vector<std::unique_ptr<InputTableReader>> m_readers;  // one per worker, made by it
  std::thread::id m_callingThread;
  batch::OrderedRun* m_pRun = nullptr;

  std::mutex m_mutex;                      // over the slots' chunks, the spare ones, m_nTaken and m_bStop
  std::condition_variable m_wake;          // an input was taken, or the run stops
  std::vector<Slot> m_slots;               // input i in m_slots[i % size]: the run's window
  std::vector<std::string> m_spareChunks;  // written chunks, their memory kept for new ones
  std::size_t m_nTaken = 0;                // the first input not yet reported
  bool m_bStop = false;
  std::mutex m_registryMutex;
  FileRegistry m_registry;  // the files of the inputs begun

  WholeTable m_table;  // the calling thread's
  std::vector<std::string> m_written;
  int m_nStatus = QUORLIX_SCHEDULES_OK;
};

int TableRun::Run(std::size_t nWorkers) {
  m_callingThread = std::this_thread::get_id();
  batch::OrderedRun run(*this, {m_count, nWorkers, batch::ClaimOrder::kInOrder, kInputsAhead, {}});
  m_pRun = &run;
  run.Run();
  if (m_writer.Failed()) return m_writer.FailedStatus();
  m_table.Write(m_writer);
  return m_nStatus;
}

bool TableRun::Work(std::size_t index, std::size_t worker) {
  Slot& slot = SlotOf(index);
  // Without memory for its reader, a worker still takes its inputs, so the run
  // ends; each gets the status of no memory.
  std::unique_ptr<InputTableReader>& pReader = m_readers[worker];
  if (!pReader) {
    try {
      pReader = std::make_unique<InputTableReader>(m_settings);
    } catch (const std::bad_alloc&) {
      slot.input = NoMemoryFor(index, m_paths[index]);
      return false;
    }
  }
  SlotChunks chunks(*this, index);
  SlotGate gate(*this, index);
  try {
    // The slot's input, part and problem are the worker's until the input is done.
    slot.input = pReader->Read(index, m_paths[index], chunks, slot.part, slot.problem, slot.failure, gate);
  } catch (const RunStopped&) {
    return false;  // the run stopped: the input is never taken
  }
  if (std::string& rest = pReader->Rest(); !rest.empty()) {
    const std::lock_guard lock(m_mutex);
    slot.chunks.push_back(std::move(rest));
    TakeSpareChunk(rest);
  }
  return slot.input.bytes >= kReportAtOnceBytes;
}

// The registry has a lock of its own, so that registering waits on no other work.
bool TableRun::Register(std::size_t index, const FileKey& key) {
  const std::lock_guard lock(m_registryMutex);
  Slot& slot = SlotOf(index);
  slot.key = key;
  slot.bKeyKnown = true;
  return m_registry.Register(key, index) == index;
}

// An input's rows wait in its slot; past kHeldBytesPerInput, its worker waits
// until the input is the first not taken, whose rows the calling thread writes
// as they come. On the calling thread itself (a run without workers) they are
// written at once.
void TableRun::Publish(std::size_t index, std::string& chunk) {
  if (std::this_thread::get_id() == m_callingThread) {
    m_writer.Write(chunk);
    if (m_writer.Failed()) throw RunStopped{};
    return;
  }
  std::unique_lock lock(m_mutex);
  if (m_bStop) throw RunStopped{};
  Slot& slot = SlotOf(index);
  slot.nHeldBytes += chunk.size();
  slot.chunks.push_back(std::move(chunk));
  TakeSpareChunk(chunk);
  const auto mayGoOn = [&] { return m_bStop || index == m_nTaken || slot.nHeldBytes <= kHeldBytesPerInput; };
  const bool bHead = index == m_nTaken;
  const bool bWaits = !mayGoOn();
  lock.unlock();
  if (bHead) m_pRun->WakeCaller();
  if (!bWaits) return;
  m_pRun->WorkerWaits();
  lock.lock();
  m_wake.wait(lock, mayGoOn);
  lock.unlock();
  m_pRun->WorkerGoesOn();
  if (m_bStop) throw RunStopped{};
}

bool TableRun::WriteChunks(std::vector<std::string>& chunks) {
  for (const std::string& chunk : chunks) m_writer.Write(chunk);
  const std::lock_guard lock(m_mutex);
  for (std::string& chunk : chunks) {
    if (m_spareChunks.size() >= kInputsAhead) break;
    chunk.clear();
    m_spareChunks.push_back(std::move(chunk));
  }
  chunks.clear();
  return !m_writer.Failed();
}

// The rows the first input not taken has so far, while it is still read.
bool TableRun::TakeEarly(std::size_t head) {
  {
    const std::lock_guard lock(m_mutex);
    Slot& slot = SlotOf(head);
    m_written.swap(slot.chunks);
    slot.nHeldBytes = 0;
    m_wake.notify_all();
  }
  if (FirstOfFile(head) != head) m_written.clear();  // rows of a file an earlier input has given
  if (WriteChunks(m_written)) return true;
  m_nStatus = m_writer.FailedStatus();
  return false;
}

// Writes what is left of a read input's rows, merges its part and reports it.
// An input that names an earlier one's file gives nothing.
bool TableRun::Take(std::size_t index) {
  Slot& slot = SlotOf(index);
  {
    const std::lock_guard lock(m_mutex);
    m_written.swap(slot.chunks);
    slot.nHeldBytes = 0;
  }
  const std::size_t nFirst = FirstOfFile(index);
  QUORLIX_SCHEDULES_INPUT input = slot.input;
  if (nFirst != index) {
    input = RepeatOf(index, m_paths[index], nFirst);
    m_written.clear();
  } else {
    AttachProblem(input, slot.problem);
    if (input.status != QUORLIX_OK && slot.failure.status != 0) input.failure = &slot.failure;
  }
  bool bWritten = WriteChunks(m_written);
  if (bWritten && nFirst == index) m_table.Merge(slot.part, index);
  if (bWritten && m_settings.bRowsBeforeReport) {
    m_writer.Flush();
    bWritten = !m_writer.Failed();
  }
  m_nStatus = bWritten ? TellOfInput(m_onInput, m_pInputContext, input) : m_writer.FailedStatus();
  slot.part.Clear();
  {
    const std::lock_guard lock(m_registryMutex);
    slot.bKeyKnown = false;  // the slot's next input is not claimed yet: no worker writes it
  }
  {
    const std::lock_guard lock(m_mutex);
    m_nTaken = index + 1;
  }
  m_wake.notify_all();
  return m_nStatus == QUORLIX_SCHEDULES_OK;
}

std::size_t ThreadsFor(unsigned nJobs, std::size_t count) {
  std::size_t nThreads = nJobs != 0 ? nJobs : std::max(1u, std::thread::hardware_concurrency());
  return std::max<std::size_t>(1, std::min({nThreads, count, kMostThreads}));
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
  const std::size_t nWorkers = ThreadsFor(nJobs, count);
  const int nStatus = TableRun(paths, count, settings, nWorkers, writer, onInput, pInputContext).Run(nWorkers);
  if (writer.Failed()) return writer.FailedStatus();
  writer.Flush();
  return writer.Failed() ? writer.FailedStatus() : nStatus;
}
