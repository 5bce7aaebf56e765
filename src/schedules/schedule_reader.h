// The reader of Financial Data Schedules: a filing read once, block by block, as
// one stream of lines. The submission header's fields are read from the lines
// before the first <DOCUMENT>; after that only tag lines matter, so the reader
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

#include "platform/byte_buffer.h"
#include "platform/platform_string.h"

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

  void Clear();
};

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

  // Starts a filing.
  void Start();
  // The filing's next bytes; blocks may end anywhere, lines and CR LF pairs included.
  void Feed(const unsigned char* pBytes, std::size_t nCount);
  // The filing ended: a line without a line end is taken as cut off there, and a
  // document still open is handed over as incomplete.
  void Finish();
  // The filing could not be read to its end: the open document is dropped.
  void Abandon() noexcept;

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
  bool m_headerMode = true;           // before the submission's first <DOCUMENT>: every line matters
  bool m_submissionOpened = false;    // a <SEC-DOCUMENT>, <IMS-DOCUMENT> or <DOCUMENT> line was seen
  std::uint64_t m_scheduleCount = 0;  // schedules of the submission so far

  ScheduleDocument m_document;
  bool m_documentOpen = false;
  bool m_typeKnown = false;
  bool m_holdsSchedules = false;  // its first TYPE begins with EX-27
  bool m_inLegend = false;
  bool m_inFootnotes = false;
  bool m_inSeries = false;
};

// The block in which ReadScheduleFiling reads a filing.
inline constexpr std::size_t kScheduleBlockBytes = std::size_t{1} << 18;

// Reads the filing at strPath through reader, from Start to Finish, into pBlock
// (kScheduleBlockBytes). Returns QUORLIX_OK or a QUORLIX_FILING_* status: not
// found, too many open files, any other file error (a file that is no regular
// file, or that ended before its measured length), or no memory.
// nBytesRead counts what was read, also when the read failed part way.
int ReadScheduleFiling(const CString& strPath, ScheduleReader& reader, ByteBuffer& pBlock, std::uint64_t& nBytesRead);
