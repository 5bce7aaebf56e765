#include "schedules/schedule_input.h"

#include <algorithm>
#include <cassert>
#include <string_view>

#include "filing/filing_sniff.h"
#include "platform/failure_record.h"
#include "platform/file.h"
#include "quorlix.h"
#include "schedules/schedule_table.h"

namespace {

// ---- Sources ----

// A file read up to its measured length, which it must reach: one that ends
// earlier was changed under us. A file that measures 0 may still hold data
// (/proc files): it is read until its end.
class MeasuredFileSource final : public PackedSource {
 public:
  explicit MeasuredFileSource(const CString& strPath) : m_file(strPath, CFile::modeRead) {
    m_bKeyKnown = m_file.GetKey(m_key);
    m_nLeft = m_file.GetLength();
    m_bMeasured = m_nLeft != 0;
  }

  std::size_t Read(unsigned char* pBuf, std::size_t nCount) override {
    if (!m_bMeasured) return m_file.Read(pBuf, nCount);
    const auto nWanted = static_cast<std::size_t>(std::min<std::uint64_t>(m_nLeft, nCount));
    if (nWanted == 0) return 0;
    const std::size_t nGot = m_file.Read(pBuf, nWanted);
    if (nGot != nWanted) throw CFileException(CFileException::other);
    m_nLeft -= nGot;
    return nGot;
  }

  // The open file's key, when known.
  const FileKey* Key() const { return m_bKeyKnown ? &m_key : nullptr; }

 private:
  CFile m_file;
  FileKey m_key;
  bool m_bKeyKnown = false;
  std::uint64_t m_nLeft = 0;
  bool m_bMeasured = false;
};

// Counts what a source gives.
class CountedSource final : public PackedSource {
 public:
  CountedSource(PackedSource& source, std::uint64_t& nCount) : m_source(source), m_nCount(nCount) {}
  std::size_t Read(unsigned char* pBuf, std::size_t nCount) override {
    const std::size_t nGot = m_source.Read(pBuf, nCount);
    m_nCount += nGot;
    return nGot;
  }

 private:
  PackedSource& m_source;
  std::uint64_t& m_nCount;
};

// ---- One file ----

// One file's bytes to the reader, once its first bytes show it is a filing.
// Those are judged where they lie when the first block holds them all (a plain
// file's first block does), else gathered first.
class FileFeed {
 public:
  FileFeed(ScheduleReader& reader, std::string_view member) : m_reader(reader) { m_reader.Start(member); }

  // False once the file is known to be no filing: nothing more of it is wanted.
  bool Feed(const unsigned char* pBytes, std::size_t nCount) {
    if (m_verdict == HeadVerdict::kReadOn) {
      if (m_head.empty() && nCount >= kFramingWindowBytes)
        m_verdict = JudgeSubmissionHead({reinterpret_cast<const char*>(pBytes), nCount}, false);
      // Blank lines or a preamble longer than the block: gathered until they end.
      if (m_verdict == HeadVerdict::kReadOn) {
        m_head.append(reinterpret_cast<const char*>(pBytes), nCount);
        return Judge(false);
      }
    }
    if (m_verdict != HeadVerdict::kSubmission) return false;
    m_reader.Feed(pBytes, nCount);
    return true;
  }

  // The file ended; returns whether it was a filing.
  bool Finish() {
    if (m_verdict == HeadVerdict::kReadOn) Judge(true);
    if (m_verdict != HeadVerdict::kSubmission) return false;
    m_reader.Finish();
    return true;
  }

 private:
  bool Judge(bool bWhole) {
    m_verdict = JudgeSubmissionHead(m_head, bWhole);
    if (m_verdict == HeadVerdict::kReadOn) return true;
    if (m_verdict == HeadVerdict::kSubmission)
      m_reader.Feed(reinterpret_cast<const unsigned char*>(m_head.data()), m_head.size());
    std::string().swap(m_head);
    return m_verdict == HeadVerdict::kSubmission;
  }

  ScheduleReader& m_reader;
  HeadVerdict m_verdict = HeadVerdict::kReadOn;
  std::string m_head;
};

void CountFile(const ScheduleReader& reader, bool bFiling, InputReading& reading) {
  if (!bFiling) return;
  ++reading.nFilings;
  if (reader.DocumentsTaken() > 0) ++reading.nFilingsWithSchedules;
}

// A plain file from its first block on.
void ReadPlain(PackedSource& source, ScheduleReader& reader, unsigned char* pBlock, std::size_t nBlockBytes,
               std::size_t nFirst, InputReading& reading) {
  FileFeed feed(reader, {});
  for (std::size_t nGot = nFirst; nGot != 0 && feed.Feed(pBlock, nGot);) nGot = source.Read(pBlock, nBlockBytes);
  CountFile(reader, feed.Finish(), reading);
}

// A compressed file or an archive, file by file.
void ReadPacked(CPackedReader& packed, ScheduleReader& reader, InputReading& reading) {
  while (packed.NextFile()) {
    reading.nMembers = packed.MembersRead();
    FileFeed feed(reader, packed.MemberPath());
    const unsigned char* pBytes = nullptr;
    for (std::size_t nGot = packed.ReadBlock(pBytes); nGot != 0 && feed.Feed(pBytes, nGot);)
      nGot = packed.ReadBlock(pBytes);
    CountFile(reader, feed.Finish(), reading);
  }
}

// The words for what is wrong with a packed file, the member named as the table writes names.
std::string ProblemOf(const CPackedError& error) {
  std::string member;
  AppendNameText(member, error.Member());
  switch (error.GetWhere()) {
    case CPackedError::Where::kFile: return error.Reason();
    case CPackedError::Where::kMember: return "member '" + member + "': " + error.Reason();
    case CPackedError::Where::kAfterMember:
      if (error.Member().empty()) return "the first member's header: " + error.Reason();
      return "the header after member '" + member + "': " + error.Reason();
  }
  return error.Reason();
}

int FilingStatusOf(const CFileException& e) {
  switch (e.GetCause()) {
    case CFileException::fileNotFound: return QUORLIX_FILING_NOT_FOUND;
    case CFileException::tooManyOpenFiles: return QUORLIX_FILING_TOO_MANY_FILES;
    default: return QUORLIX_FILING_FILE_ERROR;
  }
}

// Reads from source, its bytes counted into reading; raises what reading raises.
void ReadCounted(PackedSource& source, ScheduleReader& reader, unsigned char* pBlock, std::size_t nBlockBytes,
                 InputReading& reading, const PackingLimits& limits) {
  CountedSource counted(source, reading.nBytesRead);
  const std::size_t nFirst = counted.Read(pBlock, nBlockBytes);
  if (!MayBePacked(pBlock, nFirst)) {
    ReadPlain(counted, reader, pBlock, nBlockBytes, nFirst, reading);
    return;
  }
  CPackedReader packed(counted, pBlock, nBlockBytes, nFirst, limits);
  reading.packing = packed.Kind().packing;
  // libarchive tells its formats from the first few hundred bytes, which the
  // first block holds: a plain file is still whole there.
  if (reading.packing == Packing::kPlain && packed.IsHeadIntact())
    ReadPlain(counted, reader, pBlock, nBlockBytes, nFirst, reading);
  else if (reading.packing == Packing::kPlain)
    throw CPackedError(CPackedError::Where::kFile, {}, "its packing could not be told");
  else ReadPacked(packed, reader, reading);
}

}  // namespace

void ReadScheduleSource(PackedSource& source, ScheduleReader& reader, unsigned char* pBlock, std::size_t nBlockBytes,
                        InputReading& reading, const PackingLimits& limits) {
  assert(nBlockBytes >= kLeastBlockBytes);
  reading = {};
  try {
    ReadCounted(source, reader, pBlock, nBlockBytes, reading, limits);
    reading.status = QUORLIX_OK;
  } catch (const CPackedError& e) {
    reader.Abandon();
    reading.status = QUORLIX_FILING_FILE_ERROR;
    reading.problem = ProblemOf(e);
  } catch (const CFileException& e) {
    reader.Abandon();
    RecordFileFailure(e, FailedFile::kInput);
    reading.status = FilingStatusOf(e);
  } catch (const std::exception&) {
    reader.Abandon();
    RecordFailure(FailureCause::kNoMemory, FailedFile::kNone);
    reading.status = QUORLIX_FILING_DECODE_FAILED;
  }
}

void ReadScheduleInput(const CString& strPath, ScheduleReader& reader, ByteBuffer& pBlock, InputReading& reading,
                       FileGate* pGate, const PackingLimits& limits) {
  reading = {};
  ClearFailure();
  try {
    MeasuredFileSource file(strPath);
    if (pGate && file.Key() && !pGate->TakeFile(*file.Key())) {
      reading.bPassedOver = true;
      return;
    }
    ReadScheduleSource(file, reader, pBlock.get(), kScheduleBlockBytes, reading, limits);
  } catch (const CFileException& e) {
    RecordFileFailure(e, FailedFile::kInput);
    reading.status = FilingStatusOf(e);  // the file could not be opened
  } catch (const std::exception&) {
    RecordFailure(FailureCause::kNoMemory, FailedFile::kNone);
    reading.status = QUORLIX_FILING_DECODE_FAILED;
  }
  FinishFailure(reading.status);
}
