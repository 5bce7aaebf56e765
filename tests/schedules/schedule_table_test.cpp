#include "schedules/schedule_table.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Collects the table's pieces into one string.
class TextChunks final : public ChunkSink {
 public:
  void TakeChunk(std::string& chunk) override { text += chunk; }
  std::string text;
};

template <typename Sink>
void ReadWith(Sink& sink, std::string_view filing) {
  ScheduleReader reader(sink);
  reader.Start();
  reader.Feed(reinterpret_cast<const unsigned char*>(filing.data()), filing.size());
  reader.Finish();
}

// The long form's rows of a filing (without the header line).
std::string LongRows(std::string_view filing, std::string_view path = "f.txt") {
  TextChunks chunks;
  LongTable table;
  table.StartInput(path, chunks);
  ReadWith(table, filing);
  chunks.text += table.Rest();
  return chunks.text;
}

// The wide table of several filings, named f1.txt, f2.txt, ..., with at most
// nMostTagColumns tag columns; pOtherTags gets the count of tags left out.
std::string Wide(const std::vector<std::string>& filings, std::size_t nMostTagColumns = kDefaultMostTagColumns,
                 std::uint64_t* pOtherTags = nullptr) {
  WideTable table(nMostTagColumns);
  WideSink sink;
  WideInput input;
  for (std::size_t i = 0; i < filings.size(); ++i) {
    std::string name = "f";
    name += std::to_string(i + 1);
    name += ".txt";
    sink.StartInput(name, input);
    ReadWith(sink, filings[i]);
    table.Merge(input);
  }
  TextChunks chunks;
  const std::uint64_t nOtherTags = table.Write(chunks);
  if (pOtherTags) *pOtherTags = nOtherTags;
  return chunks.text;
}

std::string Exhibit(std::string_view body) {
  return "<DOCUMENT>\n<TYPE>EX-27\n<DESCRIPTION>FDS\n<TEXT>\n" + std::string(body) + "</TEXT>\n</DOCUMENT>\n";
}

const std::string kFixed =
    "path,member,accession_number,cik,company,form_type,filed,period,sic,fiscal_year_end,document,"
    "description,schedule,article,series,series_name,flawed,complete,multiplier,restated,multiplier_source";
const std::string kWideFixed = kFixed + ",unparsed,other_tags";

// ---- Fields ----

TEST(ScheduleCsv, FilingBytesAreWindows1252WithTheUndefinedFiveAsC1Controls) {
  iconv_t cd = ::iconv_open("UTF-32LE", "WINDOWS-1252");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    char32_t out = 0;
    char* pIn = &in;
    char* pOut = reinterpret_cast<char*>(&out);
    std::size_t nIn = 1, nOut = sizeof out;
    const bool bDefined = ::iconv(cd, &pIn, &nIn, &pOut, &nOut) != static_cast<std::size_t>(-1);
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // The C library leaves 0x81, 0x8D, 0x8F, 0x90 and 0x9D undefined; they keep their number.
    const char32_t expected = bDefined ? out : static_cast<char32_t>(b);
    if (!bDefined) {
      EXPECT_TRUE(b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) << b;
    }
    EXPECT_EQ(CodePointOfFilingByte(static_cast<unsigned char>(b)), expected) << "byte " << b;
  }
  ::iconv_close(cd);
}

TEST(ScheduleCsv, TextIsWrittenAsUtf8AndQuotedWhereCsvNeedsIt) {
  const auto text = [](std::string_view in) {
    std::string out;
    AppendCsvText(out, in);
    return out;
  };
  EXPECT_EQ(text("APPLE COMPUTER INC"), "APPLE COMPUTER INC");
  EXPECT_EQ(text(""), "");
  EXPECT_EQ(text("1,234"), "\"1,234\"");
  EXPECT_EQ(text("A \"B\" C"), "\"A \"\"B\"\" C\"");
  EXPECT_EQ(text("2\r"), "2\\x0d");                   // a control byte: escaped, so no quotes are needed
  EXPECT_EQ(text("BANK\x92S"), "BANK\xE2\x80\x99S");  // right single quote
  EXPECT_EQ(text("\x80 \xE9\xFF\x81"), "\xE2\x82\xAC \xC3\xA9\xC3\xBF\xC2\x81");  // euro, é, ÿ, a C1 control
  EXPECT_EQ(text("\x93Q,\x94"), "\"\xE2\x80\x9CQ,\xE2\x80\x9D\"");
}

// Every ASCII byte alone, against the plain rule: controls but TAB escaped as
// names have them, a comma or a quote quoted, the rest as it is.
TEST(ScheduleCsv, ControlBytesInTextAreEscapedAsInNames) {
  for (int b = 0; b < 0x80; ++b) {
    const char c = static_cast<char>(b);
    std::string out;
    AppendCsvText(out, std::string_view(&c, 1));
    std::string expected(1, c);
    if (b < 0x20 && b != '\t') {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", b);
      expected = escape;
    } else if (c == ',') {
      expected = "\",\"";
    } else if (c == '"') {
      expected = "\"\"\"\"";
    }
    EXPECT_EQ(out, expected) << "byte " << b;
    std::string name;
    AppendNameText(name, std::string_view(&c, 1));
    if (b < 0x20) {
      EXPECT_EQ(name, b == '\t' ? "\t" : out) << "byte " << b;  // one escape for both
    }
  }
  std::string out;
  AppendCsvText(out, std::string_view("NUL\0,CR\rLF\n", 11));
  EXPECT_EQ(out, "\"NUL\\x00,CR\\x0dLF\\x0a\"");
}

TEST(ScheduleCsv, SpreadsheetSafeGuardsFormulaStartsButNeverPlainNumbers) {
  const auto safe = [](std::string_view in) {
    std::string out;
    AppendCsvText(out, in, CellGuard::kSpreadsheetSafe);
    return out;
  };
  EXPECT_EQ(safe("=HYPERLINK(\"http://x\")"), "\"'=HYPERLINK(\"\"http://x\"\")\"");
  EXPECT_EQ(safe("+1 555 0100"), "'+1 555 0100");
  EXPECT_EQ(safe("@SUM(A1)"), "'@SUM(A1)");
  EXPECT_EQ(safe("-x"), "'-x");
  EXPECT_EQ(safe("-"), "'-");  // no digit: no number
  EXPECT_EQ(safe("\tcmd"), "'\tcmd");
  EXPECT_EQ(safe("\r=1"), "'\\x0d=1");
  // Plain numbers, and text that starts otherwise, stay as they are.
  EXPECT_EQ(safe("-1,045"), "\"-1,045\"");
  EXPECT_EQ(safe("+(12.50)"), "+(12.50)");
  EXPECT_EQ(safe("-.40"), "-.40");
  EXPECT_EQ(safe("A=B"), "A=B");
  EXPECT_EQ(safe(""), "");
  std::string plain;
  AppendCsvText(plain, "=1+1");
  EXPECT_EQ(plain, "=1+1");  // without the guard, as the filing has it
  std::string name;
  AppendCsvName(name, "-rf.txt", CellGuard::kSpreadsheetSafe);
  EXPECT_EQ(name, "'-rf.txt");
}

TEST(ScheduleCsv, NamesAreValidUtf8WithOtherBytesAndControlsAsEscapes) {
  const auto name = [](std::string_view in) {
    std::string out;
    AppendCsvName(out, in);
    return out;
  };
  EXPECT_EQ(name("edgar/0000320193-94-000016.txt"), "edgar/0000320193-94-000016.txt");
  EXPECT_EQ(name("dir,x/d\xE9"
                 "c.txt"),
            "\"dir,x/d\\xe9c.txt\"");  // Latin-1: one escape, then quoted
  EXPECT_EQ(name("d\xC3\xA9"
                 "c \"1\".txt"),
            "\"d\xC3\xA9"
            "c \"\"1\"\".txt\"");                             // UTF-8 as it stands
  EXPECT_EQ(name("a\tb\nc\x01\x7F"), "a\tb\\x0ac\\x01\x7F");  // TAB and DEL stay
  EXPECT_EQ(name(std::string_view("n\0l", 3)), "n\\x00l");
  // Sequences that are not UTF-8: each byte on its own, and what follows it as it is.
  EXPECT_EQ(name("\xC3"), "\\xc3");                             // cut short
  EXPECT_EQ(name("\xC0\xAF"), "\\xc0\\xaf");                    // overlong
  EXPECT_EQ(name("\xED\xA0\x80"), "\\xed\\xa0\\x80");           // a surrogate
  EXPECT_EQ(name("\xF4\x90\x80\x80"), "\\xf4\\x90\\x80\\x80");  // past U+10FFFF
  EXPECT_EQ(name("\xF0\x9F\x93\x84 \x80"), "\xF0\x9F\x93\x84 \\x80");
  EXPECT_EQ(name("\xE2\x82z"), "\\xe2\\x82z");
}

// ---- Values ----

TEST(ScheduleScaling, PerShareFiguresRatiosRatesAndIdentifiersKeepTheirNumber) {
  for (const char* tag : {"EPS-PRIMARY", "EPS-DILUTED", "EPS-BASIC", "PER-SHARE-NAV-BEGIN", "PER-SHARE-NII",
                          "AVG-DEBT-PER-SHARE", "EXPENSE-RATIO", "YIELD-ACTUAL", "NAV", "RATE", "EXCHANGE-RATE", "CIK"})
    EXPECT_TRUE(KeepsNumberUnscaled(tag, false)) << tag;
  for (const char* tag : {"CASH", "TOTAL-ASSETS", "SHARES-COMMON-STOCK", "NUMBER-OF-SHARES-SOLD", "RATED", "OPERATE",
                          "EPSX", "RETURNS-OF-CAPITAL", "NET-ASSETS", "PERSHARE"})
    EXPECT_FALSE(KeepsNumberUnscaled(tag, false)) << tag;
  EXPECT_TRUE(KeepsNumberUnscaled("RETURNS-OF-CAPITAL", true));  // in Article 6 a per-share figure
}

TEST(ScheduleLongForm, OneRowPerValueWithItsReadingsAndScaling) {
  const std::string filing =
      "ACCESSION NUMBER: 0000000000-00-000001\nCONFORMED SUBMISSION TYPE: 10-Q\n"
      "CONFORMED PERIOD OF REPORT: 20000101\nFILED AS OF DATE: 20000201\n"
      "COMPANY CONFORMED NAME: EXAMPLE, INC\nCENTRAL INDEX KEY: 0000320193\n"
      "STANDARD INDUSTRIAL CLASSIFICATION: ELECTRONIC COMPUTERS [3571]\nFISCAL YEAR END: 0930\n" +
      Exhibit(
          "<ARTICLE> 5\n<CASH> 1,773\n<MULTIPLIER> 1,000,000\n<PERIOD-END> JAN-01-2000\n<INTEREST-EXPENSE> (72)\n"
          "<EPS-BASIC> 1.14\n<PERIOD-TYPE> 3-MOS\n<EPS-DILUTED> -0.40\n<TOTAL-ASSETS> 7,586<F1>\n");
  const std::string prefix =
      "f.txt,,0000000000-00-000001,320193,\"EXAMPLE, INC\",10-Q,2000-02-01,2000-01-01,3571,0930,"
      "EX-27,FDS,1,5,,,0,1,1000000,0,written,";
  EXPECT_EQ(LongRows(filing), prefix + "ARTICLE,5,5,\r\n" +                        // no scaled for ARTICLE
                                  prefix + "CASH,\"1,773\",1773,1773000000\r\n" +  // scaled by a later MULTIPLIER
                                  prefix + "MULTIPLIER,\"1,000,000\",1000000,\r\n" + prefix +
                                  "PERIOD-END,JAN-01-2000,2000-01-01,\r\n" + prefix +
                                  "INTEREST-EXPENSE,(72),-72,-72000000\r\n" + prefix + "EPS-BASIC,1.14,1.14,1.14\r\n" +
                                  prefix + "PERIOD-TYPE,3-MOS,,\r\n" + prefix + "EPS-DILUTED,-0.40,-0.4,-0.4\r\n" +
                                  prefix + "TOTAL-ASSETS,\"7,586\",7586,7586000000\r\n");
}

// The multiplier's three columns (multiplier, restated, multiplier_source) of a schedule's rows.
std::string MultiplierColumnsOf(const std::string& body) {
  const std::string rows = LongRows(body.ends_with("\n") ? Exhibit(body) : "<DOCUMENT>\n<TYPE>EX-27\n" + body);
  std::size_t nEnd = rows.find(",ARTICLE,");
  std::size_t nStart = nEnd;
  for (int i = 0; i < 3; ++i) nStart = rows.rfind(',', nStart - 1);
  return rows.substr(nStart + 1, nEnd - nStart - 1);
}

TEST(ScheduleMultiplier, TheFirstLineDecidesAndItsSourceIsNamed) {
  EXPECT_EQ(MultiplierColumnsOf("<ARTICLE> 5\n<MULTIPLIER> 1,000\n<MULTIPLIER> 10\n"), "1000,0,written");
  EXPECT_EQ(MultiplierColumnsOf("<ARTICLE> 5\n<CASH> 1\n"), "1,0,absent");
  EXPECT_EQ(MultiplierColumnsOf("<ARTICLE> 5\n<MULTIPLIER> .001\n"), "0.001,0,written");
  EXPECT_EQ(MultiplierColumnsOf("<ARTICLE> 5\n<MULTIPLIER> " + std::string(40, '9') + "\n"),
            std::string(40, '9') + ",0,written");
  EXPECT_NE(LongRows(Exhibit("<ARTICLE> 5\n<MULTIPLIER> .001\n<CASH> 1,500\n")).find(",CASH,\"1,500\",1500,1.5\r\n"),
            std::string::npos);
}

TEST(ScheduleMultiplier, UnambiguousWordsAreReadAsTheirNumber) {
  for (const char* words : {"THOUSANDS", "Thousand", "1,000'S", "1,000'S", "1000S", "$1,000", "1,000's"})
    EXPECT_EQ(MultiplierColumnsOf("<ARTICLE> 5\n<MULTIPLIER> " + std::string(words) + "\n"), "1000,0,words") << words;
  EXPECT_EQ(MultiplierColumnsOf("<ARTICLE> 5\n<MULTIPLIER> MILLIONS\n"), "1000000,0,words");
  EXPECT_EQ(MultiplierColumnsOf("<ARTICLE> 5\n<MULTIPLIER> $1,000,000\n"), "1000000,0,words");
  EXPECT_NE(
      LongRows(Exhibit("<ARTICLE> 5\n<MULTIPLIER> 1,000'S\n<CASH> 1,500\n")).find(",CASH,\"1,500\",1500,1500000\r\n"),
      std::string::npos);
}

TEST(ScheduleMultiplier, NoNumberOrZeroScalesNothingInsteadOfAWrongAmount) {
  for (const std::string& value :
       {std::string("0"), std::string("N/A"), std::string("-1,000"), std::string("$"),
        std::string("THOUSANDS OF DOLLARS"), std::string("1,000S'S"), std::string(41, '9'), std::string("")})
    EXPECT_EQ(MultiplierColumnsOf("<ARTICLE> 5\n<MULTIPLIER> " + value + "\n"), ",0,unreadable") << value;
  EXPECT_EQ(MultiplierColumnsOf("<ARTICLE> 5\n<MULTIPLIER> 1,000"), ",0,unreadable");  // cut: not read
  // Amounts lose their scaled value; per-share figures keep theirs.
  const std::string rows = LongRows(Exhibit("<ARTICLE> 5\n<MULTIPLIER> 0\n<CASH> 1,500\n<EPS-PRIMARY> 1.10\n"));
  EXPECT_NE(rows.find(",CASH,\"1,500\",1500,\r\n"), std::string::npos) << rows;
  EXPECT_NE(rows.find(",EPS-PRIMARY,1.10,1.1,1.1\r\n"), std::string::npos) << rows;
}

TEST(ScheduleRestated, ARestatedLineOrTheWordInTheDescriptionMarksTheSchedule) {
  EXPECT_EQ(MultiplierColumnsOf("<ARTICLE> 5\n<RESTATED>\n<MULTIPLIER> 1\n"), "1,1,written");
  const auto restatedOf = [](std::string_view description) {
    const std::string rows = LongRows("<DOCUMENT>\n<TYPE>EX-27\n<DESCRIPTION>" + std::string(description) +
                                      "\n<ARTICLE> 5\n<MULTIPLIER> 1\n");
    return rows.find(",1,written,ARTICLE,") != std::string::npos;
  };
  EXPECT_TRUE(restatedOf("RESTATED FDS FOR 1996"));
  EXPECT_TRUE(restatedOf("Financial data schedule (restated)"));
  EXPECT_FALSE(restatedOf("UNRESTATED FDS"));
  EXPECT_FALSE(restatedOf("FDS RESTATEDX"));
  EXPECT_FALSE(restatedOf("FDS"));
}

TEST(ScheduleLongForm, ReturnsOfCapitalIsPerShareInArticleSixOnly) {
  const std::string rows6 = LongRows(Exhibit("<ARTICLE> 6\n<MULTIPLIER> 1,000\n<RETURNS-OF-CAPITAL> (.02)\n"));
  EXPECT_NE(rows6.find("RETURNS-OF-CAPITAL,(.02),-0.02,-0.02\r\n"), std::string::npos) << rows6;
  const std::string rows7 = LongRows(Exhibit("<ARTICLE> 7\n<MULTIPLIER> 1,000\n<RETURNS-OF-CAPITAL> (.02)\n"));
  EXPECT_NE(rows7.find("RETURNS-OF-CAPITAL,(.02),-0.02,-20\r\n"), std::string::npos) << rows7;
}

// ---- The wide form ----

TEST(ScheduleWideForm, ColumnsInTheOrderFirstMetAndCellsByKind) {
  const std::string first = Exhibit(
      "<ARTICLE> 5\n<MULTIPLIER> 1,000\n<PERIOD-TYPE> YEAR\n<PERIOD-END> SEP-30-1994\n<CASH> 1,203\n"
      "<EPS-PRIMARY> 2.61\n<CASH> 99\n");  // the second CASH does not count
  const std::string second = Exhibit("<ARTICLE> 9\n<LOANS> (5)\n<CASH> 7\n<CURRENCY> U.S. DOLLARS\n<ARTICLE> 5\n");
  EXPECT_EQ(Wide({first, second}),
            kWideFixed +
                ",PERIOD-TYPE,PERIOD-END,CASH,EPS-PRIMARY,LOANS,CURRENCY\r\n"
                "f1.txt,,,,,,,,,,EX-27,FDS,1,5,,,0,1,1000,0,written,,,YEAR,1994-09-30,1203000,2.61,,\r\n"
                "f2.txt,,,,,,,,,,EX-27,FDS,1,9,,,0,1,1,0,absent,,,,,7,,-5,U.S. DOLLARS\r\n"
                "f2.txt,,,,,,,,,,EX-27,FDS,2,5,,,0,1,1,0,absent,,,,,,,,\r\n");
}

TEST(ScheduleWideForm, NoScheduleGivesTheHeaderAlone) {
  EXPECT_EQ(Wide({"no filing at all\n"}), kWideFixed + "\r\n");
  EXPECT_EQ(Wide({}), kWideFixed + "\r\n");
}

TEST(ScheduleWideForm, TextCellsAreQuotedAndConverted) {
  EXPECT_EQ(Wide({"<DOCUMENT>\n<TYPE>EX-27\n<DESCRIPTION>FDS\n<ARTICLE> 5\n<NAME> A, \x93\x42\x94\n<CURRENCY> \x80\n"}),
            kWideFixed +
                ",NAME,CURRENCY\r\nf1.txt,,,,,,,,,,EX-27,FDS,1,5,,,0,0,1,0,absent,,,\"A, \xE2\x80\x9C"
                "B\xE2\x80\x9D\",\xE2\x82\xAC\r\n");
}

// A dictionary tag's cell takes only values of its kind; the others go to
// unparsed as TAG=raw, and the long form keeps raw as it is.
TEST(ScheduleWideForm, AValueNotOfItsKindIsLeftEmptyAndListedAsUnparsed) {
  const std::string filing = Exhibit(
      "<ARTICLE> 5\n<MULTIPLIER> 1,000\n<PERIOD-TYPE> YEAR-END\n<PERIOD-END> 12/31/1999\n<TOTAL-ASSETS> 7,5 \n"
      "<TOTAL-REVENUES> N/A\n<EPS-PRIMARY> 1.10\n<FISCAL-YEAR-END> 1231\n<NOT-IN-THE-DICTIONARY> N/A\n"
      "<CURRENCY> 1,000\n<SALES> 12\n");
  EXPECT_EQ(Wide({filing}),
            kWideFixed +
                ",PERIOD-TYPE,PERIOD-END,TOTAL-ASSETS,TOTAL-REVENUES,EPS-PRIMARY,FISCAL-YEAR-END,NOT-IN-THE-DICTIONARY,"
                "CURRENCY,SALES\r\n"
                "f1.txt,,,,,,,,,,EX-27,FDS,1,5,,,0,1,1000,0,written,\"PERIOD-TYPE=YEAR-END; PERIOD-END=12/31/1999; "
                "TOTAL-ASSETS=7,5; TOTAL-REVENUES=N/A; FISCAL-YEAR-END=1231\",,,,,,1.1,,N/A,\"1,000\",12000\r\n");
  const std::string rows = LongRows(filing);
  EXPECT_NE(rows.find(",TOTAL-REVENUES,N/A,,\r\n"), std::string::npos);
  EXPECT_NE(rows.find(",FISCAL-YEAR-END,1231,1231,1231\r\n"), std::string::npos);  // a date: never scaled
}

TEST(ScheduleWideForm, AmountsOfAnUnreadableMultiplierAreUnparsedAndRatiosKept) {
  EXPECT_EQ(Wide({Exhibit("<ARTICLE> 9\n<MULTIPLIER> THOUSANDS OF DOLLARS\n<LOANS> 12\n<YIELD-ACTUAL> 4.5\n"
                          "<UNKNOWN-AMOUNT> 3\n")}),
            kWideFixed +
                ",LOANS,YIELD-ACTUAL,UNKNOWN-AMOUNT\r\n"
                "f1.txt,,,,,,,,,,EX-27,FDS,1,9,,,0,1,,0,unreadable,LOANS=12; UNKNOWN-AMOUNT=3,,,4.5,\r\n");
}

TEST(ScheduleWideForm, TheArticleIsReadWithoutLeadingZerosOrCase) {
  // Article 6's RETURNS-OF-CAPITAL is per share; unknown to Article 7, it is an amount there.
  const std::string wide = Wide({Exhibit("<ARTICLE> 06\n<MULTIPLIER> 1,000\n<RETURNS-OF-CAPITAL> (.02)\n"),
                                 Exhibit("<ARTICLE> ut\n<MULTIPLIER> 1,000\n<GROSS-OPERATING-REVENUE> 1.5\n")});
  EXPECT_NE(wide.find(",1,06,,,0,1,1000,0,written,,,-0.02,\r\n"), std::string::npos) << wide;
  EXPECT_NE(wide.find(",1,ut,,,0,1,1000,0,written,,,,1500\r\n"), std::string::npos) << wide;
}

// The dictionary's tags always keep their columns; the other tags fill the cap,
// those in the most schedules first, ties in the order first met; the values of
// the rest go to other_tags.
TEST(ScheduleWideForm, TagColumnsAreCappedAndTheRestGoToOtherTags) {
  const std::vector<std::string> filings = {
      Exhibit("<ARTICLE> 5\n<X-ONE> a\n<X-TWO> 1\n<CASH> 5\n"),
      Exhibit("<ARTICLE> 5\n<X-TWO> 2\n<X-THREE> 3\n<ARTICLE> 5\n<X-THREE> 4\n<X-FOUR> =5\n<X-TWO> 6\n")};
  const std::string fixed = "f1.txt,,,,,,,,,,EX-27,FDS,1,5,,,0,1,1,0,absent,,";
  std::uint64_t nOtherTags = 0;
  EXPECT_EQ(Wide(filings, 2, &nOtherTags),
            kWideFixed +
                ",X-TWO,CASH\r\n"
                "f1.txt,,,,,,,,,,EX-27,FDS,1,5,,,0,1,1,0,absent,,X-ONE=a,1,5\r\n"
                "f2.txt,,,,,,,,,,EX-27,FDS,1,5,,,0,1,1,0,absent,,X-THREE=3,2,\r\n"
                "f2.txt,,,,,,,,,,EX-27,FDS,2,5,,,0,1,1,0,absent,,X-THREE=4; X-FOUR==5,6,\r\n");
  EXPECT_EQ(nOtherTags, 3u);
  // X-ONE and X-FOUR are in one schedule each: the one met first fills the last place.
  const std::string four = Wide(filings, 4, &nOtherTags);
  EXPECT_TRUE(four.starts_with(kWideFixed + ",X-ONE,X-TWO,CASH,X-THREE\r\n")) << four;
  EXPECT_NE(four.find(",absent,,X-FOUR==5,,6,,4\r\n"), std::string::npos) << four;
  EXPECT_EQ(nOtherTags, 1u);
  // A cap below the dictionary's tags leaves them their columns all the same.
  EXPECT_TRUE(Wide(filings, 1).starts_with(kWideFixed + ",CASH\r\n"));
  EXPECT_EQ(Wide(filings, 5, &nOtherTags).find("X-FOUR="), std::string::npos);
  EXPECT_EQ(nOtherTags, 0u);
}

// A schedule with a tag of its own, many times over: with the cap the table
// grows as its input does, not as its square.
TEST(ScheduleWideForm, TheTableGrowsLinearlyWithDistinctTags) {
  const auto tableOf = [](int nSchedules) {
    std::string body;
    for (int i = 0; i < nSchedules; ++i) body += "<ARTICLE> 5\n<OWN-TAG-" + std::to_string(i) + "> 1\n";
    return Wide({Exhibit(body)}, 100);
  };
  const std::string small = tableOf(5000);
  const std::string large = tableOf(10000);
  EXPECT_LT(large.size(), small.size() * 21 / 10);
  EXPECT_LT(large.size(), 10000u * 250);
  EXPECT_NE(large.find(",OWN-TAG-9999=1,"), std::string::npos);
}

}  // namespace
