// Tables in windows of 64 bytes, at the SSSE3 and AVX2 levels.
//
// The windowed reader keeps the table's rules (ConvertTable's between rows,
// ReadRow's inside them) with fewer steps. Only two kinds of byte outside tags
// stop it: the '<' of a tag that may match a rule (its second and third bytes
// are those of a pattern: "TR", "TH", "TD", "BR" or "/T") and the '&' of a
// digit reference. Every other tag is one that the table reads and forgets, and
// every other byte outside tags is stored or dropped by its class alone, a
// comma too: the flags that decide whether it opens a quote change only at
// tags, so the text between two stops opens one when it holds a comma. So the
// bytes between two stops are stored by one bit each. A window classifies 64
// bytes (and sees the three after them): one bit per byte for its stops, its
// text bytes (those stored between stops), its commas and its '>', and for the
// stops of cell start and cell end tags, which most stops are. The reader goes
// from stop to stop by their bits, and stores the text bits between them: a
// run of them at once, bits with gaps sixteen at a time.
//
// Which bytes lie inside tags follows from the '<' and '>' alone, as in the row:
// a tag runs from a '<' met outside tags to the next '>'. Seen as 64 bits with a
// '>' as 0 and any other byte as 1, a tag is the run of ones from its '<' on plus
// the '>' that ends it, and adding the bits of every '<' to that word carries
// through each such run: the bits that the sum changes, with the '<' bits, are
// the bytes of the tags. A tag open at a window's start is one more '<' at bit 0.
// A window is made where the reader stands outside tags, or right after the
// previous one, whose last bit says whether a tag is open there. A digit
// reference, read past tags up to its ';', leaves the window's view behind: the
// reader makes a new window after it.
//
// Near nLast the window is made from a copy padded with zeros and marks every
// place from nLast on as a stop: each step that reaches nLast, where the table
// or row fails, stops there.
//
#include <cassert>
#include <cstdint>
#include <cstring>

#include "html/html_read.h"
#include "html/row_reader.h"
#include "html/row_windows.h"
#include "html/table_tags.h"
#include "quorlix.h"
#include "scan/scan_block.h"

#ifdef QUORLIX_HAS_VECTOR_SCAN
namespace {

// The bytes the windows are compared with, each 32 times in memory, so that a
// compare reads its operand there instead of spreading it into a register for
// every window. The compiler would do that again if it saw the bytes: the table
// reaches the reader through a function it cannot look into.
struct alignas(32) ByteSplat {
  unsigned char bytes[32];
};
enum SplatIndex {
  kSplatLt,
  kSplatGt,
  kSplatAmp,
  kSplatComma,
  kSplatT,
  kSplatB,
  kSplatSlash,
  kSplatR,
  kSplatH,
  kSplatD,
  kSplatDigitShift,
  kSplatDigitBound,
  kSplatLineShift,
  kSplatLineBound,
  kSplatCount
};
constexpr ByteSplat SplatOf(unsigned char b) {
  ByteSplat splat{};
  for (unsigned char& x : splat.bytes) x = b;
  return splat;
}
// In the order of SplatIndex. Adding 0x50 moves '0'-'9' to the signed bytes
// below -118 (0x8A) and every other byte above; adding 0x60 moves 0x20-0x7E
// (as in LineByteMask) to those below -33 (0xDF).
constexpr ByteSplat kSplats[kSplatCount] = {SplatOf('<'),  SplatOf('>'),  SplatOf('&'),  SplatOf(','), SplatOf('T'),
                                            SplatOf('B'),  SplatOf('/'),  SplatOf('R'),  SplatOf('H'), SplatOf('D'),
                                            SplatOf(0x50), SplatOf(0x8A), SplatOf(0x60), SplatOf(0xDF)};
// clang-format off
#ifdef __clang__
[[gnu::noinline]]
#else
[[gnu::noipa]]
#endif
const ByteSplat* OpaqueSplats() {
  return kSplats;
}
// clang-format on

class TableWindow {
 public:
  static constexpr std::uint32_t kWindowBytes = 64;
  // Runs of text are copied in pieces of 32 bytes; the copy of the window near
  // nLast has room for one past its end.
  static constexpr std::uint32_t kTextPieceBytes = 32;

  TableWindow(const unsigned char* pIn, std::uint32_t nLast) : m_pIn(pIn), m_nLast(nLast), m_pSplats(OpaqueSplats()) {}

  // Makes the window at i <= nLast; bInTag says whether a tag is open before i,
  // classifying a Block of bytes a compare.
  template <typename Block>
  [[gnu::always_inline]] void Make(std::uint32_t i, bool bInTag) {
    // A window of the input needs the three bytes after its last, at or before nLast.
    const bool bInInput = m_nLast - i > kWindowBytes + 1;
    const unsigned char* pSource = m_pIn + i;
    if (!bInInput) {
      std::memset(m_tail, 0, sizeof m_tail);
      std::memcpy(m_tail, pSource, m_nLast + 1 - i);
      pSource = m_tail;
    }
    const WindowMasks masks = Classify<Block>(pSource, m_pSplats);
    const std::uint64_t nLt = masks.nLt;
    const std::uint64_t nGt = masks.nGt;
    const std::uint64_t nOpenBefore = bInTag ? 1 : 0;
    const std::uint64_t nStarts = nLt | nOpenBefore;
    const std::uint64_t nInTag = ((~nGt + nStarts) ^ ~nGt) | nStarts;
    const std::uint64_t nOpen = nInTag & ~nGt;
    // A '<' opens a tag where the byte before it is not inside an open one; of
    // the marked bytes inside tags, only those stay.
    const std::uint64_t nOpens = nLt & ~(nOpen << 1 | nOpenBefore);
    std::uint64_t nStops = masks.nMarked & (~nInTag | nOpens);
    if (m_nLast - i < kWindowBytes) nStops |= ~std::uint64_t{0} << (m_nLast - i);
    const std::uint64_t nText = masks.nPlain & ~nInTag;
    m_nCommas = masks.nComma & nText;
    m_nCellStarts = masks.nCellStart;
    m_nCellEnds = masks.nCellEnd;

    m_pSource = pSource;
    m_bRoomy = bInInput && m_nLast + 1 - i >= 2 * kWindowBytes;
    m_nBase = i;
    m_nText = nText;
    m_nStops = nStops;
    m_nTagEnds = nGt;
    m_bEndsInTag = (nOpen >> 63) != 0;
  }

  std::uint32_t Base() const { return m_nBase; }
  std::uint64_t TextBits() const { return m_nText; }
  std::uint64_t CommaBits() const { return m_nCommas; }
  // At a stop's bit: whether its tag is a cell start or a cell end tag.
  std::uint64_t CellStartBits() const { return m_nCellStarts; }
  std::uint64_t CellEndBits() const { return m_nCellEnds; }
  std::uint64_t StopBits() const { return m_nStops; }
  std::uint64_t TagEndBits() const { return m_nTagEnds; }
  bool EndsInTag() const { return m_bEndsInTag; }
  // The window's bytes; when roomy, a piece of 64 bytes may be read from any of them.
  const unsigned char* Source() const { return m_pSource; }
  bool IsRoomy() const { return m_bRoomy; }

 private:
  // The masks of a window: '<', '>', the bytes that are text unless inside a tag
  // (commas among them), the stops unless inside a tag (the '<' of a rule's tag
  // and the '&' of a digit reference), ',', and the bytes whose next bytes are
  // those of a cell start tag's pattern ("TD", "TH") or of a cell end tag's
  // ("/TD", "/TH"): at a stop, its tag's kind.
  struct WindowMasks {
    std::uint64_t nLt = 0;
    std::uint64_t nGt = 0;
    std::uint64_t nPlain = 0;
    std::uint64_t nMarked = 0;
    std::uint64_t nComma = 0;
    std::uint64_t nCellStart = 0;
    std::uint64_t nCellEnd = 0;
  };

  // The masks of the window at pSource, which may be read up to three bytes past it.
  template <typename Block>
  [[gnu::always_inline]] static WindowMasks Classify(const unsigned char* pSource, const ByteSplat* pSplats) {
    const auto Splat = [pSplats](SplatIndex k) { return Block::LoadAligned(pSplats[k].bytes); };
    WindowMasks masks;
    for (unsigned k = 0; k < kWindowBytes; k += Block::kBytes) {
      const Block v = Block::Load(pSource + k);
      const Block vSecond = Block::Load(pSource + k + 1);
      const Block vThird = Block::Load(pSource + k + 2);
      const Block vFourth = Block::Load(pSource + k + 3);
      const Block vLt = v == Splat(kSplatLt);
      const Block vGt = v == Splat(kSplatGt);
      // Adding 0x50 moves '0'-'9' to -128..-119, the signed bytes below -118, and
      // every other byte above.
      const Block vDigitNext = Splat(kSplatDigitBound).SignedAbove(vSecond + Splat(kSplatDigitShift));
      const Block vReference = (v == Splat(kSplatAmp)) & vDigitNext;
      const Block vThirdR = vThird == Splat(kSplatR);
      const Block vThirdCell = (vThird == Splat(kSplatH)) | (vThird == Splat(kSplatD));
      const Block vSecondT = vSecond == Splat(kSplatT);
      const Block vEndThenT = (vSecond == Splat(kSplatSlash)) & (vThird == Splat(kSplatT));
      const Block vRulePair = (vSecondT & (vThirdR | vThirdCell)) | ((vSecond == Splat(kSplatB)) & vThirdR) | vEndThenT;
      const Block vFourthCell = (vFourth == Splat(kSplatH)) | (vFourth == Splat(kSplatD));
      const Block vNotPlain = vLt | vGt | vReference;
      // As in LineByteMask: 0x20-0x7E become the signed bytes below -33.
      const Block vLine = Splat(kSplatLineBound).SignedAbove(v + Splat(kSplatLineShift));
      masks.nLt |= vLt.Mask() << k;
      masks.nGt |= vGt.Mask() << k;
      masks.nPlain |= vLine.AndNot(vNotPlain).Mask() << k;
      masks.nMarked |= ((vLt & vRulePair) | vReference).Mask() << k;
      masks.nComma |= (v == Splat(kSplatComma)).Mask() << k;
      masks.nCellStart |= (vSecondT & vThirdCell).Mask() << k;
      masks.nCellEnd |= (vEndThenT & vFourthCell).Mask() << k;
    }
    return masks;
  }

  const unsigned char* m_pIn;
  std::uint32_t m_nLast;
  const ByteSplat* m_pSplats;
  std::uint32_t m_nBase = 0;
  std::uint64_t m_nText = 0;
  std::uint64_t m_nCommas = 0;
  std::uint64_t m_nCellStarts = 0;
  std::uint64_t m_nCellEnds = 0;
  std::uint64_t m_nStops = 0;
  std::uint64_t m_nTagEnds = 0;
  bool m_bEndsInTag = false;
  const unsigned char* m_pSource = nullptr;
  bool m_bRoomy = false;
  alignas(16) unsigned char m_tail[kWindowBytes + kTextPieceBytes];
};

// The table's rules, those of ConvertTable between rows and of ReadRow inside
// them, from stop to stop; see TableWindow. Between rows the text is stored as
// in a row, but no comma opens a quote (as after a cell end), and a row start
// tag opens a row where ConvertTable would hand the reading to ReadRow. Gives
// QUORLIX_OK with nOut and nPos set past the table, or the status of the step
// that failed: a row's own steps fail as the row, the others as the table. The
// input before each window is passed to release.
// Inlined into one function per form of the windows, without target options of
// its own.
template <typename Block>
[[gnu::always_inline]] inline int ReadTableInWindows(const unsigned char* pIn, std::uint32_t nLast, unsigned char* pOut,
                                                     std::uint32_t nOutCapacity, std::uint32_t& nOut,
                                                     std::uint32_t& nPos, InputRelease& release) {
  assert(pIn[nLast] == '>');
  std::uint32_t j = nOut;
  const auto Store = [&](unsigned char b) {
    assert(j < nOutCapacity);
    pOut[j++] = b;
  };
  // Stores the window's text bytes that the bits of nText select: a run at once,
  // in whole pieces where both sides have room for them, and bits that leave
  // gaps sixteen at a time, gathered in order.
  const auto StoreText = [&](const TableWindow& window, std::uint64_t nText) {
    assert(nText != 0);
    const auto nFirst = static_cast<std::uint32_t>(__builtin_ctzll(nText));
    const auto nEnd = static_cast<std::uint32_t>(64 - __builtin_clzll(nText));
    const bool bRoomy = window.IsRoomy() && nOutCapacity - j >= TableWindow::kWindowBytes;
    const std::uint64_t nFromFirst = nText >> nFirst;
    if ((nFromFirst & (nFromFirst + 1)) == 0) {
      const std::uint32_t nRun = nEnd - nFirst;
      const unsigned char* const pRun = window.Source() + nFirst;
      if (bRoomy) {
        std::memcpy(pOut + j, pRun, TableWindow::kTextPieceBytes);
        if (nRun > TableWindow::kTextPieceBytes)
          std::memcpy(pOut + j + TableWindow::kTextPieceBytes, pRun + TableWindow::kTextPieceBytes,
                      TableWindow::kTextPieceBytes);
      } else {
        std::memcpy(pOut + j, pRun, nRun);
      }
      j += nRun;
    } else if (bRoomy) {
      for (std::uint32_t k = nFirst & ~15u; k < nEnd; k += 16)
        j += static_cast<std::uint32_t>(
            Block::StoreSelected(window.Source() + k, static_cast<unsigned>(nText >> k) & 0xFFFF, pOut + j));
    } else {
      for (std::uint64_t nLeft = nText; nLeft != 0; nLeft &= nLeft - 1) Store(window.Source()[__builtin_ctzll(nLeft)]);
    }
  };
  // The row being read, if any: its first byte in the output, and its cell's mark and flags.
  bool bInRow = false;
  std::uint32_t nRowOut = j;
  CellMark mark{nPos, j};
  bool bQuoted = false;
  bool bCellClosed = true;
  // Text between two stops, where a comma opens the cell's quote as in ReadRow.
  // Read again from its start behind the quote, the cell would give the bytes
  // already stored once more (no cell tag lies between), so the quote goes in
  // before them instead; a cell's first text has none before it.
  const auto StoreCellText = [&](const TableWindow& window, std::uint64_t nText) {
    if (nText == 0) return;
    // Whether a cell holds a comma follows no pattern a branch could learn, so
    // the quote is stored at j either way and kept only when it opens; the text
    // goes there next when it does not.
    const bool bOpens = ((nText & window.CommaBits()) != 0) & !bQuoted & !bCellClosed;
    if (bOpens & (j != mark.nOut)) {
      assert(j < nOutCapacity);
      std::memmove(pOut + mark.nOut + 1, pOut + mark.nOut, j - mark.nOut);
      pOut[mark.nOut] = '"';
      ++j;
    } else {
      Store('"');
      j -= bOpens ? 0 : 1;
    }
    bQuoted = bQuoted | bOpens;
    StoreText(window, nText);
  };
  const auto Failed = [&] { return bInRow ? QUORLIX_HTML_ROW_FAILED : QUORLIX_HTML_TABLE_FAILED; };
  // The table end tag's own CR LF, after a row's when it ends one.
  const auto EndTable = [&](std::uint32_t nGt) {
    Store('\r');
    Store('\n');
    nOut = j;
    nPos = nGt + 1;
    return QUORLIX_OK;
  };
  if (nPos > nLast) return QUORLIX_HTML_TABLE_FAILED;
  TableWindow window(pIn, nLast);
  // Where the next window is made, and whether a tag is open there; one place
  // makes every window.
  std::uint32_t nNext = nPos;
  bool bNextInTag = false;

  for (;;) {
    release.Passed(nNext);
    window.template Make<Block>(nNext, bNextInTag);
    const std::uint32_t nBase = window.Base();
    std::uint64_t nTextLeft = window.TextBits();  // not yet stored
    std::uint32_t nResume = 0;                    // where a new window is made after a digit reference; 0 for none
    for (std::uint64_t nStops = window.StopBits(); nStops != 0; nStops &= nStops - 1) {
      const auto nStop = static_cast<std::uint32_t>(__builtin_ctzll(nStops));
      StoreCellText(window, nTextLeft & ((std::uint64_t{1} << nStop) - 1));
      nTextLeft &= ~std::uint64_t{1} << nStop;

      // A stop; one at nLast (its '>') or after it fails.
      const std::uint32_t i = nBase + nStop;
      if (i >= nLast) return Failed();
      const unsigned char ch = pIn[i];
      if (ch == '&') {
        assert(IsDecimalDigit(pIn[i + 1]));
        // A digit reference, up to its ';' (never the '>' at nLast), vanishes.
        const void* pSemicolon = std::memchr(pIn + i + 2, ';', nLast - i - 1);
        if (!pSemicolon) return Failed();
        nResume = static_cast<std::uint32_t>(static_cast<const unsigned char*>(pSemicolon) - pIn) + 1;
        break;
      }
      assert(ch == '<');
      // The tag ends at the window's next '>', or past the window, never past nLast.
      const std::uint64_t nEnds = window.TagEndBits() >> nStop;
      std::uint32_t nGt = nBase + TableWindow::kWindowBytes;
      if (nEnds != 0) nGt = i + static_cast<std::uint32_t>(__builtin_ctzll(nEnds));
      else
        while (pIn[nGt] != '>') ++nGt;
      // A stop's tag has a second and a third byte of a pattern, neither a '>'.
      assert(nGt - i >= 3);
      if (bInRow) {
        // Cell tags, most of a row's, are known by their bits; the others are looked up.
        const std::uint64_t nStopBit = nStops & (0 - nStops);
        std::uint32_t nRowNext = 0;
        const auto Take = [&](TableTag tag) {
          return TakeRowTag(tag, i, nGt, pOut, j, mark, bQuoted, bCellClosed, nRowOut, nRowNext, Store);
        };
        if ((window.CellEndBits() & nStopBit) != 0) {
          Take(TableTag::kCellEnd);
        } else if ((window.CellStartBits() & nStopBit) != 0) {
          Take(TableTag::kCellStart);
        } else if (const TableTag tag = TagInsideRowAt(pIn + i, nGt - i); Take(tag)) {
          if (tag == TableTag::kTableEnd) return EndTable(nGt);
          bInRow = false;
          bCellClosed = true;
        }
      } else {
        const TableTag tag = TagBetweenRowsAt(pIn + i, nGt - i);
        if (tag == TableTag::kTableEnd) return EndTable(nGt);
        if (tag == TableTag::kRowStart) {
          bInRow = true;
          nRowOut = j;
          mark = {nGt + 1, j};
          bQuoted = false;
          bCellClosed = false;
        }
      }
      // On to the byte after the '>', which must not be the body end's.
      if (nGt == nLast) return Failed();
    }
    if (nResume != 0) {
      nNext = nResume;
      bNextInTag = false;
      continue;
    }
    // No stop left: the rest of the window's text, then the next window.
    StoreCellText(window, nTextLeft);
    nNext = nBase + TableWindow::kWindowBytes;
    bNextInTag = window.EndsInTag();
  }
}
}  // namespace

// The two forms. Flattened, so that the steps of the block type, each with its
// level's target, are inlined into the one loop of the form.
[[gnu::flatten]] QUORLIX_SSSE3_TARGET int ReadTableSsse3(const unsigned char* pIn, std::uint32_t nLast,
                                                         unsigned char* pOut, std::uint32_t nOutCapacity,
                                                         std::uint32_t& nOut, std::uint32_t& nPos,
                                                         InputRelease& release) {
  return ReadTableInWindows<Ssse3Block>(pIn, nLast, pOut, nOutCapacity, nOut, nPos, release);
}
[[gnu::flatten]] QUORLIX_AVX2_TARGET int ReadTableAvx2(const unsigned char* pIn, std::uint32_t nLast,
                                                       unsigned char* pOut, std::uint32_t nOutCapacity,
                                                       std::uint32_t& nOut, std::uint32_t& nPos,
                                                       InputRelease& release) {
  return ReadTableInWindows<Avx2Block>(pIn, nLast, pOut, nOutCapacity, nOut, nPos, release);
}
#endif
