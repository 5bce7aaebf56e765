// Tables as comma-separated lines: each row becomes one line ended by CR LF, its
// cells separated by commas, a cell holding a comma enclosed in double quotes,
// and the table followed by one more CR LF. A row is built in place at the end of
// the output: a comma found inside a cell sends the reading back to the cell's
// start and cuts the row back to where the cell began, to store the cell again
// behind an opening quote.
//
// Why the output buffer of the body (body end - body start + 1 bytes) is never
// overrun, at any moment: every byte written can be charged to a distinct input
// byte of the body read before it is written. Text stands for itself; an opening
// quote for the '>' of the cell or row start tag that set the mark (a mark opens
// one quote at most); the closing quote
// and comma of a cell for the '<' and '/' of its end tag; the CR LF of "<BR" for
// its '<' and 'B'; the LF after a row end for its '<' (CR too, for '/', when the
// row was empty); the CR LF that a table end tag adds to a row for its '<' and
// '/', and the table's own CR LF for its 'T' and 'A' when the tag is read twice.
// A row cut back to its mark drops exactly the bytes charged after the mark.
#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "document/am_file.h"
#include "html/html_scan.h"
#include "quorlix.h"

namespace {

// ---- Tags of a table ----

enum class TableTag : std::uint8_t { kOther, kRowStart, kLineBreak, kCellStart, kRowEnd, kTableEnd, kCellEnd };

// What a tag beginning with the pattern does between rows and inside a row.
struct TableTagRule {
  std::string_view pattern;
  TableTag betweenRows;
  TableTag insideRow;
};

// "<TH" also matches a table head group tag, which then acts as a header cell
// tag does: between rows it starts a row, inside one it marks a cell. The cell
// patterns are those of m_strCellTag and m_strCellEndTag, written out because
// the header cell tags that share their rows have no field.
// clang-format off
constexpr TableTagRule kTableTagRules[] = {
    {"<TR", TableTag::kRowStart, TableTag::kOther},
    {"<TH", TableTag::kRowStart, TableTag::kCellStart},
    {"<TD", TableTag::kOther, TableTag::kCellStart},
    {"<BR", TableTag::kOther, TableTag::kLineBreak},
    {"</TD", TableTag::kOther, TableTag::kCellEnd},
    {"</TH", TableTag::kOther, TableTag::kCellEnd},
    {"</TR", TableTag::kOther, TableTag::kRowEnd},
    {"</TABL", TableTag::kTableEnd, TableTag::kTableEnd},
};
// clang-format on

// No pattern begins another, so a tag matches one rule at most and the order of
// the rows does not matter. Every pattern is three bytes or more and begins with
// '<', as every tag does, so its second and third bytes rule out most rules
// before the rest is compared.
static_assert([] {
  for (const auto& a : kTableTagRules) {
    if (a.pattern.size() < 3 || a.pattern[0] != '<') return false;
    for (const auto& b : kTableTagRules)
      if (&a != &b && a.pattern.starts_with(b.pattern)) return false;
  }
  return true;
}());

// Bit r is set in row b of kRulesBySecondByte when rule r's pattern has b as its
// second byte, and likewise for the third byte: a tag's two rows leave only the
// rules that can match it, none for most tags.
using RuleSet = std::uint8_t;
static_assert(std::size(kTableTagRules) <= 8 * sizeof(RuleSet));

constexpr std::array<RuleSet, 256> MakeRulesByByte(std::size_t nAt) {
  std::array<RuleSet, 256> rules{};
  for (std::size_t r = 0; r < std::size(kTableTagRules); ++r)
    rules[static_cast<unsigned char>(kTableTagRules[r].pattern[nAt])] |= static_cast<RuleSet>(1u << r);
  return rules;
}
constexpr auto kRulesBySecondByte = MakeRulesByByte(1);
constexpr auto kRulesByThirdByte = MakeRulesByByte(2);

// The rules left by the two rows agree with the tag in its second and third bytes,
// and every pattern and tag begins with '<': the bytes after those decide.
[[gnu::always_inline]] inline const TableTagRule* FindTableTagRule(std::string_view tag) {
  if (tag.size() < 3) return nullptr;
  unsigned nRules =
      kRulesBySecondByte[static_cast<unsigned char>(tag[1])] & kRulesByThirdByte[static_cast<unsigned char>(tag[2])];
  for (; nRules != 0; nRules &= nRules - 1) {
    const TableTagRule& rule = kTableTagRules[__builtin_ctz(nRules)];
    if (tag.size() < rule.pattern.size()) continue;
    std::size_t k = 3;
    while (k < rule.pattern.size() && tag[k] == rule.pattern[k]) ++k;
    if (k == rule.pattern.size()) return &rule;
  }
  return nullptr;
}

// A fourth table for the rules whose patterns reach a fourth byte; the shorter
// patterns stand in every row. The three tables leave one rule at most for any
// tag of three bytes or more: two rules always differ in a byte that both have
// among the second, third and fourth.
constexpr std::array<RuleSet, 256> MakeRulesByFourthByte() {
  std::array<RuleSet, 256> rules{};
  for (std::size_t r = 0; r < std::size(kTableTagRules); ++r) {
    const std::string_view pattern = kTableTagRules[r].pattern;
    for (std::size_t b = 0; b < 256; ++b)
      if (pattern.size() < 4 || static_cast<unsigned char>(pattern[3]) == b) rules[b] |= static_cast<RuleSet>(1u << r);
  }
  return rules;
}
constexpr auto kRulesByFourthByte = MakeRulesByFourthByte();
static_assert([] {
  for (const auto& a : kTableTagRules)
    for (const auto& b : kTableTagRules) {
      if (&a == &b) continue;
      const std::size_t nShared = std::min<std::size_t>(std::min(a.pattern.size(), b.pattern.size()), 4);
      bool bDiffer = false;
      for (std::size_t k = 1; k < nShared; ++k) bDiffer = bDiffer || a.pattern[k] != b.pattern[k];
      if (!bDiffer) return false;
    }
  return true;
}());

// The rule of the tag of nSize >= 3 bytes at p, as FindTableTagRule finds it;
// p[3] may be read (it is the tag's '>' when nSize is 3).
[[gnu::always_inline]] inline const TableTagRule* FindTableTagRuleAt(const unsigned char* p, std::uint32_t nSize) {
  const unsigned nRules = kRulesBySecondByte[p[1]] & kRulesByThirdByte[p[2]] & kRulesByFourthByte[p[3]];
  if (nRules == 0) return nullptr;
  const TableTagRule& rule = kTableTagRules[__builtin_ctz(nRules)];
  if (nSize < rule.pattern.size()) return nullptr;
  for (std::size_t k = 4; k < rule.pattern.size(); ++k)
    if (p[k] != static_cast<unsigned char>(rule.pattern[k])) return nullptr;
  return &rule;
}

[[gnu::always_inline]] inline TableTag TagBetweenRowsAt(const unsigned char* p, std::uint32_t nSize) {
  const TableTagRule* const rule = FindTableTagRuleAt(p, nSize);
  return rule ? rule->betweenRows : TableTag::kOther;
}

[[gnu::always_inline]] inline TableTag TagInsideRowAt(const unsigned char* p, std::uint32_t nSize) {
  const TableTagRule* const rule = FindTableTagRuleAt(p, nSize);
  return rule ? rule->insideRow : TableTag::kOther;
}

[[gnu::always_inline]] inline TableTag TagBetweenRows(std::string_view tag) {
  const TableTagRule* const rule = FindTableTagRule(tag);
  return rule ? rule->betweenRows : TableTag::kOther;
}

[[gnu::always_inline]] inline TableTag TagInsideRow(std::string_view tag) {
  const TableTagRule* const rule = FindTableTagRule(tag);
  return rule ? rule->insideRow : TableTag::kOther;
}

// Where a cell's text begins: the read position after its start tag and the
// output length then. A row starts with a mark on its own first byte.
struct CellMark {
  std::uint32_t nPos;
  std::uint32_t nOut;
};

// A table tag met inside a row at i, its '>' at nGt, applied to the row built so
// far in pOut up to j (from nOut on): true when it ends the row, with nOut and
// nPos set to the row's end in the output and to where reading goes on. The row
// reader and the windowed table reader share it.
template <typename StoreFn>
[[gnu::always_inline]] inline bool TakeRowTag(TableTag tag, std::uint32_t i, std::uint32_t nGt, unsigned char* pOut,
                                              std::uint32_t& j, CellMark& mark, bool& bQuoted, bool& bCellClosed,
                                              std::uint32_t& nOut, std::uint32_t& nPos, const StoreFn& Store) {
  switch (tag) {
    case TableTag::kLineBreak:
      Store('\r');
      Store('\n');
      break;
    case TableTag::kCellStart:
      mark = {nGt + 1, j};
      bCellClosed = false;
      break;
    case TableTag::kRowEnd:
      // The row's last byte (the comma after its last cell) becomes CR; an
      // empty row has none to give, so it stores the whole line end.
      if (j == nOut) Store('\r');
      else pOut[j - 1] = '\r';
      Store('\n');
      nOut = j;
      nPos = nGt + 1;
      return true;
    case TableTag::kTableEnd:
      // Left on the tag's '<', so that the table reads its end tag itself.
      Store('\r');
      Store('\n');
      nOut = j;
      nPos = i;
      return true;
    case TableTag::kCellEnd:
      // The closing quote goes where the comma goes when there is none.
      pOut[j] = '"';
      j += bQuoted ? 1 : 0;
      Store(',');
      bQuoted = false;
      bCellClosed = true;
      break;
    case TableTag::kRowStart:
    case TableTag::kOther: break;
  }
  return false;
}

}  // namespace

// ---- Row ----

namespace {

// Reads the row from the byte after its start tag (at nPos) up to its end, with
// the runs of kept bytes and the tag ends found by Cursor, and writes its line at
// nOut. False when a step would take a byte after the body end (nLast). Inlined
// into one function per scanner, so that the vector scanner's steps are inlined
// with it; the read and write positions stay local, held in registers rather
// than reloaded after every byte stored.
//
// The loop keeps i, the index of the byte being handled (ch, with p = i + 1), and
// handles each byte by its class alone. A step takes a byte after the body end
// only from the body end's own '>' at nLast: text runs, dropped bytes and digit
// references all stop before it, and a tag closes at the latest on it. So the
// row fails exactly where i would leave nLast, or where a digit reference has no
// ';' before it.
template <typename Cursor>
[[gnu::always_inline]] inline bool ReadRow(const unsigned char* pIn, std::uint32_t nLast, unsigned char* pOut,
                                           std::uint32_t nOutCapacity, std::uint32_t& nOut, std::uint32_t& nPos) {
  assert(pIn[nLast] == '>');
  std::uint32_t j = nOut;
  const auto Store = [&](unsigned char b) {
    assert(j < nOutCapacity);
    pOut[j++] = b;
  };
  CellMark mark{nPos, j};
  bool bQuoted = false;
  // After a cell end tag the mark still names the closed cell; reading that cell
  // again for a comma between cells would meet the same comma for ever, so such a
  // comma is plain text.
  bool bCellClosed = false;
  std::uint32_t i = nPos;
  if (i > nLast) return false;
  Cursor cursor(pIn, nLast);

  for (;;) {
    const unsigned char ch = pIn[i];
    switch (kRowTextBytes[ch]) {
      case TextByte::kDropped: ++i; continue;
      case TextByte::kComma:
        if (!bQuoted && !bCellClosed) {
          // The cell holds a comma: store it again from its start, behind a quote.
          j = mark.nOut;
          i = mark.nPos;
          Store('"');
          bQuoted = true;
          continue;
        }
        break;  // stored as text
      case TextByte::kAmpersand:
        if (IsDecimalDigit(pIn[i + 1])) {
          // A digit reference, up to its ';' (never the '>' at nLast), vanishes.
          const void* pSemicolon = std::memchr(pIn + i + 2, ';', nLast - i - 1);
          if (!pSemicolon) return false;
          i = static_cast<std::uint32_t>(static_cast<const unsigned char*>(pSemicolon) - pIn) + 1;
          continue;
        }
        break;  // stored as text
      case TextByte::kKept: break;
      case TextByte::kTagEdge:
        if (ch == '>') {
          if (i == nLast) return false;
          ++i;
          continue;
        }
        {
          const std::uint32_t nGt = cursor.NextTagEnd(i + 1);
          if (nGt > nLast) return false;
          const std::string_view tag(reinterpret_cast<const char*>(pIn) + i, nGt - i);
          if (TakeRowTag(TagInsideRow(tag), i, nGt, pOut, j, mark, bQuoted, bCellClosed, nOut, nPos, Store))
            return true;
          // On to the byte after the '>', which must not be the body end's.
          if (nGt == nLast) return false;
          i = nGt + 1;
          continue;
        }
    }
    // Stored as text, with the kept bytes that follow it at once; '>' at nLast ends every run.
    const std::uint32_t nStop = cursor.NextStop(i + 1);
    CopyTextRun(pOut + j, nOutCapacity - j, pIn + i, nLast + 1 - i, nStop - i);
    j += nStop - i;
    i = nStop;
  }
}

#ifdef QUORLIX_HAS_VECTOR_SCAN
// ---- Tables in windows of 64 bytes ----
//
// The vector reader keeps the table's rules (ConvertTable's between rows,
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

  // Makes the window at i <= nLast; bInTag says whether a tag is open before i.
  // The wide form classifies 32 bytes a compare, the other 16.
  template <bool bWide>
  [[gnu::always_inline]] void Make(std::uint32_t i, bool bInTag) {
    // A window of the input needs the three bytes after its last, at or before nLast.
    const bool bInInput = m_nLast - i > kWindowBytes + 1;
    const unsigned char* pSource = m_pIn + i;
    if (!bInInput) {
      std::memset(m_tail, 0, sizeof m_tail);
      std::memcpy(m_tail, pSource, m_nLast + 1 - i);
      pSource = m_tail;
    }
    const WindowMasks masks = bWide ? ClassifyWide(pSource, m_pSplats) : ClassifyVector(pSource, m_pSplats);
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

  // VectorLineScan::StoreSelected, in the encoding of the form that calls it.
  template <bool bWide>
  [[gnu::always_inline]] static std::size_t Gather(const unsigned char* p, unsigned nMask, unsigned char* pOut) {
    return bWide ? GatherWide(p, nMask, pOut) : GatherVector(p, nMask, pOut);
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

  QUORLIX_VECTOR_TARGET static std::size_t GatherVector(const unsigned char* p, unsigned nMask, unsigned char* pOut) {
    return VectorLineScan::StoreSelected(p, nMask, pOut);
  }
  QUORLIX_WIDE_TARGET static std::size_t GatherWide(const unsigned char* p, unsigned nMask, unsigned char* pOut) {
    return VectorLineScan::StoreSelected(p, nMask, pOut);
  }

  QUORLIX_VECTOR_TARGET static std::uint64_t MaskOf(__m128i v) {
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(v)));
  }
  QUORLIX_VECTOR_TARGET static __m128i SplatVector(const ByteSplat& splat) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(splat.bytes));
  }
  QUORLIX_VECTOR_TARGET static __m128i Equals(__m128i v, const ByteSplat& splat) {
    return _mm_cmpeq_epi8(v, SplatVector(splat));
  }

  QUORLIX_VECTOR_TARGET static WindowMasks ClassifyVector(const unsigned char* pSource, const ByteSplat* pSplats) {
    WindowMasks masks;
    for (unsigned k = 0; k < kWindowBytes; k += 16) {
      const __m128i v = VectorHtmlScan::Load(pSource + k);
      const __m128i vSecond = VectorHtmlScan::Load(pSource + k + 1);
      const __m128i vThird = VectorHtmlScan::Load(pSource + k + 2);
      const __m128i vFourth = VectorHtmlScan::Load(pSource + k + 3);
      const __m128i vLt = Equals(v, pSplats[kSplatLt]);
      const __m128i vGt = Equals(v, pSplats[kSplatGt]);
      // Adding 0x50 moves '0'-'9' to -128..-119, the signed bytes below -118, and
      // every other byte above.
      const __m128i vDigitNext = _mm_cmpgt_epi8(SplatVector(pSplats[kSplatDigitBound]),
                                                _mm_add_epi8(vSecond, SplatVector(pSplats[kSplatDigitShift])));
      const __m128i vReference = _mm_and_si128(Equals(v, pSplats[kSplatAmp]), vDigitNext);
      const __m128i vThirdR = Equals(vThird, pSplats[kSplatR]);
      const __m128i vThirdCell = _mm_or_si128(Equals(vThird, pSplats[kSplatH]), Equals(vThird, pSplats[kSplatD]));
      const __m128i vSecondT = Equals(vSecond, pSplats[kSplatT]);
      const __m128i vEndThenT = _mm_and_si128(Equals(vSecond, pSplats[kSplatSlash]), Equals(vThird, pSplats[kSplatT]));
      const __m128i vRulePair = _mm_or_si128(_mm_or_si128(_mm_and_si128(vSecondT, _mm_or_si128(vThirdR, vThirdCell)),
                                                          _mm_and_si128(Equals(vSecond, pSplats[kSplatB]), vThirdR)),
                                             vEndThenT);
      const __m128i vFourthCell = _mm_or_si128(Equals(vFourth, pSplats[kSplatH]), Equals(vFourth, pSplats[kSplatD]));
      const __m128i vNotPlain = _mm_or_si128(_mm_or_si128(vLt, vGt), vReference);
      masks.nLt |= MaskOf(vLt) << k;
      masks.nGt |= MaskOf(vGt) << k;
      masks.nPlain |= (static_cast<std::uint64_t>(VectorLineScan::LineByteMask(v)) & ~MaskOf(vNotPlain)) << k;
      masks.nMarked |= MaskOf(_mm_or_si128(_mm_and_si128(vLt, vRulePair), vReference)) << k;
      masks.nComma |= MaskOf(Equals(v, pSplats[kSplatComma])) << k;
      masks.nCellStart |= MaskOf(_mm_and_si128(vSecondT, vThirdCell)) << k;
      masks.nCellEnd |= MaskOf(_mm_and_si128(vEndThenT, vFourthCell)) << k;
    }
    return masks;
  }

  QUORLIX_WIDE_TARGET static std::uint64_t MaskOf(__m256i v) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(v)));
  }
  QUORLIX_WIDE_TARGET static __m256i SplatWide(const ByteSplat& splat) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(splat.bytes));
  }
  QUORLIX_WIDE_TARGET static __m256i Equals(__m256i v, const ByteSplat& splat) {
    return _mm256_cmpeq_epi8(v, SplatWide(splat));
  }
  QUORLIX_WIDE_TARGET static __m256i Load(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }

  // The same masks, 32 bytes a compare.
  QUORLIX_WIDE_TARGET static WindowMasks ClassifyWide(const unsigned char* pSource, const ByteSplat* pSplats) {
    WindowMasks masks;
    for (unsigned k = 0; k < kWindowBytes; k += 32) {
      const __m256i v = Load(pSource + k);
      const __m256i vSecond = Load(pSource + k + 1);
      const __m256i vThird = Load(pSource + k + 2);
      const __m256i vFourth = Load(pSource + k + 3);
      const __m256i vLt = Equals(v, pSplats[kSplatLt]);
      const __m256i vGt = Equals(v, pSplats[kSplatGt]);
      const __m256i vDigitNext = _mm256_cmpgt_epi8(SplatWide(pSplats[kSplatDigitBound]),
                                                   _mm256_add_epi8(vSecond, SplatWide(pSplats[kSplatDigitShift])));
      const __m256i vReference = _mm256_and_si256(Equals(v, pSplats[kSplatAmp]), vDigitNext);
      const __m256i vThirdR = Equals(vThird, pSplats[kSplatR]);
      const __m256i vThirdCell = _mm256_or_si256(Equals(vThird, pSplats[kSplatH]), Equals(vThird, pSplats[kSplatD]));
      const __m256i vSecondT = Equals(vSecond, pSplats[kSplatT]);
      const __m256i vEndThenT =
          _mm256_and_si256(Equals(vSecond, pSplats[kSplatSlash]), Equals(vThird, pSplats[kSplatT]));
      const __m256i vRulePair =
          _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(vSecondT, _mm256_or_si256(vThirdR, vThirdCell)),
                                          _mm256_and_si256(Equals(vSecond, pSplats[kSplatB]), vThirdR)),
                          vEndThenT);
      const __m256i vFourthCell = _mm256_or_si256(Equals(vFourth, pSplats[kSplatH]), Equals(vFourth, pSplats[kSplatD]));
      const __m256i vNotPlain = _mm256_or_si256(_mm256_or_si256(vLt, vGt), vReference);
      // As in LineByteMask: 0x20-0x7E become the signed bytes below -33.
      const __m256i vLine = _mm256_cmpgt_epi8(SplatWide(pSplats[kSplatLineBound]),
                                              _mm256_add_epi8(v, SplatWide(pSplats[kSplatLineShift])));
      masks.nLt |= MaskOf(vLt) << k;
      masks.nGt |= MaskOf(vGt) << k;
      masks.nPlain |= MaskOf(_mm256_andnot_si256(vNotPlain, vLine)) << k;
      masks.nMarked |= MaskOf(_mm256_or_si256(_mm256_and_si256(vLt, vRulePair), vReference)) << k;
      masks.nComma |= MaskOf(Equals(v, pSplats[kSplatComma])) << k;
      masks.nCellStart |= MaskOf(_mm256_and_si256(vSecondT, vThirdCell)) << k;
      masks.nCellEnd |= MaskOf(_mm256_and_si256(vEndThenT, vFourthCell)) << k;
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
template <bool bWide>
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
            TableWindow::Gather<bWide>(window.Source() + k, static_cast<unsigned>(nText >> k) & 0xFFFF, pOut + j));
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
    window.template Make<bWide>(nNext, bNextInTag);
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
QUORLIX_VECTOR_TARGET int ReadTableVector(const unsigned char* pIn, std::uint32_t nLast, unsigned char* pOut,
                                          std::uint32_t nOutCapacity, std::uint32_t& nOut, std::uint32_t& nPos,
                                          InputRelease& release) {
  return ReadTableInWindows<false>(pIn, nLast, pOut, nOutCapacity, nOut, nPos, release);
}
QUORLIX_WIDE_TARGET int ReadTableWide(const unsigned char* pIn, std::uint32_t nLast, unsigned char* pOut,
                                      std::uint32_t nOutCapacity, std::uint32_t& nOut, std::uint32_t& nPos,
                                      InputRelease& release) {
  return ReadTableInWindows<true>(pIn, nLast, pOut, nOutCapacity, nOut, nPos, release);
}
#endif

}  // namespace

int CAMFile::ConvertRow(const unsigned char* pIn, unsigned char* pOut, std::uint32_t& nOut, std::uint32_t& nPos) {
  const bool bRead = ReadRow<PortableCursor<false, true>>(pIn, m_nBodyEnd, pOut, m_nOutLen, nOut, nPos);
  return bRead ? QUORLIX_OK : m_nStatus = QUORLIX_HTML_ROW_FAILED;
}

// ---- Table ----

// The vector forms read the whole table in windows; the portable one reads it
// here, handing each row to ConvertRow.
int CAMFile::ConvertTable(const unsigned char* pIn, unsigned char* pOut, std::uint32_t& nOut, std::uint32_t& nPos,
                          InputRelease& release) {
#ifdef QUORLIX_HAS_VECTOR_SCAN
  if (IsVectorScanEnabled()) {
    const int nStatus = IsWideScanEnabled() ? ReadTableWide(pIn, m_nBodyEnd, pOut, m_nOutLen, nOut, nPos, release)
                                            : ReadTableVector(pIn, m_nBodyEnd, pOut, m_nOutLen, nOut, nPos, release);
    return nStatus == QUORLIX_OK ? QUORLIX_OK : m_nStatus = nStatus;
  }
#endif
  try {
    HtmlScan scan{pIn, m_nBodyEnd, nPos};
    std::uint32_t j = nOut;
    if (!scan.Take()) return m_nStatus = QUORLIX_HTML_TABLE_FAILED;
    for (;;) {
      if (scan.ch == '>' && !scan.Take()) return m_nStatus = QUORLIX_HTML_TABLE_FAILED;

      // Text outside rows (blanks, a caption's text) goes straight to the output.
      while (scan.ch != '<' && scan.ch != '>') {
        const TextByte kind = kTableTextBytes[scan.ch];
        if (kind == TextByte::kAmpersand && scan.AtDigitReference()) {
          if (!scan.SkipDigitReference()) return m_nStatus = QUORLIX_HTML_TABLE_FAILED;
          continue;
        }
        if (kind != TextByte::kDropped) pOut[j++] = scan.ch;
        if (!scan.Take()) return m_nStatus = QUORLIX_HTML_TABLE_FAILED;
      }

      if (scan.ch != '<') continue;
      std::string_view tag;
      if (!scan.CollectClosedTag(tag)) return m_nStatus = QUORLIX_HTML_TABLE_FAILED;
      const TableTag tableTag = TagBetweenRows(tag);
      if (tableTag == TableTag::kRowStart) {
        release.Passed(scan.p);
        nOut = j;
        const int nRowStatus = ConvertRow(pIn, pOut, nOut, scan.p);
        if (nRowStatus != QUORLIX_OK) return m_nStatus = nRowStatus;
        j = nOut;
        if (!scan.Take()) return m_nStatus = QUORLIX_HTML_TABLE_FAILED;
      } else if (tableTag == TableTag::kTableEnd) {
        pOut[j++] = '\r';
        pOut[j++] = '\n';
        nOut = j;
        nPos = scan.p;
        return QUORLIX_OK;
      }
    }
  } catch (const std::bad_alloc&) {
    return m_nStatus = QUORLIX_HTML_TABLE_FAILED;
  }
}
