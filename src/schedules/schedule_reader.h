// The reader of Financial Data Schedules: a filing read once, block by block, as
// one stream of lines. The submission header's fields are read from the lines
// before the first <DOCUMENT>, written as "KEY: value" lines or as tags
// (<ACCESSION-NUMBER>, <CONFORMED-NAME>, ...), field by field, whichever comes
// first; after that only tag lines matter, so the reader
// passes over the bytes between them many at a time, looking for a '<' that
// opens its line. The tag lines of every EX-27 document are gathered into a
// ScheduleDocument, which goes to the sink when the document ends.
//
// Memory: one block of the filing plus the longest line that matters, plus one
// EX-27 document's values (a document's rows are known complete, flawed and
// scaled only once it has ended).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The submission header's fields, in the order of the table's columns.
enum HeaderField : unsigned char {
  kAccessionNumber,
  kCentralIndexKey,
  kCompanyName,
  kFormType,
  kFiledDate,
  kPeriodOfReport,
  kIndustryCode,
  kFiscalYearEnd,
  kHeaderFieldCount
};

struct SubmissionHeader {
  // Each field from its first occurrence, written as the table writes it (ISO
  // dates, the CIK without leading zeros, the SIC code's digits); empty when
  // missing or unreadable.
  std::array<std::string, kHeaderFieldCount> fields;
  std::array<bool, kHeaderFieldCount> seen{};
  // The archive member the submission was read from (its bytes as the archive
  // holds them); empty for a plain or compressed file. Set by Start, kept by Clear.
  std::string member;

  void Clear();
};

// Room a buffer of lines keeps when emptied; past it, a long line's room is
// given back, so that it is not held beside the copies that writing it makes.
inline constexpr std::size_t kKeptLineBytes = std::size_t{1} << 20;

// Empties text, giving its room back when a long line made it larger than kKeptLineBytes.
inline void ClearLineBuffer(std::string& text) noexcept {
  if (text.capacity() > kKeptLineBytes) std::string().swap(text);
  else text.clear();
}

// Bytes [offset, offset + length) of ScheduleDocument::text.
struct TextSpan {
  std::size_t offset = 0;
  std::size_t length = 0;
};

// One value: a tag line of a schedule.
struct ScheduleLine {
  TextSpan tag;           // in capitals, without its brackets
  TextSpan raw;           // the value as written, without blanks around it or footnote marks after it
  bool lineEnded = true;  // false: the filing ended inside this line
};

struct Schedule {
  std::uint64_t number = 0;  // 1, 2, ... through the submission
  TextSpan article;          // the ARTICLE line's value
  TextSpan series;           // the series block's NUMBER and NAME
  TextSpan seriesName;
  bool hasSeries = false;
  bool hasSeriesName = false;
  std::size_t firstLine = 0;  // its values in ScheduleDocument::lines, ARTICLE first
  std::size_t lineCount = 0;
};

struct ScheduleDocument {
  std::string text;  // every span's bytes
  TextSpan type;     // the first TYPE value, in capitals
  TextSpan description;
  bool hasDescription = false;
  bool flawed = false;
  bool complete = false;  // ended at </DOCUMENT>, not at the filing's or submission's end
  std::vector<ScheduleLine> lines;
  std::vector<Schedule> schedules;
  // A series block before the first ARTICLE, for the first schedule.
  TextSpan pendingSeries;
  TextSpan pendingSeriesName;
  bool hasPendingSeries = false;
  bool hasPendingSeriesName = false;

  std::string_view View(TextSpan span) const { return std::string_view(text).substr(span.offset, span.length); }
  TextSpan Keep(std::string_view bytes);
  void Clear();
};

// Receives each EX-27 document that holds a schedule, when it ends.
class ScheduleSink {
 public:
  virtual void TakeDocument(const SubmissionHeader& header, const ScheduleDocument& document) = 0;

 protected:
  ~ScheduleSink() = default;
};

class ScheduleReader {
 public:
  explicit ScheduleReader(ScheduleSink& sink) noexcept : m_sink(sink) {}

  // Starts a filing; member names the archive member it is (empty for a file).
  void Start(std::string_view member = {});
  // The filing's next bytes; blocks may end anywhere, lines and CR LF pairs included.
  void Feed(const unsigned char* pBytes, std::size_t nCount);
  // The filing ended: a line without a line end is taken as cut off there, and a
  // document still open is handed over as incomplete.
  void Finish();
  // The filing could not be read to its end: the open document is dropped.
  void Abandon() noexcept;
  // Documents handed to the sink since Start.
  std::uint64_t DocumentsTaken() const noexcept { return m_nDocumentsTaken; }

  // One line of the filing without its LF (a CR before the LF still on it);
  // ended is false for a last line that no LF ended. Feed hands over the lines
  // that matter through this; the fuzz target's byte-by-byte twin hands over all.
  void TakeLine(std::string_view line, bool ended);

 private:
  // How the line that the last block ended in goes on.
  enum class Carry : unsigned char {
    kBlank,     // nothing but blanks and TABs so far (or nothing at all)
    kSkipping,  // known to be no line that matters: passed over up to its LF
    kHolding,   // a line that matters, held in m_held
  };

  void TakeTagLine(std::string_view line, bool ended);
  void TakeHeaderLine(std::string_view line);
  // A tag line of a header written as tags.
  void TakeHeaderTag(std::string_view tag, std::string_view value);
  void StartSubmission();
  // Outside an EX-27 document only the frame's tags (documents, submissions) matter.
  bool IsFrameOnly() const noexcept { return !m_documentOpen || (m_typeKnown && !m_holdsSchedules); }
  void OpenDocument();
  void EndDocument(bool bComplete);
  void StartSchedule(std::string_view raw, bool ended);
  void AddValue(std::string_view tag, std::string_view raw, bool ended);
  void SetSeriesField(bool bName, std::string_view value);

  ScheduleSink& m_sink;
  Carry m_carry = Carry::kBlank;
  std::string m_held;  // the line the last block ended in, when it matters
  std::string m_tag;   // the current tag line's tag, in capitals

  SubmissionHeader m_header;
  bool m_headerMode = true;         // before the submission's first <DOCUMENT>: every line matters
  bool m_submissionOpened = false;  // a <SEC-DOCUMENT>, <IMS-DOCUMENT>, <SUBMISSION> or <DOCUMENT> line was seen
  // Where a header written as tags stands: the company fields are read inside
  // the first <FILER>'s <COMPANY-DATA> alone.
  enum class Filer : unsigned char { kNotYet, kFirst, kPast } m_filer = Filer::kNotYet;
  bool m_inCompanyData = false;
  std::uint64_t m_scheduleCount = 0;  // schedules of the submission so far
  std::uint64_t m_nDocumentsTaken = 0;

  ScheduleDocument m_document;
  bool m_documentOpen = false;
  bool m_typeKnown = false;
  bool m_holdsSchedules = false;  // its first TYPE begins with EX-27
  bool m_inLegend = false;
  bool m_inFootnotes = false;
  bool m_inSeries = false;
};
