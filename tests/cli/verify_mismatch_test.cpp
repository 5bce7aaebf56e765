#include "verify_mismatch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "quorlix.h"
#include "tool_test.h"

namespace {

using namespace std::string_literals;
using quorlix_test::ReadFile;

class VerifyMismatchTest : public quorlix_test::ToolTestWithoutMagic {
 protected:
  // The library's words for a file of these contents under this name, as
  // ExplainMismatch hands them on; empty when the file agrees.
  std::string Describe(std::string_view name, std::string_view contents) {
    std::string relPath = std::to_string(m_files++);  // a folder per file, for names with folders of their own
    relPath += '/';
    relPath += name;
    const std::string path = WriteTree(relPath, contents);
    if (CvtVerifyFile(path.c_str()) != QUORLIX_VERIFY_MISMATCH) return {};
    return ExplainMismatch(path.c_str()).detail;
  }

 private:
  int m_files = 0;
};

// One file that agrees with its suffix and one that does not, for each suffix
// the export knows, checked by the export through the tool; the second line
// says what the check wanted and what the file holds.
TEST_F(VerifyMismatchTest, EverySuffixExplainsItsMismatch) {
  const struct {
    std::string suffix;
    std::string agrees;
    std::string disagrees;
    std::string explanation;
  } cases[] = {
      {".bmp", "BM\x36\x00", "\x89PNG", R"(does not begin with "BM" or "IC" but "\x89P")"},
      {".gif", "gif89a", "PNG", R"(does not begin with "GIF" (in any case) but "PNG")"},
      {".jpg", "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01"s,
       "\xFF\xD8\xFF\xE1\x00\x10"
       "Exif\x00\x00"s,
       R"(bytes 6-10 are not "JFIF" (in any case) and a NUL but "Exif\x00")"},
      {".pcx", "\x0A\x05\x01\x08", "P5", R"(does not begin with the byte 0x0A but "P")"},
      {".tif", "MM\x00\x2A"s, "BM", R"(does not begin with "II" or "MM" but "BM")"},
      {".wmf", "\xD7\xCD\xC6\x9A", "\x03\x00\x09\x00"s,
       R"(does not begin with the placeable-metafile key D7 CD C6 9A, nor with 01 00 or 02 00 (a metafile in memory or on disk) but "\x03\x00\x09\x00")"},
      {".ico", "\x00\x00\x01\x00"s, "ab", "is shorter than 4 bytes; the file has 2 bytes"},
      {".mid", "MThd", "", "is shorter than 4 bytes; the file is empty"},
      {".wav", "RIFF\x24\x00\x00\x00WAVEfmt "s, "RIFF\x24\x00\x00\x00RMIDdata"s,
       R"(bytes 8-10 are not "WAV" or "AVI" (in any case) but "RMI")"},
      {".ra", ".ra\xFD", "x", "is shorter than 4 bytes; the file has 1 byte"},
      {".avi", "RIFF\x24\x00\x00\x00wave"s, "OggS\x00\x02\x00\x00\x00\x00\x00\x00"s,
       R"(bytes 8-10 are not "AVI" or "WAV" (in any case) but "\x00\x00\x00")"},
      {".mov", "\x00\x00\x00\x14"s, "moo", "is shorter than 4 bytes; the file has 3 bytes"},
      {".mpg", "\x00\x00\x01\xBA"s, "\x00\x00\x01"s, "is shorter than 4 bytes; the file has 3 bytes"},
      {".txt", "a\r\n", "a\nb\n", "no CR LF pair in 4 bytes; 2 lines end in LF alone, the first at byte 1"},
      {".htm", "<HTML lang=en><BODY>", "<!DOCTYPE html><html lang=en>",
       R"(no tag beginning "<HTML" (upper case); it writes "<html")"},
      {".HTML", "<HTML>", "<p>plain</p>",
       R"(no tag beginning "<HTML" (upper case); none begins "<html" in any case either)"},
  };
  for (const auto& c : cases) {
    const std::string good = WriteFile("good" + c.suffix, c.agrees);
    const std::string bad = WriteFile("bad" + c.suffix, c.disagrees);
    const auto run = RunTool({"verify", good, bad});
    std::string suffix = c.suffix;
    for (char& ch : suffix) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(run.out,
              good + ": ok\n" + bad + ": contents do not match " + suffix + ": " + c.explanation + " (status 18)\n");
    EXPECT_EQ(run.exitStatus, 18) << c.suffix;
  }
  // .pct has no content test: every file agrees, even an empty one.
  EXPECT_EQ(RunTool({"verify", WriteFile("empty.pct", "")}).exitStatus, 0);
}

TEST_F(VerifyMismatchTest, TextTypesSayWhatLineEndsTheyHave) {
  EXPECT_EQ(Describe("a.txt", "one\rtwo\r"), "no CR LF pair in 8 bytes; 2 lines end in CR alone, the first at byte 3");
  EXPECT_EQ(Describe("a.txt", "x\n"), "no CR LF pair in 2 bytes; 1 line ends in LF alone, the first at byte 1");
  EXPECT_EQ(Describe("a.txt", "no line ends"), "no CR LF pair in 12 bytes; it has no line ends");
  EXPECT_EQ(Describe("a.txt", ""), "no CR LF pair; the file is empty");
  // A pair or a tag that is there is found: the file agrees.
  EXPECT_EQ(Describe("a.TXT", "a\nb\r\n"), "");
  EXPECT_EQ(Describe("a.htm", "<p><HTML>"), "");
  // A '<' that no '>' closes is no tag, and an upper-case tag later does not count.
  EXPECT_EQ(Describe("a.htm", "<html"),
            R"(no tag beginning "<HTML" (upper case); none begins "<html" in any case either)");
  EXPECT_EQ(Describe("a.htm", "<HTM> <hTmL\x01>"), R"(no tag beginning "<HTML" (upper case); it writes "<hTmL")");
}

TEST_F(VerifyMismatchTest, SuffixesAreMatchedAsTheExportMatchesThem) {
  // The last letters of the path decide, in any case; a type without a check explains nothing.
  EXPECT_EQ(Describe("NOTES.TXT", "x\n"), "no CR LF pair in 2 bytes; 1 line ends in LF alone, the first at byte 1");
  EXPECT_EQ(Describe("page.Html", "<html>"), R"(no tag beginning "<HTML" (upper case); it writes "<html")");
  EXPECT_EQ(Describe("x.pct", "anything"), "");
  EXPECT_EQ(Describe("x.doc", "anything"), "");
  EXPECT_EQ(Describe("dir.gif/x.jpeg", "anything"), "");
}

// Three real kinds of file, each named for a type it is not: libmagic says what
// they are, in the line and in the report's looks_like column.
TEST_F(VerifyMismatchTest, LooksLikeComesFromLibmagic) {
  ::unsetenv("MAGIC");
  const std::string png =
      "\x89PNG\r\n\x1A\n\x00\x00\x00\x0DIHDR\x00\x00\x00\x10\x00\x00\x00\x10\x08\x06\x00\x00\x00\x1F\xF3\xFF\x61"s;
  const std::string gzip = "\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00"s;
  const std::string pdf = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\ntrailer\n<< /Root 1 0 R >>\n%%EOF\n";
  WriteTree("mixed/icon.gif", png);
  WriteTree("mixed/notes.txt", gzip);
  WriteTree("mixed/paper.htm", pdf);
  WriteTree("mixed/real.gif", "GIF89a");
  const auto run = RunTool({"verify", "-q", "mixed", "--report", "report.csv"});
  EXPECT_EQ(run.exitStatus, 18);
  EXPECT_NE(
      run.out.find(
          R"(mixed/icon.gif: contents do not match .gif: does not begin with "GIF" (in any case) but "\x89PN"; looks like PNG image data, 16 x 16, 8-bit/color RGBA, non-interlaced (status 18))"),
      std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("mixed/notes.txt: contents do not match .txt: no CR LF pair in 20 bytes; it has no line "
                         "ends; looks like gzip compressed data"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("; looks like PDF document, version 1.4"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("real.gif"), std::string::npos);  // -q keeps the files that agree off
  const std::string report = ReadFile(PathOf("report.csv"));
  EXPECT_TRUE(report.starts_with("input,status,meaning,outputs,bytes_in,seconds,looks_like\r\n")) << report;
  EXPECT_NE(report.find(",\"PNG image data, 16 x 16, 8-bit/color RGBA, non-interlaced\"\r\n"), std::string::npos)
      << report;
  // Filled for mismatches only.
  EXPECT_NE(report.find("mixed/real.gif,0,ok,,6,"), std::string::npos);
  EXPECT_TRUE(report.ends_with(",\r\n")) << report;
}

// Without a magic database the tool says the rest all the same.
TEST_F(VerifyMismatchTest, WithoutLibmagicLooksLikeIsLeftOut) {
  const std::string bad = WriteFile("photo.jpg", "\x89PNG\r\n\x1A\n\x00\x00\x00\x0DIHDR"s);
  const auto run = RunTool({"verify", bad, "--report", "-"});
  EXPECT_EQ(run.exitStatus, 18);
  EXPECT_NE(
      run.out.find(
          bad +
          R"(: contents do not match .jpg: bytes 6-10 are not "JFIF" (in any case) and a NUL but "\x1A\x0A\x00\x00\x00" (status 18))"),
      std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("looks like"), std::string::npos);
  EXPECT_NE(run.out.find(",18,\"contents do not match .jpg: bytes 6-10"), std::string::npos) << run.out;
}

}  // namespace
