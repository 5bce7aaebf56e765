// The filing decoder: reads the filing in blocks and turns its bytes into lines,
// one stream across the blocks, so that a filing read in blocks gives exactly
// what reading it whole would. Each line keeps only printable ASCII, ends in
// CR LF (or a lone CR), and is written to the text output and, while a schedule
// is being copied, to the schedule output; a line holding a '>' is first
// classified by its leading tag.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "document/am_file.h"
#include "filing/filing_stream.h"
#include "platform/read_ahead.h"
#include "quorlix.h"
#include "scan/line_scan.h"

namespace {

// A file failure on the filing or either output.
constexpr FileStatusMap kFilingFileStatuses{QUORLIX_FILING_NOT_FOUND, QUORLIX_FILING_TOO_MANY_FILES,
                                            QUORLIX_FILING_FILE_ERROR};

// The bytes a line is made of are the kept bytes of the shared filter less CR
// and LF, that is 0x20-0x7E: the line bytes of scan/line_scan.h, whose
// scanners pass over their runs many at a time.

char ToUpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsDropMarker(std::string_view strLine) { return std::ranges::equal(strLine, kFilingDropMarker, {}, ToUpperAscii); }

// Filings longer than this are read ahead: below it, a thread costs more than it saves.
constexpr std::uint64_t kReadAheadFromBytes = 4 * std::uint64_t{kFilingBlockBytes};

// What is left to read of a filing that measured 0, until a short read ends it.
constexpr std::uint64_t kUnmeasuredFilingBytes = std::numeric_limits<std::uint64_t>::max();

// The 32-bit fields mirror the 64-bit reading position as far as they can.
std::uint32_t Saturated32(std::uint64_t n) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(n, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

// ---- Driver and block reading ----

int CAMFile::DecodeFiling() {
  m_nBlockLen = m_nBlockPos = m_nInLen = 0;
  m_nFilingLeft = m_nFilingNext = 0;
  m_nStatus = kStatusOk;
  // Which file failed: the one being opened, else the open file that raised.
  FailedFile opening = FailedFile::kInput;
  const CFile* pFiles[3] = {};  // the filing, the text, the schedule
  try {
    CFile fileIn(m_strInPath, CFile::modeRead);
    pFiles[0] = &fileIn;
    m_nFilingLeft = fileIn.GetLength();
    // A filing that measures 0 may still hold data (/proc files): it is read until its end.
    if (m_nFilingLeft == 0) m_nFilingLeft = kUnmeasuredFilingBytes;
    m_nInLen = Saturated32(m_nFilingLeft);
    // Creating an output truncates it; the file layer does not lock the filing,
    // so an output that is the filing, by whatever name, is refused here.
    for (const auto& [strOut, file] :
         {std::pair{&m_strOutPath, FailedFile::kOutput}, {&m_strOutPath2, FailedFile::kOutput2}})
      if (fileIn.IsNamedBy(*strOut)) {
        RecordFailure(FailureCause::kOutputIsInput, file);
        return m_nStatus = QUORLIX_FILING_FILE_ERROR;
      }
    m_pInBuf = AllocateByteBuffer(std::min<std::uint64_t>(m_nFilingLeft, kFilingBlockBytes));

    // A filing of one block is read before the outputs exist, so a failed read
    // creates nothing; so is the first block of one that measured 0.
    const bool bFirstBlockEarly = m_nFilingLeft <= kFilingBlockBytes || m_nFilingLeft == kUnmeasuredFilingBytes;
    if (bFirstBlockEarly && ReadBlock(fileIn) != kStatusOk) return m_nStatus;
    opening = FailedFile::kOutput;
    CFile fileText(m_strOutPath, CFile::modeCreate | CFile::modeOutput);
    pFiles[1] = &fileText;
    // Two outputs in one file would overwrite each other.
    if (fileText.IsNamedBy(m_strOutPath2)) {
      RecordFailure(FailureCause::kOutputsAreOneFile, FailedFile::kOutput2);
      return m_nStatus = QUORLIX_FILING_FILE_ERROR;
    }
    opening = FailedFile::kOutput2;
    CFile fileSchedule(m_strOutPath2, CFile::modeCreate | CFile::modeOutput);
    pFiles[2] = &fileSchedule;

    FilingStream stream(fileText, fileSchedule);
    if (bFirstBlockEarly) DecodeBlock(stream, m_nBlockLen, m_nFilingLeft == 0);
    // A filing of many blocks is read ahead, so that reading overlaps decoding;
    // where no thread can start, it is read here, block by block.
    std::optional<CReadAhead> ahead;
    if (!bFirstBlockEarly && m_nFilingLeft > kReadAheadFromBytes)
      StartReadAhead(ahead, fileIn, m_nFilingNext, m_nFilingLeft, kFilingBlockBytes);
    CReadAhead* const pAhead = ahead ? &*ahead : nullptr;
    while (m_nStatus == kStatusOk && m_nFilingLeft > 0 && ReadBlock(fileIn, pAhead) == kStatusOk &&
           DecodeBlock(stream, m_nBlockLen, m_nFilingLeft == 0) == kStatusOk) {
    }
    ahead.reset();  // the thread is done with the filing before it closes
    // Also after a failure, the lines decoded before it reach the outputs.
    stream.Close();
    fileIn.Close();
    fileText.Close();
    fileSchedule.Close();
  } catch (const CFileException& e) {
    // The first failure is the one reported, not a later one while closing.
    if (m_nStatus == kStatusOk) {
      m_nStatus = StatusFromFileException(e, kFilingFileStatuses);
      constexpr FailedFile kRoles[3] = {FailedFile::kInput, FailedFile::kOutput, FailedFile::kOutput2};
      const auto* pAt = std::ranges::find(pFiles, e.GetFile());
      RecordFileFailure(e, e.GetFile() && pAt != std::end(pFiles) ? kRoles[pAt - pFiles] : opening);
    }
  } catch (...) {
    if (m_nStatus == kStatusOk) {
      RecordFailure(FailureCause::kNoMemory, FailedFile::kNone);
      m_nStatus = QUORLIX_FILING_DECODE_FAILED;
    }
  }
  m_pInBuf.reset();
  return m_nStatus;
}

// m_pInBuf holds the first block, the largest, so every later block fits it too.
// A filing that measured 0 is read one whole block at a time until a short read
// ends it; the others must deliver exactly their measured length.
int CAMFile::ReadBlock(CFile& fileIn, CReadAhead* pAhead) {
  try {
    const bool bMeasured = m_nFilingLeft != kUnmeasuredFilingBytes;
    m_nBlockLen = static_cast<std::uint32_t>(std::min<std::uint64_t>(m_nFilingLeft, kFilingBlockBytes));
    if (m_nBlockLen == 0) return m_nStatus = kStatusOk;
    std::size_t nGot = 0;
    if (pAhead) {
      nGot = pAhead->Next(m_pInBuf);
    } else {
      if (bMeasured) fileIn.SeekToOffset(m_nFilingNext);
      nGot = fileIn.Read(m_pInBuf.get(), m_nBlockLen);
    }
    if (bMeasured) {
      // A filing that ends before its measured length was changed under us.
      if (nGot != m_nBlockLen) {
        RecordFailure(FailureCause::kChangedWhileRead, FailedFile::kInput, 0, FileOperation::kRead);
        return m_nStatus = QUORLIX_FILING_FILE_ERROR;
      }
      m_nFilingLeft -= m_nBlockLen;
    } else if (nGot < m_nBlockLen) {
      m_nBlockLen = static_cast<std::uint32_t>(nGot);
      m_nFilingLeft = 0;
    }
    m_nFilingNext += m_nBlockLen;
    m_nInLen = Saturated32(m_nFilingLeft);
    m_nBlockPos = Saturated32(m_nFilingNext);
    return m_nStatus = kStatusOk;
  } catch (const CFileException& e) {
    RecordFileFailure(e, FailedFile::kInput);
    return m_nStatus = StatusFromFileException(e, kFilingFileStatuses);
  } catch (...) {
    RecordFailure(FailureCause::kNoMemory, FailedFile::kNone);
    return m_nStatus = QUORLIX_FILING_DECODE_FAILED;
  }
}

// ---- Line assembly ----

namespace {

// The bytes [p, pEnd) of a block onto the stream's lines, with the scanner
// inlined: instantiated once per scanner, each under its own target. Runs of
// line bytes are copied straight into the text, which always has room for
// every byte left to give two: a line break is the most any byte adds.
//
// The stream's state is held in locals and handed back before a line end and
// at the block's end: a store through a byte pointer may change any field, so
// fields would be read again from memory after every byte stored.
template <typename Scan>
[[gnu::always_inline]] inline void DecodeLineBytes(CAMFile& doc, FilingStream& stream, const unsigned char* p,
                                                   const unsigned char* const pEnd) {
  FilingText& text = stream.text;
  std::size_t nTextSize = 0;  // the text's size where pOut started
  unsigned char* pStart = nullptr;
  unsigned char* pOut = nullptr;  // the text's end
  unsigned char chPrev = stream.chPrev;
  std::size_t nLine = stream.CurrentLineSize();
  std::size_t nLineWithoutGt = stream.nLineBytesWithoutGt;
  const auto takeText = [&] {
    text.Reserve(2 * static_cast<std::size_t>(pEnd - p) + 2);
    nTextSize = text.size();
    pStart = pOut = text.End();
  };
  const auto giveBack = [&] {
    text.Grow(static_cast<std::size_t>(pOut - pStart));
    stream.chPrev = chPrev;
    stream.nLineBytesWithoutGt = nLineWithoutGt;
  };
  const auto endLine = [&] {
    giveBack();
    doc.EndFilingLine(stream);
    nLine = stream.CurrentLineSize();
    nLineWithoutGt = stream.nLineBytesWithoutGt;
    takeText();  // the line end may have written a tag back
  };
  // Bytes added to a line with no '>' so far leave it without one unless they held one.
  const auto add = [&](std::size_t nAdded, bool bGtAdded) {
    if (nLineWithoutGt == nLine && !bGtAdded) nLineWithoutGt = nLine + nAdded;
    nLine += nAdded;
  };
  // The byte after a CR: an LF completes the line end; after the line end any
  // other byte goes on as usual, except that a CR is dropped, not a line end.
  const auto takeByteAfterCr = [&](unsigned char b) {
    if (b == '\n') {
      *pOut++ = '\n';
      add(1, false);
    }
    endLine();
    if (IsLineByte(b)) {
      *pOut++ = b;
      add(1, b == '>');
      chPrev = b;
    }
  };

  takeText();
  if (stream.bCrPending && p < pEnd) {
    stream.bCrPending = false;
    takeByteAfterCr(*p++);
  }
  while (p < pEnd) {
    if constexpr (Scan::kHasBlocks) {
      // Lines with no '>' that go to the text output alone are copied whole blocks at a time.
      if (chPrev != '\r' && nLineWithoutGt == nLine && !stream.flags.bEmitTag && !stream.flags.bCapture) {
        unsigned char* pLineEnd = nullptr;
        const std::size_t nTaken = Scan::CopyPlainLines(p, static_cast<std::size_t>(pEnd - p), pOut, '>', pLineEnd);
        if (nTaken != 0) {
          p += nTaken;
          if (pLineEnd != nullptr) {
            stream.nLineStart = nTextSize + static_cast<std::size_t>(pLineEnd - pStart);
            nLine = static_cast<std::size_t>(pOut - pLineEnd);
          } else {
            nLine += nTaken;
          }
          nLineWithoutGt = nLine;
          if (p[-1] != '\n') chPrev = p[-1];  // an LF leaves it
        }
      }
    }
    bool bGtInRun = false;
    const std::size_t nRun = Scan::CopyRunWatching(p, static_cast<std::size_t>(pEnd - p), pOut, '>', bGtInRun);
    if (nRun != 0) {
      pOut += nRun;
      add(nRun, bGtInRun);
      p += nRun;
      chPrev = p[-1];
      if (p == pEnd) break;
    }
    const unsigned char b = *p++;
    if (b == '\r') {
      chPrev = '\r';
      *pOut++ = '\r';
      add(1, false);
      if (p == pEnd) {
        stream.bCrPending = true;
        break;
      }
      takeByteAfterCr(*p++);
    } else if (b == '\n' && chPrev != '\r') {
      *pOut++ = '\r';
      *pOut++ = '\n';
      // Most lines hold no '>' and go to the text output alone: they are done as they stand.
      if (nLineWithoutGt == nLine && !stream.flags.bEmitTag && !stream.flags.bCapture) {
        nLineWithoutGt = nLine = 0;
        stream.nLineStart = nTextSize + static_cast<std::size_t>(pOut - pStart);
        continue;
      }
      add(2, false);
      endLine();
    } else if (b != '\n') {
      // A dropped byte adds nothing, and neither do those after it: their run is passed over at once.
      p += Scan::CountDropped(p, static_cast<std::size_t>(pEnd - p));
    }
    // An LF that a CR already ended adds nothing either.
  }
  giveBack();
}

// One form per scan level, each compiled with its level's target so that the
// scanner's steps are inlined into it.
template <ScanLevel L>
void DecodeLineBytesAt(CAMFile& doc, FilingStream& stream, const unsigned char* p, const unsigned char* pEnd);

template <>
void DecodeLineBytesAt<ScanLevel::kPortable>(CAMFile& doc, FilingStream& stream, const unsigned char* p,
                                             const unsigned char* pEnd) {
  DecodeLineBytes<PortableLineScan>(doc, stream, p, pEnd);
}

#ifdef QUORLIX_HAS_VECTOR_SCAN
template <>
QUORLIX_SSSE3_TARGET void DecodeLineBytesAt<ScanLevel::kSsse3>(CAMFile& doc, FilingStream& stream,
                                                               const unsigned char* p, const unsigned char* pEnd) {
  DecodeLineBytes<Ssse3LineScan>(doc, stream, p, pEnd);
}
#endif

}  // namespace

// Runs of line bytes are appended whole; only CR, LF and dropped bytes are taken
// one at a time. A CR looks at the byte after it, across a block boundary too.
// The lines finished in the block go to the text archive at its end, together,
// in whole buffers.
int CAMFile::DecodeBlock(FilingStream& stream, std::uint32_t nLen, bool bEndsFiling) {
  try {
    const unsigned char* const p = m_pInBuf.get();
    WithScanLevel(
        [&]<ScanLevel L>() { DecodeLineBytesAt<kScanLevelUpTo<L, ScanLevel::kSsse3>>(*this, stream, p, p + nLen); });
    // At the end a CR ends its line alone, and text after the last line end is a line too.
    if (bEndsFiling) {
      stream.bCrPending = false;
      if (stream.CurrentLineSize() != 0) EndFilingLine(stream);
    }
    stream.WriteDoneLinesInWholeBuffers();
    m_nStatus = kStatusOk;
  } catch (const CFileException& e) {
    RecordFileFailure(e, e.GetFile() == &stream.arSchedule.GetFile() ? FailedFile::kOutput2 : FailedFile::kOutput);
    m_nStatus = StatusFromFileException(e, kFilingFileStatuses);
  } catch (...) {
    RecordFailure(FailureCause::kNoMemory, FailedFile::kNone);
    m_nStatus = QUORLIX_FILING_DECODE_FAILED;
  }
  return m_nStatus;
}

// ---- Line end ----

// Only a line that holds a '>' is classified. Its tag runs from its first
// non-blank byte to its first '>', whatever stands between; the remainder starts
// at the next non-blank byte after the '>', so a line of a tag alone keeps no line end.
// The line is rewritten where it stands, its tag put in capitals in place and
// moved to the line's start when it is written back, the remainder moved up
// after it: however long the line, it is never copied.
// A line that goes to the schedule output too sends the text before it out first.
void CAMFile::EndFilingLine(FilingStream& stream) {
  FilingText& text = stream.text;
  FilingCopyFlags& flags = stream.flags;
  const std::string_view strLine = stream.CurrentLine();
  const std::size_t nGtFrom = std::min(stream.nLineBytesWithoutGt, strLine.size());
  stream.nLineBytesWithoutGt = 0;  // the line is finished below, whatever it holds
  // Where the line's own bytes start in the text, past a tag written back in front of it.
  std::size_t nBodyStart = stream.nLineStart;
  if (const std::size_t nClose = strLine.find('>', nGtFrom); nClose != std::string_view::npos) {
    char* const pLine = text.data() + stream.nLineStart;
    const std::size_t nOpen = FindFilingNonBlank(strLine);
    std::transform(pLine + nOpen, pLine + nClose + 1, pLine + nOpen, ToUpperAscii);
    const std::string_view strTag = strLine.substr(nOpen, nClose + 1 - nOpen);
    const std::string_view strRest = strLine.substr(std::min(FindFilingNonBlank(strLine, nClose + 1), strLine.size()));
    const std::string_view strKept = ClassifyFilingTag(strTag, strRest, stream.strRow, flags);
    if (IsDropMarker(strKept)) {
      if (flags.bEmitTag) stream.strTag.assign(strTag);  // for a later line: this one's bytes go now
      text.Truncate(stream.nLineStart);
      return;
    }
    std::size_t nKeptAt = stream.nLineStart;
    if (flags.bEmitTag) {
      std::memmove(pLine, strTag.data(), strTag.size());
      nKeptAt += strTag.size();
      nBodyStart = nKeptAt;
      flags.bEmitTag = false;
    }
    if (strKept.data() == strRest.data()) {  // the remainder itself, moved up
      std::memmove(text.data() + nKeptAt, strKept.data(), strKept.size());
      text.Truncate(nKeptAt + strKept.size());
    } else {
      text.Truncate(nKeptAt);
      text.Append(strKept);
    }
  } else if (flags.bEmitTag) {
    text.Insert(stream.nLineStart, stream.strTag);
    nBodyStart += stream.strTag.size();
    flags.bEmitTag = false;
  }
  stream.CommitLine();
  if (flags.bCapture && !flags.bInLegend) stream.WriteDoneLinesCopyingFrom(nBodyStart);
  if (flags.bScheduleEnded) flags.bCapture = false;
}
