// A filing read by the schedules' reader whole, in blocks cut at arbitrary
// places, and by a byte-by-byte twin that hands every line over gives the same
// tables; every record of the long form has its 23 fields, every wide row as
// many as the header, and both tables are UTF-8. Read as an input of the table
// (in buffers of a size the seed picks), a plain file gives those tables when
// its first bytes show a filing and none otherwise; a compressed file or an
// archive (gzip, bzip2, xz, compress, tar, zip: the seeds hold each) is read
// without crash or hang, within small limits, into tables of the same shape.
// The first input byte seeds the block lengths; the rest is the filing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "filing/filing_sniff.h"
#include "fuzz_support.h"
#include "quorlix.h"
#include "schedules/schedule_input.h"
#include "schedules/schedule_table.h"

namespace {

constexpr std::size_t kMaxInputBytes = 1 << 16;

class TextChunks final : public ChunkSink {
 public:
  void TakeChunk(std::string& chunk) override { text += chunk; }
  std::string text;
};

// Both forms of one filing, read by feed(reader).
struct Tables {
  std::string strLong;
  std::string strWide;
  bool operator==(const Tables&) const = default;
};

class BothForms final : public ScheduleSink {
 public:
  void TakeDocument(const SubmissionHeader& header, const ScheduleDocument& document) override {
    m_long.TakeDocument(header, document);
    m_wide.TakeDocument(header, document);
  }
  LongTable m_long;
  WideSink m_wide;
};

// Both forms of what read(reader) hands the reader; read starts and finishes it.
template <typename Read>
Tables ReadInto(Read read) {
  TextChunks chunks;
  WideInput input;
  BothForms sink;
  sink.m_long.StartInput("filing.txt", chunks);
  sink.m_wide.StartInput("filing.txt", input);
  ScheduleReader reader(sink);
  read(reader);
  chunks.text += sink.m_long.Rest();
  WideTable table;
  table.Merge(input);
  TextChunks wide;
  table.Write(wide);
  return {chunks.text, wide.text};
}

template <typename Feed>
Tables ReadWith(Feed feed) {
  return ReadInto([&](ScheduleReader& reader) {
    reader.Start();
    feed(reader);
    reader.Finish();
  });
}

// Bytes in memory, handed over as a file gives them.
class MemorySource final : public PackedSource {
 public:
  MemorySource(const std::uint8_t* pData, std::size_t nSize) : m_pData(pData), m_nLeft(nSize) {}
  std::size_t Read(unsigned char* pBuf, std::size_t nCount) override {
    const std::size_t nTaken = std::min(nCount, m_nLeft);
    std::copy_n(m_pData, nTaken, pBuf);
    m_pData += nTaken;
    m_nLeft -= nTaken;
    return nTaken;
  }

 private:
  const std::uint8_t* m_pData;
  std::size_t m_nLeft;
};

// Small limits, so that a bomb among the inputs costs little.
constexpr PackingLimits kFuzzLimits{std::size_t{1} << 20, 64};

// The input read as the table reads an input, in a buffer of nBlockBytes.
Tables ReadAsInput(const std::uint8_t* pData, std::size_t nSize, std::size_t nBlockBytes, InputReading& reading) {
  std::vector<unsigned char> block(nBlockBytes);
  return ReadInto([&](ScheduleReader& reader) {
    MemorySource source(pData, nSize);
    ReadScheduleSource(source, reader, block.data(), block.size(), reading, kFuzzLimits);
  });
}

// Hands one block over in a buffer of exactly its size, so that a read past its
// end is caught by the sanitizer.
void FeedOneBlock(ScheduleReader& reader, const std::uint8_t* pData, std::size_t nLen) {
  std::vector<unsigned char> block(pData, pData + nLen);
  reader.Feed(block.data(), block.size());
}

// The lines taken literally: every line to the reader, whatever it begins with.
void FeedLineByLine(ScheduleReader& reader, const std::uint8_t* pData, std::size_t nLen) {
  std::string line;
  for (std::size_t i = 0; i < nLen; ++i) {
    if (pData[i] == '\n') {
      reader.TakeLine(line, true);
      line.clear();
    } else {
      line += static_cast<char>(pData[i]);
    }
  }
  if (!line.empty()) reader.TakeLine(line, false);
}

bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

// The number of fields of each record, quotes undone; empty when a quote is left open.
std::vector<std::size_t> FieldCounts(std::string_view text) {
  std::vector<std::size_t> counts;
  std::size_t nFields = 1;
  bool bQuoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') bQuoted = !bQuoted;  // a doubled quote leaves and enters again
    else if (!bQuoted && c == ',') ++nFields;
    else if (!bQuoted && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      counts.push_back(nFields);
      nFields = 1;
      ++i;
    }
  }
  if (bQuoted) return {};
  return counts;
}

// Every record of the long form has its 23 fields, every wide row as many as the header.
void CheckShape(const Tables& tables, const std::uint8_t* pData, std::size_t nSize) {
  if (!IsUtf8(tables.strLong) || !IsUtf8(tables.strWide))
    quorlix_fuzz::FailWithInput("a table is not UTF-8", pData, nSize);
  const std::vector<std::size_t> longCounts = FieldCounts(tables.strLong);
  if (!std::ranges::all_of(longCounts, [](std::size_t n) { return n == 23; }) ||
      longCounts.size() != static_cast<std::size_t>(std::ranges::count(tables.strLong, '\n')))
    quorlix_fuzz::FailWithInput("a long row has other than 23 fields", pData, nSize);
  const std::vector<std::size_t> wideCounts = FieldCounts(tables.strWide);
  if (wideCounts.empty() || !std::ranges::all_of(wideCounts, [&](std::size_t n) { return n == wideCounts[0]; }))
    quorlix_fuzz::FailWithInput("a wide row has other than the header's fields", pData, nSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  if (nSize == 0 || nSize > kMaxInputBytes) return 0;
  const unsigned nSeed = pData[0];
  const std::uint8_t* const pFiling = pData + 1;
  const std::size_t nFiling = nSize - 1;

  const Tables whole = ReadWith([&](ScheduleReader& reader) { FeedOneBlock(reader, pFiling, nFiling); });
  const Tables inBlocks = ReadWith([&](ScheduleReader& reader) {
    std::minstd_rand rng(nSeed + 1);
    for (std::size_t nPos = 0; nPos < nFiling;) {  // short blocks, empty ones included
      const std::size_t nLen = std::min<std::size_t>(rng() % 24, nFiling - nPos);
      FeedOneBlock(reader, pFiling + nPos, nLen);
      nPos += nLen;
    }
  });
  const Tables twin = ReadWith([&](ScheduleReader& reader) { FeedLineByLine(reader, pFiling, nFiling); });

  if (!(inBlocks == whole)) quorlix_fuzz::FailWithInput("reading in blocks differs from reading whole", pData, nSize);
  if (!(twin == whole)) quorlix_fuzz::FailWithInput("the fast line finding differs from its twin", pData, nSize);
  CheckShape(whole, pData, nSize);

  // A buffer from the least allowed to 64 KiB; a plain file's first block then
  // holds its first 8 KiB, or not.
  const std::size_t nBlockBytes = kLeastBlockBytes + (nSeed * 257 + nFiling) % (std::size_t{1} << 16);
  InputReading reading;
  const Tables asInput = ReadAsInput(pFiling, nFiling, nBlockBytes, reading);
  if (!MayBePacked(pFiling, nFiling)) {
    const bool bFiling =
        JudgeSubmissionHead({reinterpret_cast<const char*>(pFiling), nFiling}, true) == HeadVerdict::kSubmission;
    const Tables expected = bFiling ? whole : ReadInto([](ScheduleReader&) {});
    if (reading.status != QUORLIX_OK || !(asInput == expected))
      quorlix_fuzz::FailWithInput("a plain file read as an input differs from the reader's tables", pData, nSize);
  } else if (reading.status != QUORLIX_OK && reading.status != QUORLIX_FILING_FILE_ERROR) {
    quorlix_fuzz::FailWithInput("a packed input failed other than as a file error", pData, nSize);
  }
  CheckShape(asInput, pData, nSize);
  return 0;
}
