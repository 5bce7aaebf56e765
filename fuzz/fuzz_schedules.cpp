// A filing read by the schedules' reader whole, in blocks cut at arbitrary
// places, and by a byte-by-byte twin that hands every line over gives the same
// tables; every record of the long form has its 25 fields, every wide and panel
// row as many as its header (the wide form's tag columns capped low, so that
// other_tags fills), every table is UTF-8 with no control byte but TAB and the
// CR LF that end its rows, and every panel row has a length in months (3 for a
// derived quarter). Read as an input of the table (in
// buffers of a size the seed picks), a plain file gives those tables when its
// first bytes show a filing and none otherwise; a compressed file or an archive
// (gzip, bzip2, xz, compress, tar, zip: the seeds hold each) is read without
// crash or hang, within small limits, into tables of the same shape.
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
#include "schedules/schedule_panel.h"
#include "schedules/schedule_table.h"

namespace {

constexpr std::size_t kMaxInputBytes = 1 << 16;

class TextChunks final : public ChunkSink {
 public:
  void TakeChunk(std::string& chunk) override { text += chunk; }
  std::string text;
};

// Tag columns of the wide form: few, so that most tags go to other_tags.
constexpr std::size_t kWideTagColumns = 4;

// Every form of one filing, read by feed(reader): the panel of both vintages.
struct Tables {
  std::string strLong;
  std::string strWide;
  std::string strFirst;
  std::string strLatest;
  bool operator==(const Tables&) const = default;
};

class EveryForm final : public ScheduleSink {
 public:
  void TakeDocument(const SubmissionHeader& header, const ScheduleDocument& document) override {
    m_long.TakeDocument(header, document);
    m_wide.TakeDocument(header, document);
    m_panel.TakeDocument(header, document);
  }
  LongTable m_long;
  WideSink m_wide;
  PanelSink m_panel;
};

std::string PanelOf(const PanelInput& input, PanelVintage vintage) {
  static const char* const kPaths[] = {"filing.txt"};
  PanelTable table(kPaths, vintage, CellGuard::kAsWritten);
  table.Merge(input, 0);
  TextChunks panel;
  table.Write(panel);
  return panel.text;
}

// Every form of what read(reader) hands the reader; read starts and finishes it.
template <typename Read>
Tables ReadInto(Read read) {
  TextChunks chunks;
  WideInput input;
  PanelInput panelInput;
  EveryForm sink;
  sink.m_long.StartInput("filing.txt", chunks);
  sink.m_wide.StartInput("filing.txt", input);
  sink.m_panel.StartInput(panelInput);
  ScheduleReader reader(sink);
  read(reader);
  chunks.text += sink.m_long.Rest();
  WideTable table(kWideTagColumns);
  table.Merge(input);
  TextChunks wide;
  table.Write(wide);
  return {chunks.text, wide.text, PanelOf(panelInput, PanelVintage::kFirst),
          PanelOf(panelInput, PanelVintage::kLatest)};
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

// The fields of each record, quotes left in; empty when a quote is left open.
std::vector<std::vector<std::string_view>> Records(std::string_view text) {
  std::vector<std::vector<std::string_view>> records(1, std::vector<std::string_view>());
  std::size_t nFieldStart = 0;
  bool bQuoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') bQuoted = !bQuoted;
    else if (!bQuoted && c == ',') {
      records.back().push_back(text.substr(nFieldStart, i - nFieldStart));
      nFieldStart = i + 1;
    } else if (!bQuoted && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      records.back().push_back(text.substr(nFieldStart, i - nFieldStart));
      records.emplace_back();
      nFieldStart = i + 2;
      ++i;
    }
  }
  records.pop_back();
  if (bQuoted) return {};
  return records;
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

// True when the only control bytes of text are TABs and the CR LF pairs that end rows.
bool HasRowEndsAlone(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0x20 || b == '\t') continue;
    const bool bRowEnd =
        (b == '\r' && i + 1 < text.size() && text[i + 1] == '\n') || (b == '\n' && i > 0 && text[i - 1] == '\r');
    if (!bRowEnd) return false;
  }
  return true;
}

// Every record of the long form has its 25 fields, every wide and panel row as
// many as its header, every panel row a length in months; every table is UTF-8
// with no control byte but TAB and its row ends.
void CheckShape(const Tables& tables, const std::uint8_t* pData, std::size_t nSize) {
  if (!IsUtf8(tables.strLong) || !IsUtf8(tables.strWide) || !IsUtf8(tables.strFirst) || !IsUtf8(tables.strLatest))
    quorlix_fuzz::FailWithInput("a table is not UTF-8", pData, nSize);
  for (const std::string* pTable : {&tables.strLong, &tables.strWide, &tables.strFirst, &tables.strLatest})
    if (!HasRowEndsAlone(*pTable)) quorlix_fuzz::FailWithInput("a control byte reached a cell", pData, nSize);
  const std::vector<std::size_t> longCounts = FieldCounts(tables.strLong);
  if (!std::ranges::all_of(longCounts, [](std::size_t n) { return n == 25; }) ||
      longCounts.size() != static_cast<std::size_t>(std::ranges::count(tables.strLong, '\n')))
    quorlix_fuzz::FailWithInput("a long row has other than 25 fields", pData, nSize);
  const std::vector<std::size_t> wideCounts = FieldCounts(tables.strWide);
  if (wideCounts.empty() || !std::ranges::all_of(wideCounts, [&](std::size_t n) { return n == wideCounts[0]; }))
    quorlix_fuzz::FailWithInput("a wide row has other than the header's fields", pData, nSize);
  for (const std::string* pPanel : {&tables.strFirst, &tables.strLatest}) {
    const auto records = Records(*pPanel);
    if (records.empty() || records[0].size() < 26 || records[0][7] != "months" || records[0][8] != "derived")
      quorlix_fuzz::FailWithInput("the panel has no header", pData, nSize);
    for (std::size_t i = 1; i < records.size(); ++i) {
      const auto& record = records[i];
      if (record.size() != records[0].size())
        quorlix_fuzz::FailWithInput("a panel row has other than the header's fields", pData, nSize);
      const bool bMonths = !record[7].empty() && record[7][0] != '0' &&
                           std::ranges::all_of(record[7], [](char c) { return c >= '0' && c <= '9'; });
      if (!bMonths || (record[8] != "0" && record[8] != "1") || (record[8] == "1" && record[7] != "3"))
        quorlix_fuzz::FailWithInput("a panel row without its length in months", pData, nSize);
    }
  }
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
