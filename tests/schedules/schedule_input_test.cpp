// Inputs of the table as EDGAR distributes them: compressed files and archives
// give the rows of the same filings as plain files, column for column but path
// and member; damaged ones fail with the member named; limits hold; a file
// that is no filing gives no rows.
#include "schedules/schedule_input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "packing_fixtures.h"
#include "quorlix.h"
#include "schedules/schedule_table.h"
#include "test_support.h"

namespace {

using quorlix_test::PackedMember;
using quorlix_test::PackFilter;
using quorlix_test::PackFormat;

class TextChunks final : public ChunkSink {
 public:
  void TakeChunk(std::string& chunk) override { text += chunk; }
  std::string text;
};

class MemorySource final : public PackedSource {
 public:
  explicit MemorySource(std::string_view bytes) : m_bytes(bytes) {}
  std::size_t Read(unsigned char* pBuf, std::size_t nCount) override {
    const std::size_t nTaken = std::min(nCount, m_bytes.size());
    std::copy_n(m_bytes.data(), nTaken, pBuf);
    m_bytes.remove_prefix(nTaken);
    return nTaken;
  }

 private:
  std::string_view m_bytes;
};

// One input's long rows, each split at its first two commas: path, member, the rest.
struct Row {
  std::string path;
  std::string member;
  std::string rest;
  bool operator==(const Row&) const = default;
};

struct Outcome {
  InputReading reading;
  std::vector<Row> rows;
};

// The path, member and what follows of each row (paths and members here hold no commas).
std::vector<Row> SplitRows(const std::string& text) {
  std::vector<Row> rows;
  for (std::size_t nStart = 0; nStart < text.size();) {
    const std::size_t nEnd = text.find("\r\n", nStart);
    const std::string line = text.substr(nStart, nEnd - nStart);
    const std::size_t nFirst = line.find(',');
    const std::size_t nSecond = line.find(',', nFirst + 1);
    rows.push_back({line.substr(0, nFirst), line.substr(nFirst + 1, nSecond - nFirst - 1), line.substr(nSecond + 1)});
    nStart = nEnd + 2;
  }
  return rows;
}

Outcome ReadBytes(std::string_view bytes, const PackingLimits& limits = {},
                  std::size_t nBlockBytes = kScheduleBlockBytes) {
  TextChunks chunks;
  LongTable table;
  table.StartInput("in", chunks);
  ScheduleReader reader(table);
  std::vector<unsigned char> block(nBlockBytes);
  MemorySource source(bytes);
  Outcome outcome;
  ReadScheduleSource(source, reader, block.data(), block.size(), outcome.reading, limits);
  chunks.text += table.Rest();
  outcome.rows = SplitRows(chunks.text);
  return outcome;
}

// What follows path and member in the rows: the columns that an archive and
// the same filings as plain files share.
std::vector<std::string> Rest(const std::vector<Row>& rows) {
  std::vector<std::string> rest;
  for (const Row& row : rows) rest.push_back(row.rest);
  return rest;
}

// The rows of the sample filings read one by one as plain files.
std::vector<std::string> PlainRows(const std::vector<PackedMember>& filings) {
  std::vector<std::string> rows;
  for (const PackedMember& filing : filings) {
    const Outcome outcome = ReadBytes(filing.bytes);
    EXPECT_EQ(outcome.reading.status, QUORLIX_OK);
    for (const std::string& rest : Rest(outcome.rows)) rows.push_back(rest);
  }
  return rows;
}

std::vector<std::string> MembersOf(const std::vector<Row>& rows) {
  std::vector<std::string> members;
  for (const Row& row : rows)
    if (members.empty() || members.back() != row.member) members.push_back(row.member);
  return members;
}

// ---- Archives and compressed files ----

TEST(ScheduleInput, ArchivesGiveTheRowsOfTheirFilingsInArchiveOrder) {
  const std::vector<PackedMember> filings = quorlix_test::SampleFilings();
  const std::vector<std::string> plain = PlainRows(filings);
  ASSERT_EQ(plain.size(), 4u * 37u);
  struct Kind {
    PackFormat format;
    PackFilter filter;
  };
  for (const Kind kind : {Kind{PackFormat::kTar, PackFilter::kGzip}, Kind{PackFormat::kTar, PackFilter::kNone},
                          Kind{PackFormat::kTar, PackFilter::kBzip2}, Kind{PackFormat::kTar, PackFilter::kXz},
                          Kind{PackFormat::kTar, PackFilter::kCompress}, Kind{PackFormat::kZip, PackFilter::kNone},
                          Kind{PackFormat::kZip, PackFilter::kGzip}}) {
    SCOPED_TRACE(static_cast<int>(kind.format) * 10 + static_cast<int>(kind.filter));
    const Outcome outcome = ReadBytes(quorlix_test::Pack(kind.format, kind.filter, filings));
    EXPECT_EQ(outcome.reading.status, QUORLIX_OK) << outcome.reading.problem;
    EXPECT_EQ(outcome.reading.packing, Packing::kArchive);
    EXPECT_EQ(outcome.reading.nMembers, 4u);
    EXPECT_EQ(outcome.reading.nFilings, 4u);
    EXPECT_EQ(outcome.reading.nFilingsWithSchedules, 4u);
    EXPECT_EQ(Rest(outcome.rows), plain);
    EXPECT_EQ(MembersOf(outcome.rows),
              (std::vector<std::string>{filings[0].path, filings[1].path, filings[2].path, filings[3].path}));
  }
}

TEST(ScheduleInput, ADailyTarOfTaggedHeadersGivesTheSameColumns) {
  std::vector<PackedMember> tagged = quorlix_test::SampleFilings();
  for (PackedMember& filing : tagged) {
    filing.bytes = quorlix_test::WithTaggedHeader(filing.bytes);
    ASSERT_TRUE(filing.bytes.starts_with("<SUBMISSION>\n<ACCESSION-NUMBER>")) << filing.path;
  }
  const Outcome outcome = ReadBytes(quorlix_test::Pack(PackFormat::kTar, PackFilter::kGzip, tagged));
  EXPECT_EQ(outcome.reading.status, QUORLIX_OK);
  EXPECT_EQ(Rest(outcome.rows), PlainRows(quorlix_test::SampleFilings()));
}

TEST(ScheduleInput, ACompressedFileIsOneFileOfItsDecompressedBytes) {
  const std::vector<PackedMember> filings = quorlix_test::SampleFilings();
  std::string day;
  for (const PackedMember& filing : filings) day += filing.bytes;
  const std::vector<std::string> plain = PlainRows(filings);
  // A daily gzip of the submissions one after another, and the same in one gzip member per submission.
  std::string members;
  for (const PackedMember& filing : filings)
    members += quorlix_test::Pack(PackFormat::kNone, PackFilter::kGzip, {filing});
  for (const std::string& bytes : {quorlix_test::Pack(PackFormat::kNone, PackFilter::kGzip, {{"day.nc", day}}), members,
                                   quorlix_test::Pack(PackFormat::kNone, PackFilter::kBzip2, {{"day.nc", day}}),
                                   quorlix_test::Pack(PackFormat::kNone, PackFilter::kXz, {{"day.nc", day}}),
                                   quorlix_test::Pack(PackFormat::kNone, PackFilter::kCompress, {{"day.nc", day}})}) {
    const Outcome outcome = ReadBytes(bytes);
    EXPECT_EQ(outcome.reading.status, QUORLIX_OK) << outcome.reading.problem;
    EXPECT_EQ(outcome.reading.packing, Packing::kCompressed);
    EXPECT_EQ(outcome.reading.nMembers, 0u);
    EXPECT_EQ(outcome.reading.nFilings, 1u);  // one file, one stream of submissions
    EXPECT_EQ(Rest(outcome.rows), plain);
    EXPECT_EQ(MembersOf(outcome.rows), std::vector<std::string>{""});
  }
}

TEST(ScheduleInput, AMemberThatIsItselfCompressedIsDecompressedAndAnArchiveIsNotUnpacked) {
  const std::vector<PackedMember> filings = quorlix_test::SampleFilings();
  const std::string picture = "\x89PNG\r\n\x1a\n" + std::string(100, '\0');
  const Outcome outcome = ReadBytes(
      quorlix_test::Pack(PackFormat::kTar, PackFilter::kGzip,
                         {{"a.txt.gz", quorlix_test::Pack(PackFormat::kNone, PackFilter::kGzip, {filings[3]})},
                          {"b.txt.xz", quorlix_test::Pack(PackFormat::kNone, PackFilter::kXz, {filings[2]})},
                          {"c.tar", quorlix_test::Pack(PackFormat::kTar, PackFilter::kNone, {{"logo.png", picture}})},
                          {"d.txt", filings[3].bytes}}));
  EXPECT_EQ(outcome.reading.status, QUORLIX_OK);
  EXPECT_EQ(outcome.reading.nMembers, 4u);
  EXPECT_EQ(outcome.reading.nFilings, 3u);
  EXPECT_EQ(MembersOf(outcome.rows), (std::vector<std::string>{"a.txt.gz", "b.txt.xz", "d.txt"}));
  EXPECT_EQ(Rest(outcome.rows), PlainRows({filings[3], filings[2], filings[3]}));
}

TEST(ScheduleInput, FilesThatAreNoFilingGiveNoRows) {
  const std::vector<PackedMember> filings = quorlix_test::SampleFilings();
  const std::string picture = "\x89PNG\r\n\x1a\n" + std::string(100, '\0');
  const Outcome mixed = ReadBytes(
      quorlix_test::Pack(PackFormat::kZip, PackFilter::kNone, {{"logo.png", picture}, filings[1], {"empty.txt", ""}}));
  EXPECT_EQ(mixed.reading.status, QUORLIX_OK);
  EXPECT_EQ(mixed.reading.nMembers, 3u);
  EXPECT_EQ(mixed.reading.nFilings, 1u);
  EXPECT_EQ(MembersOf(mixed.rows), std::vector<std::string>{filings[1].path});

  const Outcome none = ReadBytes(quorlix_test::Pack(PackFormat::kTar, PackFilter::kNone, {{"logo.png", picture}}));
  EXPECT_EQ(none.reading.status, QUORLIX_OK);
  EXPECT_EQ(none.reading.nFilings, 0u);
  EXPECT_TRUE(none.rows.empty());
  // A plain file without a frame line in the first 8 KiB of its content, whatever follows.
  const std::string exhibit = "<DOCUMENT>\n<TYPE>EX-27\n<ARTICLE> 5\n<CASH> 1\n</DOCUMENT>\n";
  EXPECT_TRUE(ReadBytes(exhibit).rows.empty());
  EXPECT_EQ(ReadBytes(exhibit).reading.nFilings, 0u);
  EXPECT_TRUE(ReadBytes("x\n" + std::string(8192, 'x') + "\n<SEC-DOCUMENT>\n" + exhibit).rows.empty());
  // Blank lines before the content do not count, however long, within 1 MiB.
  EXPECT_EQ(ReadBytes(std::string(100000, '\n') + "<SEC-DOCUMENT>\n" + exhibit).rows.size(), 2u);
  EXPECT_TRUE(ReadBytes(std::string(1100000, '\n') + "<SEC-DOCUMENT>\n" + exhibit).rows.empty());
}

TEST(ScheduleInput, EveryBufferSizeReadsTheSameRows) {
  const std::vector<PackedMember> filings = quorlix_test::SampleFilings();
  const std::string archive = quorlix_test::Pack(PackFormat::kTar, PackFilter::kGzip, filings);
  const Outcome whole = ReadBytes(archive);
  const Outcome plainWhole = ReadBytes(filings[2].bytes);
  for (const std::size_t nBlock : {kLeastBlockBytes, std::size_t{777}, std::size_t{4096}, std::size_t{8191}}) {
    EXPECT_EQ(ReadBytes(archive, {}, nBlock).rows, whole.rows) << nBlock;
    EXPECT_EQ(ReadBytes(filings[2].bytes, {}, nBlock).rows, plainWhole.rows) << nBlock;
  }
}

// ---- Damage and limits ----

TEST(ScheduleInput, ADamagedArchiveFailsNamingTheMemberAndKeepsTheRowsBefore) {
  const std::vector<PackedMember> filings = quorlix_test::SampleFilings();
  const std::string tar = quorlix_test::Pack(PackFormat::kTar, PackFilter::kNone, filings);
  const std::string tgz = quorlix_test::Pack(PackFormat::kTar, PackFilter::kGzip, filings);

  // A gzip cut short: the member it ends in is named.
  const Outcome cut = ReadBytes(std::string_view(tgz).substr(0, tgz.size() / 2));
  EXPECT_EQ(cut.reading.status, QUORLIX_FILING_FILE_ERROR);
  EXPECT_TRUE(cut.reading.problem.starts_with("member 'apple_10k_1997_ex27.txt': ")) << cut.reading.problem;
  EXPECT_EQ(Rest(cut.rows), PlainRows({filings[0]}));

  // A tar header whose checksum does not add up: the header after the first member.
  std::string badHeader = tar;
  const std::size_t nSecond = badHeader.find("apple_10k_1997_ex27.txt");
  ASSERT_NE(nSecond, std::string::npos);
  badHeader[nSecond + 148] ^= 1;  // the checksum field of that header
  const Outcome bad = ReadBytes(badHeader);
  EXPECT_EQ(bad.reading.status, QUORLIX_FILING_FILE_ERROR);
  EXPECT_TRUE(bad.reading.problem.starts_with("the header after member 'apple_10k_1994_ims_ex27.txt': "))
      << bad.reading.problem;
  EXPECT_EQ(Rest(bad.rows), PlainRows({filings[0]}));

  // A zip member whose deflated bytes are spoiled.
  std::string zip = quorlix_test::Pack(PackFormat::kZip, PackFilter::kNone, {filings[0], filings[3]});
  const std::size_t nThird = zip.find(filings[3].path);
  ASSERT_NE(nThird, std::string::npos);
  for (std::size_t i = nThird + 100; i < nThird + 400; ++i) zip[i] = '\xff';
  const Outcome spoiled = ReadBytes(zip);
  EXPECT_EQ(spoiled.reading.status, QUORLIX_FILING_FILE_ERROR);
  EXPECT_TRUE(spoiled.reading.problem.starts_with("member 'apple_10q_2000q1_ex27.txt': ")) << spoiled.reading.problem;
  EXPECT_EQ(Rest(spoiled.rows), PlainRows({filings[0]}));

  // A compressed file cut short.
  const std::string gz = quorlix_test::Pack(PackFormat::kNone, PackFilter::kGzip, {filings[0]});
  const Outcome cutFile = ReadBytes(std::string_view(gz).substr(0, 20));
  EXPECT_EQ(cutFile.reading.status, QUORLIX_FILING_FILE_ERROR);
  EXPECT_FALSE(cutFile.reading.problem.empty());
}

TEST(ScheduleInput, BombsPastTheLimitsAreRefusedAndThoseUnderThemRead) {
  EXPECT_EQ(PackingLimits{}.nMostFileBytes, std::uint64_t{4} << 30);
  EXPECT_EQ(PackingLimits{}.nMostMembers, 1000000u);
  const std::string zeros(2 << 20, '\0');  // 2 MiB that deflate to a few KiB
  const std::string bomb = quorlix_test::Pack(PackFormat::kZip, PackFilter::kNone, {{"zeros", zeros}});
  ASSERT_LT(bomb.size(), 16u * 1024u);
  EXPECT_EQ(ReadBytes(bomb, {2 << 20, 10}).reading.status, QUORLIX_OK);
  const Outcome over = ReadBytes(bomb, {(2 << 20) - 1, 10});
  EXPECT_EQ(over.reading.status, QUORLIX_FILING_FILE_ERROR);
  EXPECT_EQ(over.reading.problem,
            "member 'zeros': is larger than 2097151 bytes decompressed (a limit against decompression bombs)");
  // A compressed filing, which is read to its end (a file that is no filing is
  // read no further than its first bytes).
  const std::string gz =
      quorlix_test::Pack(PackFormat::kNone, PackFilter::kGzip, {{"zeros", "<SEC-DOCUMENT>\n" + zeros.substr(15)}});
  EXPECT_EQ(ReadBytes(gz, {2 << 20, 10}).reading.status, QUORLIX_OK);
  EXPECT_EQ(ReadBytes(gz, {1 << 20, 10}).reading.problem,
            "the file is larger than 1048576 bytes decompressed (a limit against decompression bombs)");
  // Members.
  std::vector<PackedMember> many;
  for (int i = 0; i < 11; ++i) many.push_back({std::to_string(i), ""});
  const std::string tar = quorlix_test::Pack(PackFormat::kTar, PackFilter::kGzip, many);
  EXPECT_EQ(ReadBytes(tar, {1 << 20, 11}).reading.status, QUORLIX_OK);
  const Outcome tooMany = ReadBytes(tar, {1 << 20, 10});
  EXPECT_EQ(tooMany.reading.status, QUORLIX_FILING_FILE_ERROR);
  EXPECT_EQ(tooMany.reading.problem, "the archive has more than 10 members (a limit against decompression bombs)");
  EXPECT_EQ(tooMany.reading.nMembers, 10u);
}

}  // namespace
