// Line-ending conversion: every line break (CR LF, lone CR, lone LF) becomes
// CR LF and only kept bytes survive. The input is converted a piece at a time
// into a buffer of twice the piece's size, which no input byte can overflow: the
// worst case is a lone CR or LF, which becomes two bytes. Each piece is written
// as soon as it is made. A new output is made as the input is read, a piece at
// a time; an output that exists waits until the input has been read whole, so
// that a failed read leaves it untouched.
#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "crlf/crlf_pass.h"
#include "document/am_file.h"
#include "platform/read_ahead.h"
#include "quorlix.h"
#include "scan/byte_filter.h"
#include "scan/line_scan.h"

namespace {

// ---- The pass ----

// Converts input [i, iEnd) of the whole input pIn, nLen bytes. Runs of line bytes
// are copied by the scanner; only CR, LF and dropped bytes are taken one at a
// time. The neighbour tests look at the raw input, dropped bytes included, and
// across piece boundaries.
template <typename Scan, bool bSkipBlank>
class LineEndPass {
 public:
  LineEndPass(const unsigned char* pIn, std::uint32_t nLen) : m_pIn(pIn), m_nLen(nLen) {}

  // Goes on in other bytes: a window of the input that holds the byte before the
  // next to convert, if there is one, and the byte after the last.
  void SetInput(const unsigned char* pIn, std::uint32_t nLen) {
    m_pIn = pIn;
    m_nLen = nLen;
  }

  // Returns the bytes written to pOut, at most 2 * (iEnd - i). The scanner may
  // store ahead of a run, but never more bytes than the input left in the piece,
  // and each of those could have produced two: the bound holds for its stores too.
  std::size_t Convert(std::uint32_t i, const std::uint32_t iEnd, unsigned char* const pOut) {
    std::size_t j = 0;
    if constexpr (!bSkipBlank) {
      if constexpr (Scan::kHasBlocks) ConvertBlocks(i, iEnd, pOut, j);
      else return ConvertBytes(i, iEnd, pOut);
    }
    while (i < iEnd) {
      const std::size_t nRun = Scan::CopyRun(m_pIn + i, iEnd - i, pOut + j);
      if constexpr (bSkipBlank) {
        // Spaces never clear bLineEmpty, so a line of spaces alone loses its
        // break and its spaces lead the next line.
        for (std::size_t k = 0; m_bLineEmpty && k < nRun; ++k) m_bLineEmpty = m_pIn[i + k] == ' ';
      }
      i += static_cast<std::uint32_t>(nRun);
      j += nRun;
      if (i == iEnd) break;
      const ByteKind kind = KindOf(m_pIn[i]);
      if (kind == ByteKind::kLf) {
        if (!bSkipBlank || !m_bLineEmpty) {
          if (!FollowsCr(i)) pOut[j++] = '\r';
          pOut[j++] = '\n';
          m_bLineEmpty = true;
        }
      } else if (kind == ByteKind::kCr) {
        // In skip-blank mode a CR LF pair ends the line at its LF.
        if (!bSkipBlank || !m_bLineEmpty) {
          pOut[j++] = '\r';
          if (!PrecedesLf(i)) {
            pOut[j++] = '\n';
            m_bLineEmpty = true;
          }
        }
      }
      ++i;  // a dropped byte adds nothing
    }
    return j;
  }

  // Plain mode without blocks: text bytes are stored unconditionally and counted
  // only when kept, so the common case has no branch that depends on the data;
  // only CR and LF branch.
  std::size_t ConvertBytes(std::uint32_t i, const std::uint32_t iEnd, unsigned char* const pOut) {
    std::size_t j = 0;
    for (; i < iEnd; ++i) {
      const unsigned char b = m_pIn[i];
      const ByteKind kind = KindOf(b);
      if (kind <= ByteKind::kSpace) {
        pOut[j] = b;
        j += kind != ByteKind::kDropped;
      } else if (kind == ByteKind::kLf) {
        if (!FollowsCr(i)) pOut[j++] = '\r';
        pOut[j++] = '\n';
      } else {
        pOut[j++] = '\r';
        if (!PrecedesLf(i)) pOut[j++] = '\n';
      }
    }
    return j;
  }

  // Whole blocks, in plain mode, at a fixed stride: the kept bytes of a block are
  // gathered and stored at once, and a lone LF gets its CR, a lone CR its LF, as a
  // byte put in between the gathered pieces. No load waits for the one before it.
  // A block may store up to 32 bytes past the output it adds, so the loop stops
  // while two blocks are left: the room for their output covers that.
  // The positions and the input live in locals: a store through a byte pointer
  // may change any variable in memory, which would then be read again each time.
  QUORLIX_SSSE3_TARGET void ConvertBlocks(std::uint32_t& iRef, const std::uint32_t iEnd, unsigned char* const pOut,
                                          std::size_t& jRef) {
    if (iEnd - iRef < 2 * Scan::kBlockBytes) return;
    const unsigned char* const pIn = m_pIn;
    std::uint32_t i = iRef;
    std::size_t j = jRef;
    unsigned nCrEndsLast = FollowsCr(i) ? 1u : 0u;  // the byte before the block is a CR
    auto kinds = Scan::Classify(pIn + i);
    for (; iEnd - i >= 2 * Scan::kBlockBytes; i += Scan::kBlockBytes) {
      const unsigned char* const pBlock = pIn + i;
      __builtin_prefetch(pBlock + 1024);  // an input read whole is far larger than the caches
      // The next block is classified ahead: its first byte decides a CR that ends this one.
      const auto next = Scan::Classify(pBlock + Scan::kBlockBytes);
      const unsigned nKept = kinds.nLine | kinds.nCr | kinds.nLf;
      const unsigned nLoneLf = kinds.nLf & ~((kinds.nCr << 1) | nCrEndsLast);
      const unsigned nLoneCr = kinds.nCr & ~((kinds.nLf >> 1) | ((next.nLf & 1u) << 15));
      // Bit q: a byte goes in before position q (16 for a lone CR that ends the block).
      unsigned nInsertBefore = nLoneLf | (nLoneCr << 1);
      unsigned nStored = 0;  // the positions already gathered
      while (nInsertBefore != 0) {
        const auto q = static_cast<unsigned>(__builtin_ctz(nInsertBefore));
        const unsigned nBelow = (1u << q) - 1;
        j += Scan::StoreSelected(pBlock, nKept & nBelow & ~nStored, pOut + j);
        pOut[j++] = (nLoneLf >> q) & 1 ? '\r' : '\n';
        nStored = nBelow;
        nInsertBefore &= nInsertBefore - 1;
      }
      j += Scan::StoreSelected(pBlock, nKept & ~nStored & 0xFFFF, pOut + j);
      nCrEndsLast = kinds.nCr >> 15;
      kinds = next;
    }
    iRef = i;
    jRef = j;
  }

 private:
  bool FollowsCr(std::uint32_t i) const { return i > 0 && m_pIn[i - 1] == '\r'; }
  bool PrecedesLf(std::uint32_t i) const { return i + 1 < m_nLen && m_pIn[i + 1] == '\n'; }

  const unsigned char* m_pIn;
  std::uint32_t m_nLen;
  bool m_bLineEmpty = true;  // skip-blank: no visible byte since the last line break written
};

// The plain output's length without writing it: every line byte stays, and every
// CR and LF becomes two bytes, except that a CR LF pair is two in all.
template <typename Scan>
QUORLIX_SSSE3_TARGET std::uint64_t MeasurePlainBlocks(const unsigned char* pIn, std::uint32_t nLen, std::uint32_t& i) {
  std::uint64_t nOut = 0;
  unsigned nCrBefore = 0;  // the last byte of the previous block is a CR
  for (; nLen - i >= Scan::kBlockBytes; i += Scan::kBlockBytes) {
    const auto kinds = Scan::Classify(pIn + i);
    const unsigned nLfAfterCr = kinds.nLf & ((kinds.nCr << 1) | nCrBefore);
    nOut += Scan::CountBits(kinds.nLine) + 2 * Scan::CountBits(kinds.nCr | kinds.nLf) - 2 * Scan::CountBits(nLfAfterCr);
    nCrBefore = (kinds.nCr >> (Scan::kBlockBytes - 1)) & 1;
  }
  return nOut;
}

template <typename Scan>
std::uint64_t MeasurePlainOutput(const unsigned char* pIn, std::uint32_t nLen) {
  std::uint64_t nOut = 0;
  std::uint32_t i = 0;
  if constexpr (Scan::kHasBlocks) nOut = MeasurePlainBlocks<Scan>(pIn, nLen, i);
  for (; i < nLen; ++i) {
    const ByteKind kind = KindOf(pIn[i]);
    if (kind == ByteKind::kVisible || kind == ByteKind::kSpace) nOut += 1;
    else if (kind == ByteKind::kCr) nOut += 2;
    else if (kind == ByteKind::kLf) nOut += i > 0 && pIn[i - 1] == '\r' ? 0 : 2;
  }
  return nOut;
}

template <typename Scan, bool bSkipBlank>
std::uint64_t ConvertAllPieces(const unsigned char* pIn, std::uint32_t nLen, std::size_t nPieceBytes,
                               unsigned char* pScratch, const LineEndWriter& put) {
  LineEndPass<Scan, bSkipBlank> pass(pIn, nLen);
  std::uint64_t nWritten = 0;
  for (std::uint32_t i = 0; i < nLen;) {
    const auto iEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(nLen, i + std::uint64_t{nPieceBytes}));
    const std::size_t nOut = pass.Convert(i, iEnd, pScratch);
    assert(nOut <= 2 * std::size_t{iEnd - i});
    if (nOut > 0) put(pScratch, nOut);
    nWritten += nOut;
    i = iEnd;
  }
  return nWritten;
}

// The input read a piece at a time into a window: the byte before the piece
// (once there is one) and the byte held back from the last piece come first,
// since a CR looks at the byte after it and an LF at the byte before. The last
// byte of each window waits for the next.
template <typename Scan, bool bSkipBlank>
std::uint64_t ConvertStreamedPieces(std::uint64_t nLen, std::size_t nPieceBytes, unsigned char* pWindow,
                                    unsigned char* pScratch, const LineEndReader& read, const LineEndWriter& put) {
  LineEndPass<Scan, bSkipBlank> pass(pWindow, 0);
  std::uint64_t nWritten = 0;
  std::uint32_t nCarried = 0;  // bytes of the last window at the front: 0, 1 (the first byte), or 2
  for (std::uint64_t nLeft = nLen; nLeft > 0;) {
    const auto nGot = static_cast<std::uint32_t>(std::min<std::uint64_t>(nLeft, nPieceBytes));
    read(pWindow + nCarried, nGot);
    nLeft -= nGot;
    const std::uint32_t nWindow = nCarried + nGot;
    const std::uint32_t iFrom = nCarried == 0 ? 0 : nCarried - 1;
    const std::uint32_t iEnd = nLeft == 0 ? nWindow : nWindow - 1;
    pass.SetInput(pWindow, nWindow);
    const std::size_t nOut = pass.Convert(iFrom, iEnd, pScratch);
    assert(nOut <= 2 * std::size_t{iEnd - iFrom});
    if (nOut > 0) put(pScratch, nOut);
    nWritten += nOut;
    nCarried = std::min<std::uint32_t>(nWindow, 2);
    std::memmove(pWindow, pWindow + nWindow - nCarried, nCarried);
  }
  return nWritten;
}

// ---- The document's steps ----

CFileException ChangedWhileRead() {
  return CFileException(CFileException::other, FailureCause::kChangedWhileRead, 0, FileOperation::kRead);
}

// Storing the output: the pass again, each piece straight to the archive. The
// input stays loaded until the output is written.
template <bool bSkipBlank>
void StoreLineEnds(CAMFile& doc, CArchive& ar) {
  const std::uint64_t nWritten =
      ConvertLineEndPieces(doc.m_pInBuf.get(), doc.m_nInLen, bSkipBlank, kLineEndPieceBytes, doc.m_pOutBuf.get(),
                           [&ar](const unsigned char* pBytes, std::size_t nCount) { ar.Write(pBytes, nCount); });
  assert(nWritten <= doc.m_nOutLen);
  doc.m_nOutLen = static_cast<std::uint32_t>(nWritten);
}

// Saves the output, made as it is written; the input is released only after.
template <bool bSkipBlank>
int RunLineEndPass(CAMFile& doc) {
  try {
    const std::uint64_t nCapacity = 2 * std::uint64_t{doc.m_nInLen};
    assert(nCapacity <= std::numeric_limits<std::uint32_t>::max());  // LoadLineEndInput refuses longer inputs
    doc.m_pOutBuf = AllocateByteBuffer(2 * kLineEndPieceBytes);
    // An output that is the input is reserved at its new length before a byte of
    // it changes, so that length is measured first, by a pass of its own. Any
    // other output is created or truncated and needs no length: m_nOutLen holds
    // the bound, which the pass cannot exceed.
    doc.m_nOutLen = NameSameFile(doc.m_strInPath, doc.m_strOutPath)
                        ? static_cast<std::uint32_t>(MeasureLineEndOutput(doc.m_pInBuf.get(), doc.m_nInLen, bSkipBlank,
                                                                          kLineEndPieceBytes, doc.m_pOutBuf.get()))
                        : static_cast<std::uint32_t>(nCapacity);
  } catch (...) {
    RecordFailure(FailureCause::kNoMemory, FailedFile::kNone);
    doc.m_pInBuf.reset();
    doc.m_pOutBuf.reset();
    return doc.m_nStatus = QUORLIX_CRLF_PASS_FAILED;
  }
  doc.m_nStatus = QUORLIX_OK;
  doc.m_pfnStoreOutput = &StoreLineEnds<bSkipBlank>;
  const int nStatus = doc.SaveOutput();
  doc.m_pfnStoreOutput = nullptr;
  doc.m_pInBuf.reset();
  doc.m_pOutBuf.reset();
  return nStatus;
}

}  // namespace

// The length is checked as measured, so an input the pass cannot take costs no
// load; one that measures 0 is checked once read.
int CAMFile::LoadLineEndInput() {
  return LoadInput(kLongestLineEndInputBytes, QUORLIX_CRLF_PASS_FAILED, kLineEndTaker);
}

std::uint64_t ConvertLineEndPieces(const unsigned char* pIn, std::uint32_t nLen, bool bSkipBlank,
                                   std::size_t nPieceBytes, unsigned char* pScratch, const LineEndWriter& put) {
  assert(nPieceBytes > 0);
  return WithScanLevel([&]<ScanLevel L>() {
    using Scan = LineScanAt<L>;
    return bSkipBlank ? ConvertAllPieces<Scan, true>(pIn, nLen, nPieceBytes, pScratch, put)
                      : ConvertAllPieces<Scan, false>(pIn, nLen, nPieceBytes, pScratch, put);
  });
}

std::uint64_t ConvertLineEndStream(std::uint64_t nLen, bool bSkipBlank, std::size_t nPieceBytes, unsigned char* pWindow,
                                   unsigned char* pScratch, const LineEndReader& read, const LineEndWriter& put) {
  assert(nPieceBytes > 0);
  return WithScanLevel([&]<ScanLevel L>() {
    using Scan = LineScanAt<L>;
    return bSkipBlank ? ConvertStreamedPieces<Scan, true>(nLen, nPieceBytes, pWindow, pScratch, read, put)
                      : ConvertStreamedPieces<Scan, false>(nLen, nPieceBytes, pWindow, pScratch, read, put);
  });
}

// The skip-blank output is measured by converting it into the scratch buffer.
std::uint64_t MeasureLineEndOutput(const unsigned char* pIn, std::uint32_t nLen, bool bSkipBlank,
                                   std::size_t nPieceBytes, unsigned char* pScratch) {
  if (bSkipBlank)
    return ConvertLineEndPieces(pIn, nLen, true, nPieceBytes, pScratch, [](const unsigned char*, std::size_t) {});
  return WithScanLevel([&]<ScanLevel L>() {
    using Scan = LineScanAt<L>;
    return MeasurePlainOutput<Scan>(pIn, nLen);
  });
}

std::optional<int> CAMFile::ConvertLineEndsIntoNewOutput(bool bSkipBlank) {
  std::unique_ptr<CFile> pIn, pOut;
  std::uint64_t nLength = 0;
  ByteBuffer pWindow, pScratch;
  ByteBuffer pPiece;  // a long input's pieces as the read-ahead hands them over
  try {
    pIn = std::make_unique<CFile>(m_strInPath, CFile::modeRead);
    nLength = pIn->GetLength();
    if (nLength == 0 || nLength > kLongestLineEndInputBytes) return std::nullopt;
    pWindow = AllocateByteBuffer(kLineEndPieceBytes + 2);
    pScratch = AllocateByteBuffer(2 * (kLineEndPieceBytes + 1));
    // Below four pieces a thread to read ahead costs more than it saves; without a
    // thread, reading ahead would only copy each piece once more.
    if (CReadAhead::kOnItsOwnThread && nLength > 4 * kLineEndPieceBytes)
      pPiece = AllocateByteBuffer(kLineEndPieceBytes);
    pOut = std::make_unique<CFile>(m_strOutPath, CFile::modeCreate | CFile::modeCreateNew | CFile::modeOutput);
  } catch (...) {
    return std::nullopt;  // the whole-file steps meet the same failure and report it
  }

  // A long input is read ahead, a piece at a time, where a thread can start.
  std::optional<CReadAhead> ahead;
  if (pPiece) StartReadAhead(ahead, *pIn, 0, nLength, kLineEndPieceBytes);
  bool bInputFailed = false;
  const LineEndReader read = [&](unsigned char* pBuf, std::size_t nCount) {
    try {
      // A file that ends before its measured length was changed under us.
      if (ahead) {
        if (ahead->Next(pPiece) != nCount) throw ChangedWhileRead();
        std::memcpy(pBuf, pPiece.get(), nCount);
      } else if (pIn->Read(pBuf, nCount) != nCount) {
        throw ChangedWhileRead();
      }
    } catch (...) {
      bInputFailed = true;
      throw;
    }
  };
  try {
    CArchive ar(*pOut, CArchive::store);
    m_nOutLen = static_cast<std::uint32_t>(
        ConvertLineEndStream(nLength, bSkipBlank, kLineEndPieceBytes, pWindow.get(), pScratch.get(), read,
                             [&ar](const unsigned char* pBytes, std::size_t nCount) { ar.Write(pBytes, nCount); }));
    ar.Close();
    pOut->Close();
    return m_nStatus = QUORLIX_OK;
  } catch (const CFileException& e) {
    RecordFileFailure(e, bInputFailed ? FailedFile::kInput : FailedFile::kOutput);
    if (!bInputFailed) return m_nStatus = StatusFromFileException(e, kOutputFileStatuses);
    pOut->CloseAndRemove(m_strOutPath);
    return m_nStatus = StatusFromFileException(e, kInputFileStatuses);
  } catch (...) {
    RecordFailure(FailureCause::kNoMemory, FailedFile::kNone);
    pOut->CloseAndRemove(m_strOutPath);
    return m_nStatus = QUORLIX_CRLF_PASS_FAILED;
  }
}

int CAMFile::ConvertLineEnds() { return RunLineEndPass<false>(*this); }

int CAMFile::ConvertLineEndsSkipBlank() { return RunLineEndPass<true>(*this); }
