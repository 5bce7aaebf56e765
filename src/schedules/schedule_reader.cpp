#include "schedules/schedule_reader.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t nFirst = text.find_first_not_of(" \t");
  if (nFirst == std::string_view::npos) return {};
  return text.substr(nFirst, text.find_last_not_of(" \t") - nFirst + 1);
}

char ToUpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         std::ranges::equal(text.substr(text.size() - suffix.size()), suffix, {}, ToUpperAscii, ToUpperAscii);
}

// Footnote marks (<F1>, <F2>, ...) at the end of a value, and the blanks before them.
std::string_view WithoutFootnoteMarks(std::string_view value) {
  while (value.size() >= 4 && value.back() == '>') {
    const std::size_t nOpen = value.rfind('<');
    if (nOpen == std::string_view::npos) break;
    const std::string_view mark = value.substr(nOpen + 1, value.size() - nOpen - 2);
    if (mark.size() < 2 || ToUpperAscii(mark[0]) != 'F' ||
        !std::ranges::all_of(mark.substr(1), [](char c) { return c >= '0' && c <= '9'; }))
      break;
    value = TrimBlanks(value.substr(0, nOpen));
  }
  return value;
}

// ---- Tags with a meaning of their own ----

// What a tag line does besides being a value. Tags not in the table are values.
enum class TagAction : unsigned char {
  kSubmission,     // a submission starts (a later one: EDGAR's feeds concatenate them)
  kSubmissionEnd,  // the submission ends, and with it a document left open
  kFiler,          // a header written as tags: a filer's block
  kFilerEnd,
  kCompanyData,  // the filer's company: its name, CIK, SIC code and fiscal year end
  kCompanyDataEnd,
  kDocument,     // a document starts, ending one left open
  kDocumentEnd,  // the document ends whole
  kType,         // the first one says what the document is
  kDescription,  // the first one describes the document
  kFlawed,       // EDGAR found errors in the document's schedules
  kArticle,      // a schedule starts
  kLegend,       // the legend: no values up to its end
  kLegendEnd,
  kFootnotes,  // the footnotes: no values up to their end
  kFootnotesEnd,
  kSeries,  // the series block: NUMBER and NAME name the schedule's series
  kSeriesEnd,
  kSeriesNumber,  // values outside a series block
  kSeriesName,
  kLayout,  // never a value
};

struct TagRule {
  std::string_view tag;
  TagAction action;
};

using enum TagAction;

// clang-format off
constexpr TagRule kTagRules[] = {
    {"SEC-DOCUMENT", kSubmission},     {"IMS-DOCUMENT", kSubmission},
    {"SUBMISSION", kSubmission},       {"/SUBMISSION", kSubmissionEnd},
    {"/SEC-DOCUMENT", kSubmissionEnd}, {"/IMS-DOCUMENT", kSubmissionEnd},
    {"FILER", kFiler},                 {"/FILER", kFilerEnd},
    {"COMPANY-DATA", kCompanyData},    {"/COMPANY-DATA", kCompanyDataEnd},
    {"DOCUMENT", kDocument},           {"/DOCUMENT", kDocumentEnd},
    {"TYPE", kType},                   {"DESCRIPTION", kDescription},
    {"FLAWED", kFlawed},               {"ARTICLE", kArticle},
    {"LEGEND", kLegend},               {"/LEGEND", kLegendEnd},
    {"FN", kFootnotes},                {"/FN", kFootnotesEnd},
    {"SERIES", kSeries},               {"/SERIES", kSeriesEnd},
    {"NUMBER", kSeriesNumber},         {"NAME", kSeriesName},
    {"SEQUENCE", kLayout},             {"TEXT", kLayout},
    {"/TEXT", kLayout},                {"TABLE", kLayout},
    {"/TABLE", kLayout},               {"S", kLayout},
    {"C", kLayout},                    {"PAGE", kLayout},
    {"CAPTION", kLayout},              {"/CAPTION", kLayout},
};
// clang-format on

constexpr auto kTagRulesByTag = [] {
  std::array<TagRule, std::size(kTagRules)> rules{};
  std::ranges::copy(kTagRules, rules.begin());
  std::ranges::sort(rules, {}, &TagRule::tag);
  return rules;
}();
static_assert(std::ranges::adjacent_find(kTagRulesByTag, {}, &TagRule::tag) == kTagRulesByTag.end(),
              "each tag has one rule");

// The lengths of DOCUMENT, /DOCUMENT, SUBMISSION, /SUBMISSION, SEC-DOCUMENT and
// IMS-DOCUMENT, /SEC-DOCUMENT and /IMS-DOCUMENT.
constexpr bool IsFrameTagLength(std::size_t nLength) { return nLength >= 8 && nLength <= 13; }
static_assert(std::ranges::all_of(kTagRules, [](const TagRule& rule) {
  const bool bFrame = rule.action == kSubmission || rule.action == kSubmissionEnd || rule.action == kDocument ||
                      rule.action == kDocumentEnd;
  return !bFrame || IsFrameTagLength(rule.tag.size());
}));

// Tags that the header's fields in tags are read through, before the first <DOCUMENT>.
constexpr bool IsHeaderTagAction(TagAction action) {
  return action == kType || action == kFiler || action == kFilerEnd || action == kCompanyData ||
         action == kCompanyDataEnd;
}

std::optional<TagAction> FindTagAction(std::string_view tag) {
  const auto it = std::ranges::lower_bound(kTagRulesByTag, tag, {}, &TagRule::tag);
  if (it == kTagRulesByTag.end() || it->tag != tag) return std::nullopt;
  return it->action;
}

// True when the line opening at pOpen cannot be a tag line of a frame tag: its
// first '>' comes after an LF or at none of the frame tags' lengths. Looks at no
// more than the longest frame tag, and decides nothing (false) where the block
// ends first. TakeTagLine's test on the whole line, taken early.
bool IsNoFrameTag(const char* pOpen, const char* pEnd) {
  constexpr std::size_t kLongestFrameTag = 13;
  const char* const pLast =
      pEnd - pOpen > static_cast<std::ptrdiff_t>(kLongestFrameTag + 1) ? pOpen + kLongestFrameTag + 2 : pEnd;
  for (const char* q = pOpen + 1; q < pLast; ++q) {
    if (*q == '\n') return true;
    if (*q == '>') return !IsFrameTagLength(static_cast<std::size_t>(q - pOpen - 1));
  }
  return pLast != pEnd;  // a tag longer than any frame tag, or no '>' on the line
}

// ---- Header fields ----

enum class FieldForm : unsigned char {
  kAsWritten,
  kIsoDate,   // YYYYMMDD as YYYY-MM-DD; empty otherwise
  kInteger,   // digits without leading zeros; empty otherwise
  kBracketed  // the digits between '[' and ']', else the value when all digits; empty otherwise
};

struct HeaderKey {
  std::string_view key;
  HeaderField field;
  FieldForm form;
};

constexpr HeaderKey kHeaderKeys[] = {
    {"ACCESSION NUMBER", kAccessionNumber, FieldForm::kAsWritten},
    {"CONFORMED SUBMISSION TYPE", kFormType, FieldForm::kAsWritten},
    {"CONFORMED PERIOD OF REPORT", kPeriodOfReport, FieldForm::kIsoDate},
    {"FILED AS OF DATE", kFiledDate, FieldForm::kIsoDate},
    {"COMPANY CONFORMED NAME", kCompanyName, FieldForm::kAsWritten},
    {"CENTRAL INDEX KEY", kCentralIndexKey, FieldForm::kInteger},
    {"STANDARD INDUSTRIAL CLASSIFICATION", kIndustryCode, FieldForm::kBracketed},
    {"FISCAL YEAR END", kFiscalYearEnd, FieldForm::kAsWritten},
};
static_assert(std::size(kHeaderKeys) == kHeaderFieldCount, "one key per field");

// The same fields in a header written as tags (EDGAR's dissemination form of
// 1993-2001: <SUBMISSION>, <ACCESSION-NUMBER>, <FILER>, <COMPANY-DATA>, ...).
// The company's come from the first <FILER>'s <COMPANY-DATA>, as the "KEY:" form
// takes its first COMPANY DATA; TYPE is the submission's (before its first <DOCUMENT>).
struct HeaderTag {
  std::string_view tag;
  HeaderField field;
  FieldForm form;
  bool bOfCompany;
};

constexpr HeaderTag kHeaderTags[] = {
    {"ACCESSION-NUMBER", kAccessionNumber, FieldForm::kAsWritten, false},
    {"TYPE", kFormType, FieldForm::kAsWritten, false},
    {"PERIOD", kPeriodOfReport, FieldForm::kIsoDate, false},
    {"FILING-DATE", kFiledDate, FieldForm::kIsoDate, false},
    {"CONFORMED-NAME", kCompanyName, FieldForm::kAsWritten, true},
    {"CIK", kCentralIndexKey, FieldForm::kInteger, true},
    {"ASSIGNED-SIC", kIndustryCode, FieldForm::kBracketed, true},
    {"FISCAL-YEAR-END", kFiscalYearEnd, FieldForm::kAsWritten, true},
};
static_assert(std::size(kHeaderTags) == kHeaderFieldCount, "one tag per field");
static_assert(std::ranges::all_of(kHeaderKeys,
                                  [](const HeaderKey& key) {
                                    return std::ranges::count(kHeaderTags, key.field, &HeaderTag::field) == 1 &&
                                           std::ranges::find(kHeaderTags, key.field, &HeaderTag::field)->form ==
                                               key.form;
                                  }),
              "a field is read in one form, whichever way its header is written");

bool IsAllDigits(std::string_view text) {
  return !text.empty() && std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
}

std::string FieldInForm(std::string_view value, FieldForm form) {
  switch (form) {
    case FieldForm::kAsWritten: return std::string(value);
    case FieldForm::kIsoDate:
      if (value.size() != 8 || !IsAllDigits(value)) return {};
      return std::string(value.substr(0, 4)) + '-' + std::string(value.substr(4, 2)) + '-' +
             std::string(value.substr(6, 2));
    case FieldForm::kInteger: {
      if (!IsAllDigits(value)) return {};
      const std::size_t nFirst = value.find_first_not_of('0');
      return nFirst == std::string_view::npos ? std::string("0") : std::string(value.substr(nFirst));
    }
    case FieldForm::kBracketed: {
      const std::size_t nOpen = value.find('[');
      const std::size_t nClose = nOpen == std::string_view::npos ? nOpen : value.find(']', nOpen);
      if (nClose != std::string_view::npos && IsAllDigits(value.substr(nOpen + 1, nClose - nOpen - 1)))
        return std::string(value.substr(nOpen + 1, nClose - nOpen - 1));
      return IsAllDigits(value) ? std::string(value) : std::string();
    }
  }
  return {};
}

}  // namespace

// ---- The model ----

void SubmissionHeader::Clear() {
  for (std::string& field : fields) field.clear();
  seen.fill(false);
}

TextSpan ScheduleDocument::Keep(std::string_view bytes) {
  const TextSpan span{text.size(), bytes.size()};
  text.append(bytes);
  return span;
}

void ScheduleDocument::Clear() {
  ClearLineBuffer(text);
  type = description = pendingSeries = pendingSeriesName = {};
  hasDescription = flawed = complete = hasPendingSeries = hasPendingSeriesName = false;
  lines.clear();
  schedules.clear();
}

// ---- Lines ----

void ScheduleReader::Start(std::string_view member) {
  m_carry = Carry::kBlank;
  m_held.clear();
  m_header.Clear();
  m_header.member = member;
  m_headerMode = true;
  m_submissionOpened = false;
  m_filer = Filer::kNotYet;
  m_inCompanyData = false;
  m_scheduleCount = 0;
  m_nDocumentsTaken = 0;
  m_documentOpen = false;
}

// In the header every line matters and is taken whole. After it only lines whose
// first byte other than blanks and TABs is '<' matter: each '<' found is checked
// for standing at its line's start, and its line is taken from there.
void ScheduleReader::Feed(const unsigned char* pBytes, std::size_t nCount) {
  if (nCount == 0) return;  // an empty block may come without bytes to point at
  const char* const pBegin = reinterpret_cast<const char*>(pBytes);
  const char* const pEnd = pBegin + nCount;
  const char* p = pBegin;
  if (m_carry == Carry::kHolding || m_carry == Carry::kSkipping) {
    const char* const pLf = static_cast<const char*>(std::memchr(p, '\n', nCount));
    if (!pLf) {
      if (m_carry == Carry::kHolding) m_held.append(p, nCount);
      return;
    }
    if (m_carry == Carry::kHolding) {
      m_held.append(p, static_cast<std::size_t>(pLf - p));
      TakeLine(m_held, true);
      ClearLineBuffer(m_held);
    }
    p = pLf + 1;
    m_carry = Carry::kBlank;
  }
  // From here on, the bytes before p on p's line are blanks (or p starts a line),
  // pBegin included when p is pBegin.
  while (p < pEnd) {
    if (m_headerMode) {
      const char* const pLf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(pEnd - p)));
      if (!pLf) {
        m_held.assign(p, pEnd);
        m_carry = Carry::kHolding;
        return;
      }
      TakeLine(std::string_view(p, static_cast<std::size_t>(pLf - p)), true);
      p = pLf + 1;
      continue;
    }
    const char* const pOpen = static_cast<const char*>(std::memchr(p, '<', static_cast<std::size_t>(pEnd - p)));
    if (!pOpen) break;
    const char* pLineStart = pOpen;
    while (pLineStart > pBegin && IsBlank(pLineStart[-1])) --pLineStart;
    if (pLineStart != pBegin && pLineStart[-1] != '\n') {
      p = pOpen + 1;  // a '<' inside text
      continue;
    }
    if (IsFrameOnly() && IsNoFrameTag(pOpen, pEnd)) {
      p = pOpen + 1;  // the rest of the line holds no line start to look for
      continue;
    }
    const char* const pLf = static_cast<const char*>(std::memchr(pOpen, '\n', static_cast<std::size_t>(pEnd - pOpen)));
    if (!pLf) {
      m_held.assign(pOpen, pEnd);
      m_carry = Carry::kHolding;
      return;
    }
    TakeLine(std::string_view(pOpen, static_cast<std::size_t>(pLf - pOpen)), true);
    p = pLf + 1;
  }
  // The line the block ends in holds no '<' at its start (it would be held): it
  // is blank so far, or text.
  const char* pLast = pEnd;
  while (pLast > pBegin && IsBlank(pLast[-1])) --pLast;
  m_carry = pLast == pBegin || pLast[-1] == '\n' ? Carry::kBlank : Carry::kSkipping;
}

void ScheduleReader::Finish() {
  if (m_carry == Carry::kHolding) {
    const std::string line = std::move(m_held);
    m_held.clear();
    TakeLine(line, false);
  }
  m_carry = Carry::kBlank;
  EndDocument(false);
}

void ScheduleReader::Abandon() noexcept {
  m_documentOpen = false;
  m_carry = Carry::kBlank;
  ClearLineBuffer(m_held);
}

void ScheduleReader::TakeLine(std::string_view line, bool ended) {
  if (ended && !line.empty() && line.back() == '\r') line.remove_suffix(1);
  const std::size_t nFirst = line.find_first_not_of(" \t");
  if (nFirst == std::string_view::npos) return;
  line.remove_prefix(nFirst);
  if (line.front() == '<') TakeTagLine(line, ended);
  else if (m_headerMode) TakeHeaderLine(line);
}

// A header line is a key, ':' and its value; a field is read from its first line.
void ScheduleReader::TakeHeaderLine(std::string_view line) {
  const std::size_t nColon = line.find(':');
  if (nColon == std::string_view::npos) return;
  const std::string_view key = line.substr(0, nColon);
  const auto it = std::ranges::find(kHeaderKeys, key, &HeaderKey::key);
  if (it == std::end(kHeaderKeys) || m_header.seen[it->field]) return;
  m_header.seen[it->field] = true;
  m_header.fields[it->field] = FieldInForm(TrimBlanks(line.substr(nColon + 1)), it->form);
}

// A tag of a header written as tags: the blocks the company fields lie in, or a field.
void ScheduleReader::TakeHeaderTag(std::string_view tag, std::string_view value) {
  const std::optional<TagAction> action = FindTagAction(tag);
  if (action == kFiler) {
    m_filer = m_filer == Filer::kNotYet ? Filer::kFirst : Filer::kPast;
    m_inCompanyData = false;
    return;
  }
  if (action == kFilerEnd) {
    if (m_filer == Filer::kFirst) m_filer = Filer::kPast;
    m_inCompanyData = false;
    return;
  }
  if (action == kCompanyData || action == kCompanyDataEnd) {
    m_inCompanyData = action == kCompanyData;
    return;
  }
  const auto it = std::ranges::find(kHeaderTags, tag, &HeaderTag::tag);
  if (it == std::end(kHeaderTags) || m_header.seen[it->field]) return;
  if (it->bOfCompany && !(m_filer == Filer::kFirst && m_inCompanyData)) return;
  m_header.seen[it->field] = true;
  m_header.fields[it->field] = FieldInForm(value, it->form);
}

// ---- Tag lines ----

// The tag runs from the '<' to the next '>', is not empty and holds no blank or
// TAB; a line whose tag breaks that is text.
void ScheduleReader::TakeTagLine(std::string_view line, bool ended) {
  const std::size_t nClose = line.find('>', 1);
  if (nClose == std::string_view::npos || nClose == 1) return;
  const std::string_view tag = line.substr(1, nClose - 1);
  // Outside the schedules only the frame's tags matter: most tag lines of a
  // filing are the layout of its other documents (<PAGE>, <S>, <C>), passed
  // over here. In the header every tag may be one of its fields.
  if (!m_headerMode && IsFrameOnly() && !IsFrameTagLength(tag.size())) return;
  if (std::ranges::any_of(tag, IsBlank)) return;
  m_tag.resize(tag.size());
  std::ranges::transform(tag, m_tag.begin(), ToUpperAscii);
  const std::string_view value = TrimBlanks(line.substr(nClose + 1));
  const std::optional<TagAction> action = FindTagAction(m_tag);
  if (m_headerMode && (!action || IsHeaderTagAction(*action))) {
    TakeHeaderTag(m_tag, value);
    return;
  }

  if (action) {
    switch (*action) {
      case kSubmission:
        if (m_submissionOpened) StartSubmission();
        m_submissionOpened = true;
        return;
      case kSubmissionEnd: EndDocument(false); return;
      case kDocument:
        EndDocument(false);
        OpenDocument();
        return;
      case kDocumentEnd: EndDocument(true); return;
      default: break;
    }
  }
  if (!m_documentOpen) return;
  if (action == kType) {
    if (!m_typeKnown) {
      m_typeKnown = true;
      std::string type(value);
      std::ranges::transform(type, type.begin(), ToUpperAscii);
      m_holdsSchedules = type.starts_with("EX-27");
      m_document.type = m_document.Keep(type);
    }
    return;
  }
  if (!m_holdsSchedules) return;
  if (action == kDescription) {
    if (!m_document.hasDescription) m_document.description = m_document.Keep(value);
    m_document.hasDescription = true;
    return;
  }
  if (action == kFlawed) {
    m_document.flawed = true;
    return;
  }

  // Inside the legend and the footnotes nothing counts but their end.
  if (m_inLegend) {
    if (action == kLegendEnd) m_inLegend = false;
    return;
  }
  if (m_inFootnotes) {
    if (action == kFootnotesEnd) m_inFootnotes = false;
    return;
  }
  // A series block without its end tag ends at its first other tag.
  if (m_inSeries) {
    if (action == kSeriesNumber || action == kSeriesName) {
      SetSeriesField(action == kSeriesName, value);
      return;
    }
    m_inSeries = false;
    if (action == kSeriesEnd) return;
  }
  if (action) {
    switch (*action) {
      case kArticle: StartSchedule(value, ended); return;
      // A block closed on its own line ("<LEGEND> text </LEGEND>") is closed at once.
      case kLegend: m_inLegend = !EndsWithIgnoringCase(value, "</LEGEND>"); return;
      case kFootnotes: m_inFootnotes = !EndsWithIgnoringCase(value, "</FN>"); return;
      case kSeries: m_inSeries = true; return;
      case kSeriesNumber:
      case kSeriesName: break;  // outside a series block, values
      default: return;          // layout, and end tags without their start
    }
  }
  AddValue(m_tag, value, ended);
}

void ScheduleReader::StartSubmission() {
  EndDocument(false);
  m_header.Clear();
  m_headerMode = true;
  m_filer = Filer::kNotYet;
  m_inCompanyData = false;
  m_scheduleCount = 0;
}

void ScheduleReader::OpenDocument() {
  m_headerMode = false;
  m_submissionOpened = true;
  m_documentOpen = true;
  m_typeKnown = m_holdsSchedules = false;
  m_inLegend = m_inFootnotes = m_inSeries = false;
  m_document.Clear();
}

void ScheduleReader::EndDocument(bool bComplete) {
  if (!m_documentOpen) return;
  m_documentOpen = false;
  if (m_holdsSchedules && !m_document.schedules.empty()) {
    m_document.complete = bComplete;
    ++m_nDocumentsTaken;
    m_sink.TakeDocument(m_header, m_document);
  }
  // A long line's room goes back now, not beside the table's copies of it.
  m_document.Clear();
}

void ScheduleReader::StartSchedule(std::string_view raw, bool ended) {
  raw = WithoutFootnoteMarks(raw);
  Schedule schedule;
  schedule.number = ++m_scheduleCount;
  schedule.article = m_document.Keep(raw);
  schedule.firstLine = m_document.lines.size();
  if (m_document.schedules.empty()) {
    schedule.series = m_document.pendingSeries;
    schedule.hasSeries = m_document.hasPendingSeries;
    schedule.seriesName = m_document.pendingSeriesName;
    schedule.hasSeriesName = m_document.hasPendingSeriesName;
  }
  m_document.schedules.push_back(schedule);
  AddValue("ARTICLE", raw, ended);
}

void ScheduleReader::AddValue(std::string_view tag, std::string_view raw, bool ended) {
  if (m_document.schedules.empty()) return;  // tag lines before the first ARTICLE are no values
  ScheduleLine line;
  line.tag = m_document.Keep(tag);
  line.raw = m_document.Keep(WithoutFootnoteMarks(raw));
  line.lineEnded = ended;
  m_document.lines.push_back(line);
  ++m_document.schedules.back().lineCount;
}

// A series block names the schedule it stands in, or the first one when it stands before it.
void ScheduleReader::SetSeriesField(bool bName, std::string_view value) {
  const bool bPending = m_document.schedules.empty();
  TextSpan& span = bPending ? (bName ? m_document.pendingSeriesName : m_document.pendingSeries)
                            : (bName ? m_document.schedules.back().seriesName : m_document.schedules.back().series);
  bool& bSet = bPending ? (bName ? m_document.hasPendingSeriesName : m_document.hasPendingSeries)
                        : (bName ? m_document.schedules.back().hasSeriesName : m_document.schedules.back().hasSeries);
  if (bSet) return;
  bSet = true;
  span = m_document.Keep(value);
}
