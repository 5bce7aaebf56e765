#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "document/am_file.h"
#include "filing/filing_stream.h"
#include "quorlix.h"
#include "test_support.h"

namespace {

using quorlix_test::DataDir;
using quorlix_test::FileExists;
using quorlix_test::ReadFile;
using quorlix_test::StatusWithDescriptorsLeft;

std::string Blanks(std::size_t n) { return std::string(n, ' '); }

struct Decoded {
  int nStatus;
  std::string strText;
  std::string strSchedule;
};

class FilingTest : public quorlix_test::TempDirTest {
 protected:
  // Decodes the filing at strPath through the export into text.txt and schedule.txt.
  Decoded DecodeFile(const std::string& strPath) {
    const int nStatus = CvtDecodeFiling(strPath.c_str(), PathOf("text.txt").c_str(), PathOf("schedule.txt").c_str());
    return {nStatus, ReadFile(PathOf("text.txt")), ReadFile(PathOf("schedule.txt"))};
  }
  Decoded Decode(std::string_view filing) { return DecodeFile(WriteFile("filing.txt", filing)); }
  std::string Text(std::string_view filing) {
    const Decoded decoded = Decode(filing);
    EXPECT_EQ(decoded.nStatus, QUORLIX_OK);
    return decoded.strText;
  }
  std::string Schedule(std::string_view filing) {
    const Decoded decoded = Decode(filing);
    EXPECT_EQ(decoded.nStatus, QUORLIX_OK);
    return decoded.strSchedule;
  }

  // The same filing handed to the decoder as one block, whatever its size.
  Decoded DecodeAsOneBlock(std::string_view filing) {
    CAMFile doc;
    doc.m_pInBuf = std::make_unique<unsigned char[]>(filing.size());
    std::memcpy(doc.m_pInBuf.get(), filing.data(), filing.size());
    CFile fileText(PathOf("whole_text.txt"), CFile::modeCreate | CFile::modeReadWrite);
    CFile fileSchedule(PathOf("whole_schedule.txt"), CFile::modeCreate | CFile::modeReadWrite);
    FilingStream stream(fileText, fileSchedule);
    const int nStatus = doc.DecodeBlock(stream, static_cast<std::uint32_t>(filing.size()), true);
    stream.Close();
    return {nStatus, ReadFile(PathOf("whole_text.txt")), ReadFile(PathOf("whole_schedule.txt"))};
  }
};

// ---- Line assembly ----

TEST_F(FilingTest, EveryLineEndsInCrLfOrALoneCr) {
  struct Case {
    std::string_view filing;
    std::string_view text;
  };
  const Case cases[] = {
      {"A\nB\n", "A\r\nB\r\n"},
      {"A\r\nB\r\n", "A\r\nB\r\n"},
      {"A\n\nB\n", "A\r\n\r\nB\r\n"},  // empty lines stay
      {"A\r\n\r\nB\r\n", "A\r\n\r\nB\r\n"},
      {"A\rB\r", "A\rB\r"},          // lone CRs stay lone
      {"A\r\rB\r", "A\rB\r"},        // the second CR is the byte after the first: dropped
      {"A\r\n\nB\n", "A\r\nB\r\n"},  // a bare LF right after CR LF is lost
      {"A\n\rB", "A\r\n\rB"},        // LF CR: the CR ends an empty line of its own
      {"A\rB", "A\rB"},              // the last line is not lost
      {"A\nlast", "A\r\nlast"},
      {"A\r", "A\r"},  // a CR as the last byte ends its line alone
  };
  for (const auto& c : cases) EXPECT_EQ(Text(c.filing), c.text) << testing::PrintToString(std::string(c.filing));
}

TEST_F(FilingTest, OnlyPrintableAsciiReachesTheOutput) {
  EXPECT_EQ(Text("FILER:\t\tAPPLE\x0C caf\xE9\x7F\x01\n"), "FILER:APPLE caf\r\n");
  EXPECT_EQ(Text(std::string_view("A\r\0\nB", 5)), "A\rB");  // an LF after a CR and a dropped byte adds nothing
}

TEST_F(FilingTest, EveryByteValueIsKeptOrDroppedWhereverItStands) {
  // Lines of 18 bytes put each byte at every place within the words the decoder reads at once.
  std::string strFiling, strExpected;
  for (int b = 0; b < 256; ++b) {
    if (b == '\r' || b == '\n' || b == '>') continue;
    strFiling += "abcdefg" + std::string(1, static_cast<char>(b)) + "hijklmnop\n";
    strExpected += "abcdefg" + (b >= 0x20 && b <= 0x7E ? std::string(1, static_cast<char>(b)) : "") + "hijklmnop\r\n";
  }
  EXPECT_EQ(Text(strFiling), strExpected);
}

// ---- Tags ----

TEST_F(FilingTest, FrameLinesVanishWithWhateverFollowsTheirTag) {
  EXPECT_EQ(Text("<SEC-DOCUMENT>0001.txt : 19980810\nkept\n<PAGE> 12\n<F1> a footnote\n<S>   <C>   <C>\n"), "kept\r\n");
}

TEST_F(FilingTest, HeaderAndDocumentTagsLeaveTheirRemainder) {
  EXPECT_EQ(Text("<SEC-HEADER>0001.hdr.sgml : 19980810\n<DOCUMENT>\nbody\n</SEC-HEADER>\n"),
            "0001.hdr.sgml : 19980810\r\nbody\r\n");  // a tag alone leaves not even a line end
}

TEST_F(FilingTest, OtherTagsAreWrittenBackInCapitalsBeforeTheirRemainder) {
  EXPECT_EQ(Text("   <filer>   Apple\n"), "<FILER>Apple\r\n");    // indent and blanks after '>' go
  EXPECT_EQ(Text("  a > b\n"), "A >b\r\n");                       // prose: all before the '>' in capitals
  EXPECT_EQ(Text("<FLAWED>\nWARNING\n"), "<FLAWED>WARNING\r\n");  // a tag alone continues on the next line
  EXPECT_EQ(Text("<PAGE >\nx\n"), "<PAGE >x\r\n");                // a blank inside: not the table's tag
}

TEST_F(FilingTest, TagsAreMatchedInCapitals) {
  EXPECT_EQ(Text("<page>\n<Cash> 5\n"), "Cash" + Blanks(16) + Blanks(17) + "5\r\n");
}

TEST_F(FilingTest, OnlyALineReducedToTheDropMarkerIsDropped) {
  EXPECT_EQ(Text("<X><nul>\n"), "<X><nul>\r\n");  // its line end keeps it apart from the marker
  EXPECT_EQ(Text("a\n<X> <nul>"), "a\r\n");       // the last line, without line end, matches it
  EXPECT_EQ(Text("<NUL>\nb\n"), "<NUL>b\r\n");    // the marker as a tag is just another tag
}

// ---- Schedule routing ----

const std::string kArticleRow = "Article" + Blanks(13) + Blanks(17) + "5\r\n";
const std::string kCashRow = "Cash" + Blanks(16) + Blanks(17) + "1\r\n";
const std::string kEpsRow = "EPS Diluted" + Blanks(9) + Blanks(17) + "2\r\n";

TEST_F(FilingTest, ScheduleIsCopiedFromArticleToEpsDiluted) {
  const Decoded decoded = Decode("<CASH> 1\n<ARTICLE> 5\n<CASH> 1\nprose\n<EPS-DILUTED> 2\n<CASH> 1\n");
  EXPECT_EQ(decoded.strSchedule, kArticleRow + kCashRow + "prose\r\n" + kEpsRow);
  EXPECT_EQ(decoded.strText, kCashRow + kArticleRow + kCashRow + "prose\r\n" + kEpsRow + kCashRow);
}

TEST_F(FilingTest, LegendIsInTheTextButNotInTheSchedule) {
  const Decoded decoded = Decode("<ARTICLE> 5\n<LEGEND>\nextracted from\n</LEGEND>\n<CASH> 1\n<EPS-DILUTED> 2\n");
  EXPECT_EQ(decoded.strText, kArticleRow + "extracted from\r\n" + kCashRow + kEpsRow);
  EXPECT_EQ(decoded.strSchedule, kArticleRow + kCashRow + kEpsRow);
}

TEST_F(FilingTest, UnknownTagsReachTheScheduleWithoutTheirTag) {
  const Decoded decoded = Decode("<ARTICLE> 5\n<NAME> APPLE\n<EPS-BASIC> 1.14\n<EPS-DILUTED> 2\n");
  EXPECT_EQ(decoded.strText, kArticleRow + "<NAME>APPLE\r\n<EPS-BASIC>1.14\r\n" + kEpsRow);
  EXPECT_EQ(decoded.strSchedule, kArticleRow + "APPLE\r\n1.14\r\n" + kEpsRow);
}

TEST_F(FilingTest, EveryScheduleIsCopiedWhole) {
  const std::string strSchedule = "<ARTICLE> 5\n<CASH> 1\n<EPS-DILUTED> 2\n";
  EXPECT_EQ(Schedule(strSchedule + "between\n" + strSchedule),
            kArticleRow + kCashRow + kEpsRow + kArticleRow + kCashRow + kEpsRow);
  EXPECT_EQ(Schedule("<EPS-DILUTED> 2\n" + strSchedule), kArticleRow + kCashRow + kEpsRow);  // an early end
}

// ---- Blocks ----

TEST_F(FilingTest, FilingOfExactlyOneBlockIsDecodedWhole) {
  const std::string strLine(kFilingBlockBytes - 1, 'a');
  EXPECT_EQ(Text(strLine + "\n"), strLine + "\r\n");
}

TEST_F(FilingTest, LineCrossingTheFirstBoundaryIsWhole) {
  const std::string strLine(kFilingBlockBytes, 'a');  // the LF is byte 65,536, alone in the second block
  EXPECT_EQ(Text(strLine + "\n"), strLine + "\r\n");
}

TEST_F(FilingTest, LineEndsSplitByTheBoundaryDecodeAsIfWhole) {
  const std::string strLine(kFilingBlockBytes - 1, 'a');  // the CR is the first block's last byte
  EXPECT_EQ(Text(strLine + "\r\nb"), strLine + "\r\nb");
  EXPECT_EQ(Text(strLine + "\r\rb"), strLine + "\rb");
  EXPECT_EQ(Text(strLine + "\r"), strLine + "\r");  // no second block
  EXPECT_EQ(Text(strLine + "\rb"), strLine + "\rb");
}

TEST_F(FilingTest, SeveralBlocksDecodeAsOneStream) {
  // Lines of 80 bytes, a CR LF split by the first boundary, and a schedule whose
  // third row is split by the second.
  const std::string strRows =
      "<ARTICLE> 5\n<MULTIPLIER> 1,000\n<CASH> 1\n<LEGEND>\nlegend\n</LEGEND>\n<EPS-DILUTED> 2\n";
  std::string strFiller(2 * std::size_t{kFilingBlockBytes} - 35, 'f');
  for (std::size_t i = 79; i < strFiller.size(); i += 80) strFiller[i] = '\n';
  strFiller[kFilingBlockBytes - 1] = '\r';
  strFiller[kFilingBlockBytes] = '\n';
  strFiller.back() = '\n';
  const std::string strFiling = strFiller + strRows + std::string(3 * std::size_t{kFilingBlockBytes}, 'z');

  const Decoded inBlocks = Decode(strFiling);
  const Decoded whole = DecodeAsOneBlock(strFiling);
  EXPECT_EQ(inBlocks.nStatus, QUORLIX_OK);
  EXPECT_EQ(whole.nStatus, QUORLIX_OK);
  EXPECT_TRUE(inBlocks.strText == whole.strText);
  EXPECT_EQ(inBlocks.strSchedule,
            kArticleRow + "Multiplier" + Blanks(10) + Blanks(13) + "1,000\r\n" + kCashRow + kEpsRow);
  EXPECT_EQ(inBlocks.strSchedule, whole.strSchedule);
  EXPECT_TRUE(inBlocks.strText.ends_with(kEpsRow + std::string(3 * std::size_t{kFilingBlockBytes}, 'z')));
}

// A line over many blocks (and past the size where its buffer becomes a mapping
// of its own) is held whole until its end, and reaches the outputs as any short
// line does in every routing: plain, with its tag written back, cut to its
// remainder, dropped, with its first '>' far in, captured for the schedule, and
// as a schedule value.
TEST_F(FilingTest, LinesOverManyBlocksAreWholeInEveryRouting) {
  std::string strLong((std::size_t{3} << 19) + 3, 'w');
  for (std::size_t i = 0; i < strLong.size(); i += 1000) strLong[i] = ' ';
  std::string strLongInCapitals = strLong;
  std::ranges::replace(strLongInCapitals, 'w', 'W');
  const std::string strLongTrimmed = strLong.substr(1);  // it opens with a blank
  struct Case {
    std::string filing;
    std::string text;
    std::string schedule;
  };
  const Case cases[] = {
      {"a\n" + strLong + "\nb\n", "a\r\n" + strLong + "\r\nb\r\n", ""},
      {strLong + "\r" + strLong, strLong + "\r" + strLong, ""},  // a lone CR, and no line end at all
      {"<name>  " + strLong + "\n", "<NAME>" + strLongTrimmed + "\r\n", ""},
      {"<DOCUMENT>" + strLong + "\n", strLongTrimmed + "\r\n", ""},
      {"<TYPE>" + strLong + "\nkept\n", "kept\r\n", ""},
      {strLong + ">  tail\n", strLongInCapitals.substr(1) + ">tail\r\n", ""},  // the tag: all before the '>'
      {"<ARTICLE> 5\n" + strLong + "\n<X>" + strLong + "\n<EPS-DILUTED> 2\n",
       kArticleRow + strLong + "\r\n<X>" + strLongTrimmed + "\r\n" + kEpsRow,
       kArticleRow + strLong + "\r\n" + strLongTrimmed + "\r\n" + kEpsRow},
      {"<CASH>" + strLong + "9\n", "Cash" + Blanks(16) + std::string(17, 'w') + "9\r\n", ""},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Decoded decoded = Decode(cases[i].filing);
    EXPECT_EQ(decoded.nStatus, QUORLIX_OK) << "case " << i;
    EXPECT_TRUE(decoded.strText == cases[i].text) << "case " << i;  // not printed: megabytes
    EXPECT_TRUE(decoded.strSchedule == cases[i].schedule) << "case " << i;
  }
}

// Dropped bytes add nothing, however long their run and wherever it stands: inside
// a line and between a CR and its LF (which then still ends one line only), across
// the first block edge at several places, over whole blocks, and as a whole filing.
TEST_F(FilingTest, RunsOfDroppedBytesAcrossBlockEdgesAddNothing) {
  constexpr std::size_t nBlock = kFilingBlockBytes;
  const std::string strMixed("\0\x01\x80\xFF\t\x7F\x1B\0\0", 9);
  // Around the words and blocks the scanners read at once, and over whole blocks.
  constexpr std::size_t kRuns[] = {1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 100, nBlock, 3 * nBlock + 5};
  for (const bool bZeros : {true, false}) {
    for (const std::size_t nRun : kRuns) {
      std::string strRun(nRun, '\0');
      if (!bZeros)
        for (std::size_t i = 0; i < nRun; ++i) strRun[i] = strMixed[i % strMixed.size()];
      for (const std::size_t nBefore : {nBlock - 40, nBlock - 2, nBlock - 1, nBlock}) {
        const std::string strHead = std::string(nBefore - 1, 'p') + "\n";
        const std::string strFiling = strHead + "A" + strRun + "B\r" + strRun + "\nC" + strRun + "\n";
        EXPECT_TRUE(Text(strFiling) == std::string(nBefore - 1, 'p') + "\r\nAB\rC\r\n")
            << (bZeros ? "zeros" : "mixed") << " run of " << nRun << " after " << nBefore;
      }
    }
  }
  EXPECT_EQ(Text(std::string(3 * nBlock + 7, '\0')), "");
  EXPECT_EQ(Text(std::string(3 * nBlock + 7, '\0') + "end\n" + std::string(nBlock, '\xFF')), "end\r\n");
}

// A long filing is read ahead while it is decoded: more blocks than are held
// ready at once, of real filings' lines, decode as one stream, and a failed
// write stops the decoding while blocks are still being read.
TEST_F(FilingTest, LongFilingReadAheadDecodesAsOneStream) {
  const std::string strSample = ReadFile((DataDir() / "filing/apple_10q_2000q1_ex27.txt").string());
  std::string strFiling;
  while (strFiling.size() < 40 * std::size_t{kFilingBlockBytes}) strFiling += strSample;
  const Decoded inBlocks = Decode(strFiling);
  const Decoded whole = DecodeAsOneBlock(strFiling);
  ASSERT_EQ(inBlocks.nStatus, QUORLIX_OK);
  EXPECT_TRUE(inBlocks.strText == whole.strText);
  EXPECT_TRUE(inBlocks.strSchedule == whole.strSchedule);
  EXPECT_FALSE(inBlocks.strSchedule.empty());

  const std::string strIn = PathOf("filing.txt");
  EXPECT_EQ(CvtDecodeFiling(strIn.c_str(), "/dev/full", PathOf("schedule.txt").c_str()), QUORLIX_FILING_FILE_ERROR);
  EXPECT_EQ(ReadFile(PathOf("schedule.txt")), "");
}

// ---- Files ----

TEST_F(FilingTest, EmptyFilingGivesTwoEmptyOutputs) {
  const Decoded decoded = Decode("");
  EXPECT_EQ(decoded.nStatus, QUORLIX_OK);
  EXPECT_EQ(decoded.strText, "");
  EXPECT_EQ(decoded.strSchedule, "");
}

TEST_F(FilingTest, MissingFilingCreatesNoOutput) {
  EXPECT_EQ(CvtDecodeFiling(PathOf("absent.txt").c_str(), PathOf("text.txt").c_str(), PathOf("schedule.txt").c_str()),
            QUORLIX_FILING_NOT_FOUND);
  EXPECT_FALSE(FileExists(PathOf("text.txt")));
  EXPECT_FALSE(FileExists(PathOf("schedule.txt")));
}

TEST_F(FilingTest, OutputInMissingFolderIsAFileError) {
  const std::string strIn = WriteFile("filing.txt", "x\n");
  EXPECT_EQ(CvtDecodeFiling(strIn.c_str(), PathOf("no/text.txt").c_str(), PathOf("schedule.txt").c_str()),
            QUORLIX_FILING_FILE_ERROR);
  EXPECT_FALSE(FileExists(PathOf("schedule.txt")));
  EXPECT_EQ(CvtDecodeFiling(strIn.c_str(), PathOf("text.txt").c_str(), PathOf("no/schedule.txt").c_str()),
            QUORLIX_FILING_FILE_ERROR);
  EXPECT_EQ(ReadFile(PathOf("text.txt")), "");
}

// The filing, the text output and the schedule output are open at once; whichever
// of them finds no descriptor left, the status is the same.
TEST_F(FilingTest, TooManyOpenFilesGivesTooManyFilesOnEachOfTheThreeFiles) {
  const std::string filing = WriteFile("filing.txt", "<ARTICLE> 5\n");
  const std::string text = PathOf("text.txt");
  const std::string schedule = PathOf("schedule.txt");
  const auto decode = [&] { return CvtDecodeFiling(filing.c_str(), text.c_str(), schedule.c_str()); };
  const auto warmUp = [&] {
    decode();
    CvtDecodeFiling(PathOf("absent.txt").c_str(), text.c_str(), schedule.c_str());
  };
  for (int left = 0; left < 3; ++left)
    EXPECT_EQ(StatusWithDescriptorsLeft(left, warmUp, decode), QUORLIX_FILING_TOO_MANY_FILES) << left << " left";
  EXPECT_EQ(StatusWithDescriptorsLeft(3, warmUp, decode), QUORLIX_OK);  // three are enough
}

TEST_F(FilingTest, OutputThatIsTheFilingIsRefusedBeforeAnythingIsCreated) {
  const std::string strFiling(100000, 'x');  // block mode would create the outputs first
  const std::string strIn = WriteFile("filing.txt", strFiling);
  std::filesystem::create_symlink(strIn, PathOf("symlink.txt"));
  std::filesystem::create_hard_link(strIn, PathOf("hardlink.txt"));
  std::filesystem::create_directory(PathOf("sub"));
  for (const std::string& strSame : {PathOf("symlink.txt"), PathOf("hardlink.txt"), PathOf("sub/../filing.txt")}) {
    EXPECT_EQ(CvtDecodeFiling(strIn.c_str(), strSame.c_str(), PathOf("schedule.txt").c_str()),
              QUORLIX_FILING_FILE_ERROR);
    EXPECT_EQ(CvtDecodeFiling(strIn.c_str(), PathOf("text.txt").c_str(), strSame.c_str()), QUORLIX_FILING_FILE_ERROR);
  }
  EXPECT_EQ(ReadFile(strIn), strFiling);
  EXPECT_FALSE(FileExists(PathOf("text.txt")));
  EXPECT_FALSE(FileExists(PathOf("schedule.txt")));
}

TEST_F(FilingTest, BothOutputsInOneFileLeaveItEmpty) {
  const std::string strIn = WriteFile("filing.txt", "<ARTICLE> 5\n");
  std::filesystem::create_directory(PathOf("sub"));
  EXPECT_EQ(CvtDecodeFiling(strIn.c_str(), PathOf("out.txt").c_str(), PathOf("sub/../out.txt").c_str()),
            QUORLIX_FILING_FILE_ERROR);
  EXPECT_EQ(ReadFile(PathOf("out.txt")), "");
}

TEST_F(FilingTest, LinesDecodedBeforeAWriteFailureReachTheOtherOutput) {
  std::string strFiling = "before\n<ARTICLE> 5\n";
  for (int i = 0; i < 200; ++i) strFiling += "<CASH> 1\n";  // more than one buffer of schedule rows
  strFiling += "<EPS-DILUTED> 2\nafter\n";
  const std::string strIn = WriteFile("filing.txt", strFiling);
  const std::string strFull = Text(strFiling);

  EXPECT_EQ(CvtDecodeFiling(strIn.c_str(), PathOf("partial.txt").c_str(), "/dev/full"), QUORLIX_FILING_FILE_ERROR);
  const std::string strPartial = ReadFile(PathOf("partial.txt"));
  EXPECT_TRUE(strPartial.starts_with("before\r\n" + kArticleRow + kCashRow));
  EXPECT_TRUE(strFull.starts_with(strPartial));
}

// The text is gathered before it is written; a schedule line must still wait for
// the text before it, so a text output that fails stops the schedule there.
TEST_F(FilingTest, AFailedTextWriteStopsTheScheduleAtThatLine) {
  std::string strFiling;
  for (int i = 0; i < 100; ++i) strFiling += "a line of the text before the schedule\n";  // over one buffer
  strFiling += "<ARTICLE> 5\n";
  for (int i = 0; i < 200; ++i) strFiling += "<CASH> 1\n";  // more than one buffer of schedule rows
  const std::string strIn = WriteFile("filing.txt", strFiling);

  EXPECT_EQ(CvtDecodeFiling(strIn.c_str(), "/dev/full", PathOf("schedule.txt").c_str()), QUORLIX_FILING_FILE_ERROR);
  EXPECT_EQ(ReadFile(PathOf("schedule.txt")), "");
}

// ---- Real filings ----

TEST_F(FilingTest, FilingInTwoBlocksGivesItsScheduleRows) {
  const Decoded decoded = DecodeFile((DataDir() / "filing/apple_10q_2000q1_ex27.txt").string());
  ASSERT_EQ(decoded.nStatus, QUORLIX_OK);
  const std::string& strRows = decoded.strSchedule;
  EXPECT_TRUE(
      strRows.starts_with("Article                              5\r\n"
                          "Multiplier                   1,000,000\r\n"
                          "\r\n"
                          "Period Type                      3-MOS\r\n"
                          "Fiscal Year End            SEP-30-2000\r\n"));
  EXPECT_NE(strRows.find("\r\nCurrents Assets                  4,909\r\n"), std::string::npos);
  EXPECT_NE(strRows.find("\r\nTotal Liability & Eq             7,586\r\n"), std::string::npos);
  EXPECT_TRUE(
      strRows.ends_with("\r\nNet Income                         183\r\n"
                        "1.14\r\n"  // <EPS-BASIC> is not a schedule tag
                        "EPS Diluted                       1.03\r\n"));
  EXPECT_EQ(std::count(strRows.begin(), strRows.end(), '\n'), 38);  // 39 lines less the "<S> <C>" one

  const std::string& strText = decoded.strText;
  EXPECT_NE(strText.find("\r\n0000912057-00-003201.hdr.sgml : 20000203\r\nACCESSION NUMBER:0000912057-00-003201\r\n"),
            std::string::npos);
  EXPECT_NE(strText.find("\r\n<EPS-BASIC>1.14\r\n"), std::string::npos);
  EXPECT_EQ(strText.find("<SEC-DOCUMENT>"), std::string::npos);
  EXPECT_TRUE(strText.ends_with("\r\n-----END PRIVACY-ENHANCED MESSAGE-----\r\n"));
}

TEST_F(FilingTest, FilingReadWholeWithTabsGivesItsScheduleRows) {
  const Decoded decoded = DecodeFile((DataDir() / "filing/apple_10q_1998q3_ex27_flawed_tabs.txt").string());
  ASSERT_EQ(decoded.nStatus, QUORLIX_OK);
  EXPECT_TRUE(
      decoded.strSchedule.starts_with("Article                              5\r\n"  // <ARTICLE> TAB 5
                                      "\r\n"
                                      "Multiplier                   1,000,000\r\n"
                                      "       \r\n"));  // blanks and a TAB
  EXPECT_TRUE(
      decoded.strSchedule.ends_with("EPS Primary                       1.55\r\n"
                                    "EPS Diluted                       1.40\r\n"));
  EXPECT_NE(decoded.strText.find("\r\n<FLAWED>WARNING: THE EDGAR SYSTEM"), std::string::npos);
}

}  // namespace
