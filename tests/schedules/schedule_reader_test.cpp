#include "schedules/schedule_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What the reader found, as text: one line per document and per value.
//   doc <type>|<description>|flawed=<0/1>|complete=<0/1>|<accession>|<cik>|...
//   <schedule>|<article>|<series>|<series name>|<tag>|<raw>[|cut]
class Recorder final : public ScheduleSink {
 public:
  void TakeDocument(const SubmissionHeader& header, const ScheduleDocument& document) override {
    std::string line = "doc " + std::string(document.View(document.type)) + "|" +
                       std::string(document.View(document.description)) + "|flawed=" + (document.flawed ? "1" : "0") +
                       "|complete=" + (document.complete ? "1" : "0");
    for (const std::string& field : header.fields) line += "|" + field;
    lines.push_back(line);
    for (const Schedule& schedule : document.schedules) {
      for (std::size_t i = 0; i < schedule.lineCount; ++i) {
        const ScheduleLine& value = document.lines[schedule.firstLine + i];
        lines.push_back(std::to_string(schedule.number) + "|" + std::string(document.View(schedule.article)) + "|" +
                        std::string(document.View(schedule.series)) + "|" +
                        std::string(document.View(schedule.seriesName)) + "|" + std::string(document.View(value.tag)) +
                        "|" + std::string(document.View(value.raw)) + (value.lineEnded ? "" : "|cut"));
      }
    }
  }
  std::vector<std::string> lines;
};

// Reads the filing in blocks of nBlock bytes (0: whole).
std::vector<std::string> Read(std::string_view filing, std::size_t nBlock = 0) {
  Recorder recorder;
  ScheduleReader reader(recorder);
  reader.Start();
  if (nBlock == 0) nBlock = filing.size() + 1;
  for (std::size_t i = 0; i < filing.size(); i += nBlock) {
    const std::string_view block = filing.substr(i, nBlock);
    reader.Feed(reinterpret_cast<const unsigned char*>(block.data()), block.size());
  }
  reader.Finish();
  return recorder.lines;
}

// The values alone: "<tag>|<raw>" per line.
std::vector<std::string> Values(std::string_view filing) {
  std::vector<std::string> values;
  for (const std::string& line : Read(filing)) {
    if (line.starts_with("doc ")) continue;
    const std::size_t nTag = line.find('|', line.find('|', line.find('|', line.find('|') + 1) + 1) + 1);
    values.push_back(line.substr(nTag + 1));
  }
  return values;
}

using Lines = std::vector<std::string>;

const std::string kHeader =
    "<SEC-DOCUMENT>0000000000-00-000001.txt : 20000101\n"
    "<SEC-HEADER>0000000000-00-000001.hdr.sgml : 20000101\n"
    "ACCESSION NUMBER:\t\t0000000000-00-000001\n"
    "CONFORMED SUBMISSION TYPE:\t10-K\n"
    "CONFORMED PERIOD OF REPORT:\t19991231\n"
    "FILED AS OF DATE:\t\t20000330\n"
    "\tCOMPANY DATA:\t\n"
    "\t\tCOMPANY CONFORMED NAME:\t\t\tEXAMPLE CORP\n"
    "\t\tCENTRAL INDEX KEY:\t\t\t0000012345\n"
    "\t\tSTANDARD INDUSTRIAL CLASSIFICATION:\tELECTRONIC COMPUTERS [3571]\n"
    "\t\tFISCAL YEAR END:\t\t\t1231\n"
    "</SEC-HEADER>\n";
const std::string kHeaderColumns = "0000000000-00-000001|12345|EXAMPLE CORP|10-K|2000-03-30|1999-12-31|3571|1231";

std::string Exhibit(std::string_view body, std::string_view type = "EX-27") {
  return "<DOCUMENT>\n<TYPE>" + std::string(type) + "\n<SEQUENCE>2\n<DESCRIPTION>FDS\n<TEXT>\n" + std::string(body) +
         "</TEXT>\n</DOCUMENT>\n";
}

// ---- The header ----

TEST(ScheduleHeader, FieldsAreReadFromTheirFirstLineAndWrittenInTheirForms) {
  const Lines lines = Read(kHeader + Exhibit("<ARTICLE> 5\n"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "doc EX-27|FDS|flawed=0|complete=1|" + kHeaderColumns);
}

TEST(ScheduleHeader, LaterLinesOfAFieldAndLinesAfterTheFirstDocumentAreNotRead) {
  const std::string filing = kHeader + "\t\tCOMPANY CONFORMED NAME:\t\t\tSECOND FILER INC\n" +
                             Exhibit("<ARTICLE> 5\n") + "ACCESSION NUMBER: 9999999999-99-999999\n";
  EXPECT_EQ(Read(filing)[0], "doc EX-27|FDS|flawed=0|complete=1|" + kHeaderColumns);
}

TEST(ScheduleHeader, UnreadableFieldsAreEmptyAndOthersAsWritten) {
  const std::string header =
      "ACCESSION NUMBER: 0000000000-00-000002\n"
      "CONFORMED PERIOD OF REPORT: 1999-12-31\n"  // not YYYYMMDD
      "FILED AS OF DATE:\n"                       // empty: a later one does not count
      "FILED AS OF DATE: 20000330\n"
      "  COMPANY CONFORMED NAME:   A, \"QUOTED\" CO  \n"  // blanks around go
      "CENTRAL INDEX KEY: 0000000000\n"                   // all zeros
      "STANDARD INDUSTRIAL CLASSIFICATION: 6021\n"        // digits alone
      "FISCAL YEAR END: 0930\n"
      "IRS NUMBER: 123\n";
  EXPECT_EQ(Read(header + Exhibit("<ARTICLE> 5\n"))[0],
            "doc EX-27|FDS|flawed=0|complete=1|0000000000-00-000002|0|A, \"QUOTED\" CO||||6021|0930");
  const std::string odd = "CENTRAL INDEX KEY: 12A\nSTANDARD INDUSTRIAL CLASSIFICATION: UNKNOWN []\n";
  EXPECT_EQ(Read(odd + Exhibit("<ARTICLE> 5\n"))[0], "doc EX-27|FDS|flawed=0|complete=1||||||||");
  EXPECT_EQ(Read("STANDARD INDUSTRIAL CLASSIFICATION: SERVICES [73X]\n" + Exhibit("<ARTICLE> 5\n"))[0],
            "doc EX-27|FDS|flawed=0|complete=1||||||||");
}

TEST(ScheduleHeader, ALaterSubmissionHasAHeaderOfItsOwnAndNumbersItsSchedulesAgain) {
  const std::string second =
      "<SEC-DOCUMENT>0000000000-00-000003.txt : 20000101\n"
      "ACCESSION NUMBER: 0000000000-00-000003\n";
  const Lines lines =
      Read(kHeader + Exhibit("<ARTICLE> 5\n<ARTICLE> 5\n") + "</SEC-DOCUMENT>\n" + second + Exhibit("<ARTICLE> 7\n"));
  EXPECT_EQ(lines, (Lines{"doc EX-27|FDS|flawed=0|complete=1|" + kHeaderColumns, "1|5|||ARTICLE|5", "2|5|||ARTICLE|5",
                          "doc EX-27|FDS|flawed=0|complete=1|0000000000-00-000003|||||||", "1|7|||ARTICLE|7"}));
}

// The same header as EDGAR's dissemination of 1993-2001 writes it: in tags.
const std::string kTaggedHeader =
    "<SUBMISSION>\n"
    "<ACCESSION-NUMBER>0000000000-00-000001\n"
    "<TYPE>10-K\n"
    "<PUBLIC-DOCUMENT-COUNT>2\n"
    "<PERIOD>19991231\n"
    "<FILING-DATE>20000330\n"
    "<FILER>\n"
    "<COMPANY-DATA>\n"
    "<CONFORMED-NAME>EXAMPLE CORP\n"
    "<CIK>0000012345\n"
    "<ASSIGNED-SIC>3571\n"
    "<FISCAL-YEAR-END>1231\n"
    "</COMPANY-DATA>\n"
    "<FILING-VALUES>\n"
    "<FORM-TYPE>10-K\n"
    "</FILING-VALUES>\n"
    "</FILER>\n";

TEST(ScheduleHeader, AHeaderInTagsGivesTheSameFields) {
  EXPECT_EQ(Read(kTaggedHeader + Exhibit("<ARTICLE> 5\n") + "</SUBMISSION>\n"),
            (Lines{"doc EX-27|FDS|flawed=0|complete=1|" + kHeaderColumns, "1|5|||ARTICLE|5"}));
  // Tags in lower case, a SIC code in brackets, blanks around values.
  const std::string mixed =
      "<submission>\n<accession-number> 0000000000-00-000004 \n<type>10-Q\n<filer>\n<company-data>\n"
      "<assigned-sic>ELECTRONIC COMPUTERS [3571]\n";
  EXPECT_EQ(Read(mixed + Exhibit("<ARTICLE> 5\n"))[0],
            "doc EX-27|FDS|flawed=0|complete=1|0000000000-00-000004|||10-Q|||3571|");
}

TEST(ScheduleHeader, TheCompanyIsTheFirstFilersAndTheTypeTheSubmissions) {
  const std::string header =
      "<SUBMISSION>\n<ACCESSION-NUMBER>0000000000-00-000005\n<TYPE>SC 13D\n"
      "<CIK>0000000001\n"  // outside a filer
      "<SUBJECT-COMPANY>\n<COMPANY-DATA>\n<CONFORMED-NAME>SUBJECT INC\n</COMPANY-DATA>\n</SUBJECT-COMPANY>\n"
      "<FILER>\n<CONFORMED-NAME>NOT IN COMPANY-DATA\n<COMPANY-DATA>\n<CONFORMED-NAME>FIRST FILER\n"
      "</COMPANY-DATA>\n</FILER>\n"
      "<FILER>\n<COMPANY-DATA>\n<CONFORMED-NAME>SECOND FILER\n<CIK>0000000002\n</COMPANY-DATA>\n</FILER>\n";
  // The document's own TYPE is its type, not the submission's.
  EXPECT_EQ(Read(header + Exhibit("<ARTICLE> 5\n"))[0],
            "doc EX-27|FDS|flawed=0|complete=1|0000000000-00-000005||FIRST FILER|SC 13D||||");
}

TEST(ScheduleHeader, KeyLinesAndTagsCountFieldByFieldWhicheverComesFirst) {
  const std::string header =
      "<SEC-HEADER>\nACCESSION NUMBER: 0000000000-00-000006\n<ACCESSION-NUMBER>9999999999-99-999999\n"
      "<PERIOD>19991231\nCONFORMED PERIOD OF REPORT: 20001231\n</SEC-HEADER>\n";
  EXPECT_EQ(Read(header + Exhibit("<ARTICLE> 5\n"))[0],
            "doc EX-27|FDS|flawed=0|complete=1|0000000000-00-000006|||||1999-12-31||");
}

TEST(ScheduleHeader, SubmissionTagsStartAndEndSubmissions) {
  const std::string second = "<SUBMISSION>\n<ACCESSION-NUMBER>0000000000-00-000007\n";
  // The first submission's exhibit is left open: its closing tag ends it, incomplete.
  const Lines lines = Read(kTaggedHeader + "<DOCUMENT>\n<TYPE>EX-27\n<ARTICLE> 5\n</SUBMISSION>\n<CASH> 1\n" + second +
                           Exhibit("<ARTICLE> 7\n") + "</SUBMISSION>\n");
  EXPECT_EQ(lines, (Lines{"doc EX-27||flawed=0|complete=0|" + kHeaderColumns, "1|5|||ARTICLE|5",
                          "doc EX-27|FDS|flawed=0|complete=1|0000000000-00-000007|||||||", "1|7|||ARTICLE|7"}));
}

// ---- Documents ----

TEST(ScheduleDocuments, OnlyDocumentsOfTypeEx27HoldSchedules) {
  const std::string filing = kHeader + Exhibit("<ARTICLE> 5\n<CASH> 1\n", "10-K") +
                             Exhibit("<ARTICLE> 5\n<CASH> 2\n", "EX-99") +
                             Exhibit("<ARTICLE> 5\n<CASH> 3\n", "ex-27.1") +
                             Exhibit("<ARTICLE> 5\n<CASH> 4\n", "EX-27.2 FINANCIAL DATA SCHEDULE");
  const Lines lines = Read(filing);
  EXPECT_EQ(lines, (Lines{"doc EX-27.1|FDS|flawed=0|complete=1|" + kHeaderColumns, "1|5|||ARTICLE|5", "1|5|||CASH|3",
                          "doc EX-27.2 FINANCIAL DATA SCHEDULE|FDS|flawed=0|complete=1|" + kHeaderColumns,
                          "2|5|||ARTICLE|5", "2|5|||CASH|4"}));
}

TEST(ScheduleDocuments, TagLinesOutsideAnExhibitDoNotCount) {
  const std::string filing = "<ARTICLE> 5\n<CASH> 9\n" + kHeader + "<CASH> 9\n" +
                             "<DOCUMENT>\n<TYPE>EX-27\n<CASH> 9\n<ARTICLE> 5\n<CASH> 1\n</DOCUMENT>\n<CASH> 9\n" +
                             "<ARTICLE> 5\n<TYPE>EX-27\n<CASH> 9\n";
  EXPECT_EQ(Values(filing), (Lines{"ARTICLE|5", "CASH|1"}));
}

TEST(ScheduleDocuments, TheFirstTypeDecidesAndTagLinesBeforeItDoNotCount) {
  EXPECT_EQ(Values("<DOCUMENT>\n<ARTICLE> 5\n<TYPE>EX-27\n<CASH> 1\n<ARTICLE> 5\n<CASH> 2\n</DOCUMENT>\n"),
            (Lines{"ARTICLE|5", "CASH|2"}));
  EXPECT_EQ(Values("<DOCUMENT>\n<TYPE>10-K\n<TYPE>EX-27\n<ARTICLE> 5\n</DOCUMENT>\n"), Lines{});
}

TEST(ScheduleDocuments, FlawedAndDescriptionAreTheDocuments) {
  const std::string body = "<DESCRIPTION>SECOND\n<ARTICLE> 5\n<FLAWED>\n<CASH> 1\n";
  const Lines lines = Read("<DOCUMENT>\n<TYPE>EX-27\n<DESCRIPTION>  RESTATED FDS  \n" + body + "</DOCUMENT>\n");
  EXPECT_EQ(lines, (Lines{"doc EX-27|RESTATED FDS|flawed=1|complete=1||||||||", "1|5|||ARTICLE|5", "1|5|||CASH|1"}));
}

TEST(ScheduleDocuments, ADocumentNotEndedByItsEndTagIsIncomplete) {
  const std::string exhibit = "<DOCUMENT>\n<TYPE>EX-27\n<ARTICLE> 5\n";
  const std::string incomplete = "doc EX-27||flawed=0|complete=0||||||||";
  EXPECT_EQ(Read(exhibit)[0], incomplete);                                  // at the end of the file
  EXPECT_EQ(Read(exhibit + "</SEC-DOCUMENT>\n")[0], incomplete);            // at the end of its submission
  EXPECT_EQ(Read(exhibit + "<SEC-DOCUMENT>x\n" + exhibit)[0], incomplete);  // at the next one
  EXPECT_EQ(Read(exhibit + exhibit + "</DOCUMENT>\n")[0], incomplete);      // at the next document
  EXPECT_EQ(Read(exhibit + exhibit + "</DOCUMENT>\n")[2], "doc EX-27||flawed=0|complete=1||||||||");
}

// ---- Tag lines ----

TEST(ScheduleTagLines, TagsAreCapitalsAndValuesLoseTheBlanksAndTabsAroundThem) {
  EXPECT_EQ(Values(Exhibit("<ARTICLE>5\n \t<Cash>\t 1,234 \t\n<EMPTY>\n<EMPTY-BLANK>   \n<PP&E> x y\n")),
            (Lines{"ARTICLE|5", "CASH|1,234", "EMPTY|", "EMPTY-BLANK|", "PP&E|x y"}));
}

TEST(ScheduleTagLines, LinesThatDoNotOpenWithATagAreText) {
  EXPECT_EQ(Values(Exhibit("<ARTICLE> 5\ntext <CASH> 1\n<> 2\n<TOTAL ASSETS> 3\n<SALES 4\n\v<CGS> 5\n<<X>> 6\n")),
            (Lines{"ARTICLE|5", "<X|> 6"}));
}

TEST(ScheduleTagLines, ACrBeforeTheLfBelongsToTheLineEnd) {
  EXPECT_EQ(
      Values("<DOCUMENT>\r\n<TYPE>EX-27\r\n<ARTICLE> 5\r\n<CASH> 1\r\n<SALES> 2\r\r\n<CGS> 3\r4\n</DOCUMENT>\r\n"),
      (Lines{"ARTICLE|5", "CASH|1", "SALES|2\r", "CGS|3\r4"}));
}

TEST(ScheduleTagLines, ALastLineWithoutALineEndIsCut) {
  EXPECT_EQ(Read("<DOCUMENT>\n<TYPE>EX-27\n<ARTICLE> 5\n<CASH> 1,2"),
            (Lines{"doc EX-27||flawed=0|complete=0||||||||", "1|5|||ARTICLE|5", "1|5|||CASH|1,2|cut"}));
  EXPECT_EQ(Read("<DOCUMENT>\n<TYPE>EX-27\n<ARTICLE> 5")[1], "1|5|||ARTICLE|5|cut");
}

TEST(ScheduleTagLines, LayoutAndTagsBeforeTheFirstArticleAreNoValues) {
  const std::string body =
      "<CASH> 0\n<TABLE> <S> <C>\n<PAGE>\n<ARTICLE> 5\n<S>  <C>\n<CAPTION>\n</CAPTION>\n<SEQUENCE>3\n<TEXT>\n"
      "<TYPE>EX-27\n<FN>\n</FN>\n</TABLE>\n</SERIES>\n</LEGEND>\n<MULTIPLIER> 1,000\n<CASH> 1\n";
  EXPECT_EQ(Values(Exhibit(body)), (Lines{"ARTICLE|5", "MULTIPLIER|1,000", "CASH|1"}));
}

TEST(ScheduleTagLines, LegendsAndFootnotesGiveNoValuesAndFootnoteMarksGo) {
  const std::string body =
      "<ARTICLE> 5\n<LEGEND>\nTHIS SCHEDULE CONTAINS\n<CASH> 9\n</LEGEND>\n<CASH> 1,234<F1>\n"
      "<SALES> 5 <F1> <f2>\n<CGS> <F1>\n<BONDS> 7<F>\n<COMMON> 8<FX>\n<LEGEND> ONE LINE </LEGEND>\n<PREFERRED> 9\n"
      "<FN>\n<F1> INCLUDES\n<F2> ALSO <TOTAL-ASSETS> 9\n</FN>\n<OTHER-SE> 10\n<FN> <F3> ONE LINE </FN>\n<NET-INCOME> "
      "11\n";
  EXPECT_EQ(Values(Exhibit(body)), (Lines{"ARTICLE|5", "CASH|1,234", "SALES|5", "CGS|", "BONDS|7<F>", "COMMON|8<FX>",
                                          "PREFERRED|9", "OTHER-SE|10", "NET-INCOME|11"}));
}

TEST(ScheduleTagLines, ALegendLeftOpenRunsToTheDocumentsEnd) {
  EXPECT_EQ(Values(Exhibit("<ARTICLE> 5\n<LEGEND>\n<CASH> 1\n") + Exhibit("<ARTICLE> 5\n<CASH> 2\n")),
            (Lines{"ARTICLE|5", "ARTICLE|5", "CASH|2"}));
}

// ---- Schedules and series ----

TEST(ScheduleSeries, NumberAndNameNameTheScheduleAndAreNoValues) {
  const std::string body =
      "<ARTICLE> 6\n<CIK> 0000012345\n<NAME> TRUST\n<SERIES>\n   <NUMBER> 011\n   <NAME> GROWTH FUND\n"
      "<MULTIPLIER> 1,000\n<NUMBER> 5\n<SERIES>\n<NUMBER> 012\n</SERIES>\n<NAME> AFTER\n";
  EXPECT_EQ(Read(Exhibit(body)), (Lines{"doc EX-27|FDS|flawed=0|complete=1||||||||", "1|6|011|GROWTH FUND|ARTICLE|6",
                                        "1|6|011|GROWTH FUND|CIK|0000012345", "1|6|011|GROWTH FUND|NAME|TRUST",
                                        "1|6|011|GROWTH FUND|MULTIPLIER|1,000", "1|6|011|GROWTH FUND|NUMBER|5",
                                        "1|6|011|GROWTH FUND|NAME|AFTER"}));
}

TEST(ScheduleSeries, ABlockBeforeTheFirstArticleBelongsToTheFirstSchedule) {
  const std::string body =
      "<SERIES>\n<NUMBER> 2\n<NAME> INCOME FUND\n</SERIES>\n<ARTICLE> 6\n<CASH> 1\n<ARTICLE> 6\n<CASH> 2\n";
  EXPECT_EQ(Values(Exhibit(body)), (Lines{"ARTICLE|6", "CASH|1", "ARTICLE|6", "CASH|2"}));
  const Lines lines = Read(Exhibit(body));
  EXPECT_EQ(lines[1], "1|6|2|INCOME FUND|ARTICLE|6");
  EXPECT_EQ(lines[3], "2|6|||ARTICLE|6");
}

TEST(ScheduleSeries, EveryArticleStartsAScheduleNumberedThroughTheFiling) {
  const Lines lines = Read(Exhibit("<ARTICLE> 5\n<CASH> 1\n<ARTICLE> 7\n<CASH> 2\n") + Exhibit("<ARTICLE> 9\n"));
  EXPECT_EQ(lines,
            (Lines{"doc EX-27|FDS|flawed=0|complete=1||||||||", "1|5|||ARTICLE|5", "1|5|||CASH|1", "2|7|||ARTICLE|7",
                   "2|7|||CASH|2", "doc EX-27|FDS|flawed=0|complete=1||||||||", "3|9|||ARTICLE|9"}));
}

// ---- Blocks ----

TEST(ScheduleReaderBlocks, EveryBlockSizeReadsAsTheWholeFiling) {
  const std::string filing =
      "-----BEGIN PRIVACY-ENHANCED MESSAGE-----\n" + kHeader + Exhibit("text < 5\n  <PAGE>\n   plain text\n", "10-K") +
      Exhibit(
          "\t<ARTICLE>\t5\r\n<LEGEND>\n<CASH> 9\n</LEGEND>\n  <SERIES>\n<NUMBER> 1\n<CASH> 1,234<F1>\r\n"
          "text line <SALES> 3\n    \n\t<CGS>  (5)  \n") +
      "</SEC-DOCUMENT>\n<SEC-DOCUMENT>\nACCESSION NUMBER: 2\n" + Exhibit("<ARTICLE> 9\n<LOANS> 7\n") +
      "<CASH> 13\n<DOCUMENT>\n<TYPE>EX-27\n<ARTICLE> 5\n<CASH> 12";
  const Lines whole = Read(filing);
  ASSERT_EQ(whole.size(), 10u);
  for (std::size_t nBlock = 1; nBlock <= 64; ++nBlock) EXPECT_EQ(Read(filing, nBlock), whole) << "blocks of " << nBlock;
}

}  // namespace
