#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "quorlix.h"
#include "test_support.h"

namespace {

using namespace std::string_view_literals;
using quorlix_test::StatusWithDescriptorsLeft;

class VerifyTest : public quorlix_test::TempDirTest {
 protected:
  // Writes bytes under the name and verifies that file.
  int Verify(std::string_view strName, std::string_view bytes) const {
    return CvtVerifyFile(WriteFile(strName, bytes).c_str());
  }
  int VerifyPath(std::string_view strName) const { return CvtVerifyFile(PathOf(strName).c_str()); }
  std::string MakeFolder(std::string_view strName) const {
    std::filesystem::create_directory(PathOf(strName));
    return PathOf(strName);
  }
};

// ---- Suffixes ----

TEST_F(VerifyTest, EverySuffixHasAFileThatAgrees) {
  struct Case {
    std::string_view strName;
    std::string_view bytes;
  };
  const Case cases[] = {
      {"a.bmp", "BM\x36\x00\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00"sv},
      {"a.gif", "GIF89a"sv},
      {"a.jpg", "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01"sv},
      {"a.pcx", "\x0A\x05\x01\x08"sv},
      {"a.tif", "II*\x00"sv},
      {"a.wmf", "\xD7\xCD\xC6\x9A\x00\x00"sv},
      {"a.pct", "anything"sv},
      {"a.ico", "\x00\x00\x01\x00"sv},
      {"a.mid", "MThd"sv},
      {"a.wav", "RIFF\x24\x00\x00\x00WAVEfmt "sv},
      {"a.ra", ".ra\xFD"sv},
      {"a.avi",
       "RIFF\x24\x00\x00\x00"
       "AVI LIST"sv},
      {"a.mov", "\x00\x00\x00\x14"sv},
      {"a.mpg", "\x00\x00\x01\xBA"sv},
      {"a.txt", "line\r\n"sv},
      {"a.htm", "<HTML><BODY></BODY></HTML>"sv},
      {"a.html", "<HTML><BODY></BODY></HTML>"sv},
  };
  for (const auto& c : cases) EXPECT_EQ(Verify(c.strName, c.bytes), QUORLIX_OK) << c.strName;
}

TEST_F(VerifyTest, EverySuffixThatCanFailHasAFileThatDisagrees) {
  const std::string_view names[] = {"a.bmp", "a.gif", "a.jpg", "a.pcx", "a.tif", "a.wmf", "a.ico", "a.mid",
                                    "a.wav", "a.ra",  "a.avi", "a.mov", "a.mpg", "a.txt", "a.htm", "a.html"};
  for (const auto strName : names) EXPECT_EQ(Verify(strName, "xyz"), QUORLIX_VERIFY_MISMATCH) << strName;
}

TEST_F(VerifyTest, SuffixIgnoresCase) {
  EXPECT_EQ(Verify("PHOTO.JPG", "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00"sv), QUORLIX_OK);
  EXPECT_EQ(Verify("Song.Ra", "abcd"), QUORLIX_OK);
  EXPECT_EQ(Verify("PAGE.HTML", "<HTML>"), QUORLIX_OK);
  EXPECT_EQ(Verify("NOTES.TxT", "x"), QUORLIX_VERIFY_MISMATCH);
}

TEST_F(VerifyTest, UnknownSuffixIsReportedWithoutTouchingTheFile) {
  // A folder would fail to open as a file: 17 rather than 2 shows it was never opened.
  EXPECT_EQ(CvtVerifyFile(MakeFolder("notes.doc").c_str()), QUORLIX_VERIFY_UNKNOWN_SUFFIX);
  EXPECT_EQ(VerifyPath("README"), QUORLIX_VERIFY_UNKNOWN_SUFFIX);  // does not exist either
  EXPECT_EQ(VerifyPath("photo.jpeg"), QUORLIX_VERIFY_UNKNOWN_SUFFIX);
  EXPECT_EQ(VerifyPath("page.html "), QUORLIX_VERIFY_UNKNOWN_SUFFIX);
  EXPECT_EQ(CvtVerifyFile("jpg"), QUORLIX_VERIFY_UNKNOWN_SUFFIX);  // shorter than the row's four characters
  EXPECT_EQ(CvtVerifyFile(""), QUORLIX_VERIFY_UNKNOWN_SUFFIX);
  EXPECT_EQ(CvtVerifyFile(nullptr), QUORLIX_VERIFY_UNKNOWN_SUFFIX);
}

TEST_F(VerifyTest, SuffixAloneIsAName) { EXPECT_EQ(CvtVerifyFile(WriteFile(".ra", "abcd").c_str()), QUORLIX_OK); }

// ---- Files that cannot be read ----

TEST_F(VerifyTest, PctPassesWithoutOpeningTheFile) {
  EXPECT_EQ(VerifyPath("missing.pct"), QUORLIX_OK);
  EXPECT_EQ(CvtVerifyFile(MakeFolder("folder.pct").c_str()), QUORLIX_OK);
  EXPECT_EQ(VerifyPath("missing.bmp"), QUORLIX_VERIFY_NOT_FOUND);
}

TEST_F(VerifyTest, MissingFileOfEveryReadingKindIsNotFound) {
  EXPECT_EQ(VerifyPath("missing.gif"), QUORLIX_VERIFY_NOT_FOUND);
  EXPECT_EQ(VerifyPath("missing.txt"), QUORLIX_VERIFY_NOT_FOUND);
  EXPECT_EQ(VerifyPath("missing.html"), QUORLIX_VERIFY_NOT_FOUND);
}

TEST_F(VerifyTest, UnreadableFileIsAFileError) {
  EXPECT_EQ(CvtVerifyFile(MakeFolder("folder.bmp").c_str()), QUORLIX_VERIFY_FILE_ERROR);
  EXPECT_EQ(CvtVerifyFile(MakeFolder("folder.txt").c_str()), QUORLIX_VERIFY_FILE_ERROR);
  EXPECT_EQ(VerifyPath("no-such-folder/a.wav"), QUORLIX_VERIFY_FILE_ERROR);  // a bad path, not a missing file
}

TEST_F(VerifyTest, TooManyOpenFilesGivesTooManyFilesForPrefixAndWholeReads) {
  const std::string bmp = WriteFile("a.bmp", "BM");
  const std::string txt = WriteFile("a.txt", "\r\n");
  const auto warmUp = [&] {
    CvtVerifyFile(bmp.c_str());
    CvtVerifyFile(txt.c_str());
    CvtVerifyFile((txt + ".missing.txt").c_str());
  };
  EXPECT_EQ(StatusWithDescriptorsLeft(0, warmUp, [&] { return CvtVerifyFile(bmp.c_str()); }),
            QUORLIX_VERIFY_TOO_MANY_FILES);
  EXPECT_EQ(StatusWithDescriptorsLeft(0, warmUp, [&] { return CvtVerifyFile(txt.c_str()); }),
            QUORLIX_VERIFY_TOO_MANY_FILES);
}

// ---- Picture signatures ----

TEST_F(VerifyTest, BitmapSignatureIsExact) {
  EXPECT_EQ(Verify("a.bmp", "BM"), QUORLIX_OK);
  EXPECT_EQ(Verify("a.bmp", "IC"), QUORLIX_OK);
  EXPECT_EQ(Verify("a.bmp", "bm"), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.bmp", "ic"), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.bmp", "B"), QUORLIX_VERIFY_MISMATCH);  // second byte past the end
  EXPECT_EQ(Verify("a.bmp", ""), QUORLIX_VERIFY_MISMATCH);
}

TEST_F(VerifyTest, GifSignatureIgnoresCase) {
  EXPECT_EQ(Verify("a.gif", "gif89a"), QUORLIX_OK);
  EXPECT_EQ(Verify("a.gif", "GIF87a"), QUORLIX_OK);
  EXPECT_EQ(Verify("a.gif", "GiF"), QUORLIX_OK);
  EXPECT_EQ(Verify("a.gif", "GI"), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.gif", "GIX89a"), QUORLIX_VERIFY_MISMATCH);
}

TEST_F(VerifyTest, JpegNeedsTheJfifIdentifierEndedByZero) {
  const std::string_view kHead = "\xFF\xD8\xFF\xE0\x00\x10"sv;  // bytes 0-5; the identifier starts at 6
  const auto jpeg = [&](std::string_view identifier) { return std::string(kHead) + std::string(identifier); };
  EXPECT_EQ(Verify("a.jpg", jpeg("JFIF\0"sv)), QUORLIX_OK);
  EXPECT_EQ(Verify("a.jpg", jpeg("jFiF\0"sv)), QUORLIX_OK);
  EXPECT_EQ(Verify("a.jpg", jpeg("JFIF\x01"sv)), QUORLIX_VERIFY_MISMATCH);  // not ended by 0
  EXPECT_EQ(Verify("a.jpg", jpeg("JFIFX"sv)), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.jpg", jpeg("Exif\0"sv)), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.jpg", jpeg("JFI\0\0"sv)), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.jpg", jpeg("JFIF"sv)), QUORLIX_VERIFY_MISMATCH);  // the file ends before the 0
  EXPECT_EQ(Verify("a.jpg", "JFIF\0"sv), QUORLIX_VERIFY_MISMATCH);      // at offset 0, not 6
}

TEST_F(VerifyTest, PcxNeedsItsManufacturerByte) {
  EXPECT_EQ(Verify("a.pcx", "\x0A"), QUORLIX_OK);
  EXPECT_EQ(Verify("a.pcx", "\x0B\x0A"), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.pcx", ""), QUORLIX_VERIFY_MISMATCH);
}

TEST_F(VerifyTest, TiffByteOrderMarkIsExact) {
  EXPECT_EQ(Verify("a.tif", "II"), QUORLIX_OK);
  EXPECT_EQ(Verify("a.tif", "MM\x00*"sv), QUORLIX_OK);
  EXPECT_EQ(Verify("a.tif", "ii*\x00"sv), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.tif", "IM"), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.tif", "I"), QUORLIX_VERIFY_MISMATCH);
}

TEST_F(VerifyTest, MetafileNeedsItsKeyOrAHeaderType) {
  EXPECT_EQ(Verify("a.wmf", "\xD7\xCD\xC6\x9A\x00\x00"sv), QUORLIX_OK);  // placeable key
  EXPECT_EQ(Verify("a.wmf", "\x01\x00\x09\x00"sv), QUORLIX_OK);          // type 1: in memory
  EXPECT_EQ(Verify("a.wmf", "\x02\x00\x09\x00"sv), QUORLIX_OK);          // type 2: on disk
  EXPECT_EQ(Verify("a.wmf", "\x01\x00"sv), QUORLIX_OK);                  // the type needs two bytes only
  EXPECT_EQ(Verify("a.wmf", "\x03\x00\x09\x00"sv), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.wmf", "\x00\x01\x09\x00"sv), QUORLIX_VERIFY_MISMATCH);  // big-endian 1
  EXPECT_EQ(Verify("a.wmf", "\x01\x01"sv), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.wmf", "\x9A\xC6\xCD\xD7"sv), QUORLIX_VERIFY_MISMATCH);  // key in the wrong order
  EXPECT_EQ(Verify("a.wmf", "\xD7\xCD\xC6"sv), QUORLIX_VERIFY_MISMATCH);      // key cut short
  EXPECT_EQ(Verify("a.wmf", "\x01"sv), QUORLIX_VERIFY_MISMATCH);
}

// ---- Sound and video ----

TEST_F(VerifyTest, RiffFormsPassForEitherSuffix) {
  EXPECT_EQ(Verify("a.wav", "RIFF\0\0\0\0WAVE"sv), QUORLIX_OK);
  EXPECT_EQ(Verify("a.wav", "RIFF\0\0\0\0AVI "sv), QUORLIX_OK);  // a wave name holding video
  EXPECT_EQ(Verify("a.avi", "RIFF\0\0\0\0WAVE"sv), QUORLIX_OK);  // a video name holding a wave
  EXPECT_EQ(Verify("a.avi", "RIFF\0\0\0\0avi "sv), QUORLIX_OK);  // ignoring case
  EXPECT_EQ(Verify("a.wav", "xxxxxxxxWAV"sv), QUORLIX_OK);       // only bytes 8-10 decide
  EXPECT_EQ(Verify("a.wav", "RIFF\0\0\0\0RMID"sv), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.avi", "RIFF\0\0\0\0AV"sv), QUORLIX_VERIFY_MISMATCH);  // ends inside the form type
}

TEST_F(VerifyTest, FourByteTypesNeedOnlyFourBytes) {
  for (const std::string_view strName : {"a.ico", "a.mid", "a.ra", "a.mov", "a.mpg"}) {
    EXPECT_EQ(Verify(strName, "\0\0\0"sv), QUORLIX_VERIFY_MISMATCH) << strName;
    EXPECT_EQ(Verify(strName, "\0\0\0\0"sv), QUORLIX_OK) << strName;
    EXPECT_EQ(Verify(strName, "any five"), QUORLIX_OK) << strName;
  }
}

// ---- Text ----

TEST_F(VerifyTest, TextNeedsOneCrLfPair) {
  EXPECT_EQ(Verify("a.txt", "one\ntwo\n"), QUORLIX_VERIFY_MISMATCH);  // LF only
  EXPECT_EQ(Verify("a.txt", "one\ntwo\r\nthree\n"), QUORLIX_OK);      // one pair is enough
  EXPECT_EQ(Verify("a.txt", "\r\n"), QUORLIX_OK);
  EXPECT_EQ(Verify("a.txt", "one\ntwo\r"), QUORLIX_VERIFY_MISMATCH);  // the only CR is the last byte
  EXPECT_EQ(Verify("a.txt", "one\n\rtwo"), QUORLIX_VERIFY_MISMATCH);  // LF CR is no pair
  EXPECT_EQ(Verify("a.txt", "a\r\0\nb"sv), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.txt", ""), QUORLIX_VERIFY_MISMATCH);
}

TEST_F(VerifyTest, TextPairFarIntoALargeFileIsFound) {
  EXPECT_EQ(Verify("a.txt", std::string(300'000, 'x') + "\r\n"), QUORLIX_OK);
}

// The file is read in 64 KiB blocks: a pair or a tag that a block's end cuts still counts.
TEST_F(VerifyTest, APairOrTagAcrossBlocksIsFound) {
  constexpr std::size_t kBlock = 64 * 1024;
  for (std::size_t nCut = 1; nCut < 6; ++nCut) {
    const std::string before(kBlock - nCut, 'x');
    EXPECT_EQ(Verify("a.txt", before + "\r\n"), QUORLIX_OK) << nCut;
    EXPECT_EQ(Verify("a.htm", before + "<HTML>"), QUORLIX_OK) << nCut;
    EXPECT_EQ(Verify("a.htm", before + "<HTMX>"), QUORLIX_VERIFY_MISMATCH) << nCut;
    // A tag that opens before the cut and closes after it starts no tag inside it.
    EXPECT_EQ(Verify("a.htm", "<p" + before + "<HTML>"), QUORLIX_VERIFY_MISMATCH) << nCut;
  }
  EXPECT_EQ(Verify("a.txt", std::string(kBlock - 1, 'x') + "\r" + "x\n"), QUORLIX_VERIFY_MISMATCH);
}

TEST_F(VerifyTest, RealFilingWithLfOnlyDisagreesUntilGivenCrLf) {
  const std::string strFiling =
      quorlix_test::ReadFile((quorlix_test::DataDir() / "verify/apple_8k_2000_no_ex27.txt").string());
  EXPECT_EQ(Verify("filing.txt", strFiling), QUORLIX_VERIFY_MISMATCH);
  std::string strCrLf;
  for (const char c : strFiling) strCrLf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(Verify("filing.txt", strCrLf), QUORLIX_OK);
}

// ---- HTML ----

TEST_F(VerifyTest, HtmlStartTagIsMatchedOnItsFirstFiveBytes) {
  struct Case {
    std::string_view page;
    int nExpected;
  };
  const Case cases[] = {
      {"<HTML>", QUORLIX_OK},
      {"<HTML lang=\"en\"><BODY>", QUORLIX_OK},  // attributes
      {"<HTMLX>", QUORLIX_OK},                   // further letters: only five bytes are compared
      {"<HTML\n  lang=en\n>", QUORLIX_OK},
      {"<html><body></body></html>", QUORLIX_VERIFY_MISMATCH},  // lower case
      {"<Html>", QUORLIX_VERIFY_MISMATCH},
      {"< HTML>", QUORLIX_VERIFY_MISMATCH},
      {"<HTM>", QUORLIX_VERIFY_MISMATCH},  // tag text shorter than the pattern
      {"<HT\0ML>"sv, QUORLIX_VERIFY_MISMATCH},
      {"HTML>", QUORLIX_VERIFY_MISMATCH},
      {"", QUORLIX_VERIFY_MISMATCH},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Verify("a.htm", c.page), c.nExpected) << testing::PrintToString(std::string(c.page));
}

TEST_F(VerifyTest, HtmlEveryTagIsExamined) {
  EXPECT_EQ(Verify("a.htm", "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2//EN\">\n<HTML>"), QUORLIX_OK);
  EXPECT_EQ(Verify("a.htm", "<!-- c --><HEAD></HEAD> text <HTML>"), QUORLIX_OK);
  EXPECT_EQ(Verify("a.htm", "a < b and c > d <HTML>"), QUORLIX_OK);  // a stray '<' only ends at the next '>'
}

TEST_F(VerifyTest, HtmlLessThanInsideATagStartsNoTag) {
  EXPECT_EQ(Verify("a.htm", "<P title=<HTML>"), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.htm", "<P <HTML> <HTML>"), QUORLIX_OK);  // the second one is a tag of its own
}

TEST_F(VerifyTest, HtmlUnterminatedTagAtTheEndIsNoTag) {
  EXPECT_EQ(Verify("a.htm", "<P>text<HTML"), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.htm", "<HTML"), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.htm", "<"), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(Verify("a.html", "<HTML>text<"), QUORLIX_OK);  // a tag before it still counts
}

TEST_F(VerifyTest, RealPageAgrees) {
  const std::string strPage =
      quorlix_test::ReadFile((quorlix_test::DataDir() / "html/edgar_ex21_2012_subsidiaries.htm").string());
  EXPECT_EQ(Verify("page.htm", strPage), QUORLIX_OK);
  EXPECT_EQ(Verify("page.html", strPage), QUORLIX_OK);
  EXPECT_EQ(Verify("page.txt", strPage), QUORLIX_VERIFY_MISMATCH);  // LF only
}

}  // namespace
