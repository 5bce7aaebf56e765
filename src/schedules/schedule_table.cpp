#include "schedules/schedule_table.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <span>

namespace {

// ---- Windows-1252 ----

// The code points of 0x80-0x9F; 0xA0-0xFF are the code points of the same
// number. The five bytes Windows-1252 leaves undefined keep their own number, a C1 control.
// clang-format off
constexpr std::array<char16_t, 32> kCodePointsFrom0x80 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80-0x87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88-0x8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90-0x97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98-0x9F
};
// clang-format on

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

constexpr bool NeedsQuotes(char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; }

// Control bytes below 0x20 but TAB: written as \xNN in names and text cells, so
// that no NUL or line end reaches a cell raw.
constexpr bool IsEscapedControl(unsigned char b) { return b < 0x20 && b != '\t'; }

// Bytes a field cannot take as they are: those that call for quotes, the control
// bytes, which are escaped, and those of 0x80 and above, which are converted.
// Built from NeedsQuotes, IsEscapedControl and the high bit.
constexpr std::array<bool, 256> kSpecialCsvByte = [] {
  std::array<bool, 256> table{};
  for (int b = 0; b < 256; ++b)
    table[b] = b >= 0x80 || NeedsQuotes(static_cast<char>(b)) || IsEscapedControl(static_cast<unsigned char>(b));
  return table;
}();
static_assert(sizeof kSpecialCsvByte == 256);

// The bytes that may start a formula in a spreadsheet.
constexpr bool StartsFormula(char c) { return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r'; }

// A number as people write one: digits, with signs, commas, a point or parentheses.
bool IsPlainNumber(std::string_view text) {
  const auto isNumberByte = [](char c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == ',' || c == '.' || c == '(' || c == ')';
  };
  return std::ranges::all_of(text, isNumberByte) &&
         std::ranges::any_of(text, [](char c) { return c >= '0' && c <= '9'; });
}

bool HasSpecialByte(std::string_view text) {
  return std::ranges::any_of(text, [](char c) { return kSpecialCsvByte[static_cast<unsigned char>(c)]; });
}

void AppendFlag(std::string& out, bool b) { out += b ? "1" : "0"; }

// ---- Names ----

void AppendEscapedByte(std::string& out, unsigned char b) {
  constexpr char kHexDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kHexDigits[b >> 4];
  out += kHexDigits[b & 0xF];
}

bool IsContinuationByte(unsigned char b) { return (b & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence that starts text, or 0 (RFC 3629: no
// overlong forms, no surrogates, nothing past U+10FFFF). Its second byte's
// range depends on the first; the later ones are any continuation byte.
std::size_t Utf8SequenceLength(std::string_view text) {
  struct Lead {
    unsigned char first, last;  // the lead bytes of this row
    std::size_t length;
    unsigned char secondLow, secondHigh;
  };
  constexpr Lead kLeads[] = {
      {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
      {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
      {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
  };
  const auto b = static_cast<unsigned char>(text[0]);
  if (b < 0x80) return 1;
  const auto* lead = std::ranges::find_if(kLeads, [b](const Lead& row) { return b >= row.first && b <= row.last; });
  if (lead == std::end(kLeads) || text.size() < lead->length) return 0;
  const auto second = static_cast<unsigned char>(text[1]);
  if (second < lead->secondLow || second > lead->secondHigh) return 0;
  for (std::size_t i = 2; i < lead->length; ++i)
    if (!IsContinuationByte(static_cast<unsigned char>(text[i]))) return 0;
  return lead->length;
}

// ---- Per-share figures ----

constexpr std::string_view kUnscaledWords[] = {"EPS", "RATIO", "NAV", "YIELD", "RATE"};

bool IsArticleOrMultiplier(std::string_view tag) { return tag == "ARTICLE" || tag == "MULTIPLIER"; }

constexpr std::array<std::string_view, 4> kMultiplierSourceNames = {"written", "words", "absent", "unreadable"};

char ToUpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t nFirst = text.find_first_not_of(" \t");
  if (nFirst == std::string_view::npos) return {};
  return text.substr(nFirst, text.find_last_not_of(" \t") - nFirst + 1);
}

void AppendFixedColumns(std::string& out, std::string_view path, const SubmissionHeader& header,
                        const ScheduleDocument& document, const Schedule& schedule, const ScheduleValueReader& values) {
  const CellGuard guard = values.Guard();
  out += path;
  out += ',';
  AppendCsvName(out, header.member, guard);
  for (const std::string& field : header.fields) {
    out += ',';
    AppendCsvText(out, field, guard);
  }
  out += ',';
  AppendCsvText(out, document.View(document.type), guard);
  out += ',';
  AppendCsvText(out, document.View(document.description), guard);
  out += ',';
  out += std::to_string(schedule.number);
  out += ',';
  AppendCsvText(out, document.View(schedule.article), guard);
  out += ',';
  AppendCsvText(out, document.View(schedule.series), guard);
  out += ',';
  AppendCsvText(out, document.View(schedule.seriesName), guard);
  out += ',';
  AppendFlag(out, document.flawed);
  out += ',';
  AppendFlag(out, document.complete);
  out += ',';
  out += values.MultiplierText();
  out += ',';
  AppendFlag(out, values.Restated());
  out += ',';
  out += MultiplierSourceName(values.Source());
}

}  // namespace

// ---- Fields ----

char32_t CodePointOfFilingByte(unsigned char b) { return b >= 0x80 && b < 0xA0 ? kCodePointsFrom0x80[b - 0x80] : b; }

void AppendCsvField(std::string& out, std::string_view bytes) {
  if (std::ranges::none_of(bytes, NeedsQuotes)) {
    out += bytes;
    return;
  }
  out += '"';
  for (const char c : bytes) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendNameText(std::string& out, std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const std::size_t nLength = Utf8SequenceLength(bytes.substr(i));
    if (nLength == 0 || (nLength == 1 && IsEscapedControl(b))) {
      AppendEscapedByte(out, b);
      ++i;
    } else {
      out += bytes.substr(i, nLength);
      i += nLength;
    }
  }
}

bool NeedsFormulaGuard(std::string_view text) {
  return !text.empty() && StartsFormula(text[0]) && !IsPlainNumber(text);
}

void AppendCsvName(std::string& out, std::string_view bytes, CellGuard guard) {
  const bool bPlain = std::ranges::all_of(bytes, [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x20 && b < 0x80 && c != ',' && c != '"';
  });
  const bool bGuarded = guard == CellGuard::kSpreadsheetSafe && NeedsFormulaGuard(bytes);
  if (bPlain && !bGuarded) {
    out += bytes;
    return;
  }
  std::string text;
  if (bGuarded) text += '\'';
  AppendNameText(text, bytes);
  AppendCsvField(out, text);
}

void AppendCsvText(std::string& out, std::string_view text, CellGuard guard) {
  const bool bGuarded = guard == CellGuard::kSpreadsheetSafe && NeedsFormulaGuard(text);
  if (!HasSpecialByte(text)) {
    if (bGuarded) out += '\'';
    out += text;
    return;
  }
  // Escaped, CR and LF no longer break the line: only a comma or a quote calls for quotes.
  const bool bQuoted = std::ranges::any_of(text, [](char c) { return c == ',' || c == '"'; });
  if (bQuoted) out += '"';
  if (bGuarded) out += '\'';
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x80) AppendUtf8(out, CodePointOfFilingByte(b));
    else if (IsEscapedControl(b)) AppendEscapedByte(out, b);
    else if (c == '"') out += "\"\"";
    else out += c;
  }
  if (bQuoted) out += '"';
}

std::size_t AppendTagDictionaryCsv(std::string& out, std::string_view article) {
  out += "article,tag,kind,label,concept\r\n";
  std::size_t nRows = 0;
  for (const TagEntry& entry : TagEntries()) {
    if (!article.empty() && entry.article != article) continue;
    AppendCsvField(out, entry.article);
    out += ',';
    AppendCsvField(out, entry.tag);
    out += ',';
    out += KindName(entry.kind);
    out += ',';
    AppendCsvField(out, entry.label);
    out += ',';
    out += ConceptName(entry.tagConcept);
    out += "\r\n";
    ++nRows;
  }
  return nRows;
}

// ---- Values ----

bool KeepsNumberUnscaled(std::string_view tag, bool bArticleSix) {
  if (tag.find("PER-SHARE") != std::string_view::npos) return true;
  for (std::size_t nStart = 0; nStart <= tag.size();) {
    const std::size_t nEnd = std::min(tag.find('-', nStart), tag.size());
    if (std::ranges::find(kUnscaledWords, tag.substr(nStart, nEnd - nStart)) != std::end(kUnscaledWords)) return true;
    nStart = nEnd + 1;
  }
  // A fund's schedule names its trust by CIK: an identifier, no amount.
  return tag == "CIK" || (bArticleSix && tag == "RETURNS-OF-CAPITAL");
}

std::string_view MultiplierSourceName(MultiplierSource source) {
  return kMultiplierSourceNames[static_cast<std::size_t>(source)];
}

// The written forms of a multiplier: a word for the number, or a number marked
// as one by a '$' before it or an 'S (or S) after it, as in "$1,000" or "1,000'S".
MultiplierSource ReadMultiplier(std::string_view raw, bool bLineEnded, ScheduleNumber& number) {
  using enum MultiplierSource;
  raw = TrimBlanks(raw);
  // A line the filing ends in may be cut anywhere; a long one names no multiplier.
  if (!bLineEnded || raw.empty() || raw.size() > 2 * kLongestMultiplierDigits) return kUnreadable;
  std::string upper(raw);
  std::ranges::transform(upper, upper.begin(), ToUpperAscii);
  constexpr std::pair<std::string_view, std::string_view> kWordsForNumbers[] = {
      {"THOUSAND", "1000"}, {"THOUSANDS", "1000"}, {"MILLION", "1000000"}, {"MILLIONS", "1000000"}};
  for (const auto& [words, digits] : kWordsForNumbers) {
    if (upper == words) {
      ParseScheduleNumber(digits, number);
      return kWords;
    }
  }
  std::string_view core = upper;
  const bool bDollar = core.starts_with('$');
  if (bDollar) core.remove_prefix(1);
  const bool bPlural = core.size() > 1 && core.back() == 'S' && core[core.size() - 2] != 'S';
  if (bPlural) core.remove_suffix(core.ends_with("'S") ? 2 : 1);
  if (core.empty() || core.front() == '$' || !ParseScheduleNumber(core, number) || number.negative ||
      number.digits.empty() || number.digits.size() > kLongestMultiplierDigits)
    return kUnreadable;
  return bDollar || bPlural ? kWords : kWritten;
}

bool HoldsWordRestated(std::string_view text) {
  constexpr std::string_view kWord = "RESTATED";
  for (std::size_t i = 0; i + kWord.size() <= text.size(); ++i) {
    if (!std::ranges::equal(text.substr(i, kWord.size()), kWord, {}, ToUpperAscii)) continue;
    const bool bStartsWord = i == 0 || !IsLetter(text[i - 1]);
    const bool bEndsWord = i + kWord.size() == text.size() || !IsLetter(text[i + kWord.size()]);
    if (bStartsWord && bEndsWord) return true;
  }
  return false;
}

bool ReadPeriodType(std::string_view raw, int& months) {
  std::string upper(TrimBlanks(raw));
  std::ranges::transform(upper, upper.begin(), ToUpperAscii);
  if (upper == "YEAR") {
    months = 12;
    return true;
  }
  if (!upper.ends_with("-MOS") || upper.size() == 4) return false;
  const std::string_view digits = std::string_view(upper).substr(0, upper.size() - 4);
  if (!std::ranges::all_of(digits, [](char c) { return c >= '0' && c <= '9'; })) return false;
  months = 0;
  if (digits.size() <= 4)
    for (const char c : digits) months = months * 10 + (c - '0');
  return true;
}

void ScheduleValueReader::StartSchedule(const ScheduleDocument& document, const Schedule& schedule) {
  m_multiplier = ScheduleNumber{false, "1", 0};
  m_source = MultiplierSource::kAbsent;
  m_bRestated = document.hasDescription && HoldsWordRestated(document.View(document.description));
  const auto lines = std::span(document.lines).subspan(schedule.firstLine, schedule.lineCount);
  bool bMultiplierSeen = false;
  for (const ScheduleLine& line : lines) {
    const std::string_view tag = document.View(line.tag);
    if (tag == "RESTATED") m_bRestated = true;
    if (tag != "MULTIPLIER" || bMultiplierSeen) continue;
    bMultiplierSeen = true;
    m_source = ReadMultiplier(document.View(line.raw), line.lineEnded, m_number);
    if (m_source != MultiplierSource::kUnreadable) std::swap(m_multiplier, m_number);
  }
  const bool bReadable = m_source != MultiplierSource::kUnreadable;
  m_scales = bReadable && !(m_multiplier.digits == "1" && m_multiplier.scale == 0);
  m_multiplierText.clear();
  if (bReadable) AppendPlainNumber(m_multiplierText, m_multiplier);
  m_article = NormalArticle(document.View(schedule.article));
  m_articleSix = m_article == "6";
}

bool ScheduleValueReader::AppendNumber(std::string& out, std::string_view tag, const TagEntry* pEntry) {
  const bool bAmount = pEntry ? IsScaledKind(pEntry->kind) : !KeepsNumberUnscaled(tag, m_articleSix);
  if (bAmount && m_source == MultiplierSource::kUnreadable) return false;
  if (!bAmount || !m_scales) {
    AppendPlainNumber(out, m_number);
  } else {
    MultiplyScheduleNumbers(m_number, m_multiplier, m_product);
    AppendPlainNumber(out, m_product);
  }
  return true;
}

ValueKind ScheduleValueReader::Read(std::string_view tag, std::string_view raw, bool bLineEnded, std::string& value,
                                    std::string& scaled) {
  value.clear();
  scaled.clear();
  // A line the filing ends in may be cut anywhere: its value is not read.
  if (!bLineEnded) return ValueKind::kText;
  if (AppendIsoDate(value, raw)) return ValueKind::kDate;
  if (!ParseScheduleNumber(raw, m_number)) return ValueKind::kText;
  AppendPlainNumber(value, m_number);
  if (IsArticleOrMultiplier(tag)) return ValueKind::kNumber;
  AppendNumber(scaled, tag, FindTagEntry(m_article, tag));
  return ValueKind::kNumber;
}

CellOutcome ScheduleValueReader::AppendCell(std::string& out, std::string_view tag, std::string_view raw,
                                            bool bLineEnded, bool bAppendText) {
  using enum CellOutcome;
  if (raw.empty()) return kEmpty;
  const auto text = [&] {
    if (bAppendText) AppendCsvText(out, raw, m_guard);
    return kText;
  };
  const TagEntry* const pEntry = FindTagEntry(m_article, tag);
  const TagKind kind = pEntry ? pEntry->kind : TagKind::kText;
  if (pEntry && (kind == TagKind::kText || kind == TagKind::kIdentifier)) return text();
  if (!bLineEnded) {
    // Cut anywhere: a number or date of its kind cannot be trusted.
    if (pEntry) return kUnparsed;
    return text();
  }
  if (!pEntry || kind == TagKind::kDate) {
    m_date.clear();
    if (AppendIsoDate(m_date, raw)) {
      out += m_date;
      return kWritten;
    }
    if (pEntry) return kUnparsed;
  }
  if (!pEntry || IsNumberKind(kind)) {
    if (ParseScheduleNumber(raw, m_number)) return AppendNumber(out, tag, pEntry) ? kWritten : kUnparsed;
    if (pEntry) return kUnparsed;
    return text();
  }
  int nMonths = 0;
  if (!ReadPeriodType(raw, nMonths)) return kUnparsed;
  return text();
}

void AppendFixedColumnNames(std::string& out) {
  out +=
      "path,member,accession_number,cik,company,form_type,filed,period,sic,fiscal_year_end,document,description,"
      "schedule,article,series,series_name,flawed,complete,multiplier,restated,multiplier_source";
}

// ---- The long form ----

void LongTable::AppendHeader(std::string& out) {
  AppendFixedColumnNames(out);
  out += ",tag,raw,value,scaled\r\n";
}

void LongTable::StartInput(std::string_view path, ChunkSink& out) {
  m_pOut = &out;
  m_text.clear();
  m_path.clear();
  AppendCsvName(m_path, path, m_values.Guard());
  m_nSchedules = m_nValues = 0;
}

void LongTable::TakeDocument(const SubmissionHeader& header, const ScheduleDocument& document) {
  for (const Schedule& schedule : document.schedules) {
    m_values.StartSchedule(document, schedule);
    m_prefix.clear();
    AppendFixedColumns(m_prefix, m_path, header, document, schedule, m_values);
    m_prefix += ',';
    m_tagsOfSchedule.clear();
    for (const ScheduleLine& line : std::span(document.lines).subspan(schedule.firstLine, schedule.lineCount)) {
      const std::string_view tag = document.View(line.tag);
      const std::string_view raw = document.View(line.raw);
      m_values.Read(tag, raw, line.lineEnded, m_value, m_scaled);
      m_text += m_prefix;
      AppendCsvText(m_text, tag, m_values.Guard());
      m_text += ',';
      AppendCsvText(m_text, raw, m_values.Guard());
      // A long value goes out now, not beside its row's other copies.
      if (m_text.size() >= kTablePieceBytes) {
        m_pOut->TakeChunk(m_text);
        m_text.clear();
      }
      m_text += ',';
      m_text += m_value;
      m_text += ',';
      m_text += m_scaled;
      if (m_bMarksColumn) AppendMarks(tag, raw, line.lineEnded);
      m_text += "\r\n";
      if (m_text.size() >= kTablePieceBytes) {
        m_pOut->TakeChunk(m_text);
        m_text.clear();
      }
    }
    m_nValues += schedule.lineCount;
  }
  m_nSchedules += document.schedules.size();
}

void LongTable::AppendMarks(std::string_view tag, std::string_view raw, bool bLineEnded) {
  m_text += ',';
  if (!bLineEnded) m_text += 'c';
  // As the wide form: a schedule's first value of each tag but ARTICLE and MULTIPLIER.
  if (IsArticleOrMultiplier(tag) || std::ranges::find(m_tagsOfSchedule, tag) != m_tagsOfSchedule.end()) return;
  m_tagsOfSchedule.push_back(tag);
  m_cell.clear();
  if (m_values.AppendCell(m_cell, tag, raw, bLineEnded, false) == CellOutcome::kUnparsed) m_text += 'u';
}

// ---- The wide form ----

void WideInput::Clear() {
  ClearLineBuffer(text);
  cells.clear();
  rows.clear();
  nValues = 0;
}

void WideSink::StartInput(std::string_view path, WideInput& out) {
  m_pOut = &out;
  out.Clear();
  m_path.clear();
  AppendCsvName(m_path, path, m_values.Guard());
}

void WideSink::TakeDocument(const SubmissionHeader& header, const ScheduleDocument& document) {
  WideInput& out = *m_pOut;
  for (const Schedule& schedule : document.schedules) {
    m_values.StartSchedule(document, schedule);
    WideInput::Row row;
    row.fixed.offset = out.text.size();
    AppendFixedColumns(out.text, m_path, header, document, schedule, m_values);
    row.fixed.length = out.text.size() - row.fixed.offset;
    row.firstCell = out.cells.size();
    m_tagsOfRow.clear();
    m_unparsed.clear();
    for (const ScheduleLine& line : std::span(document.lines).subspan(schedule.firstLine, schedule.lineCount)) {
      const std::string_view tag = document.View(line.tag);
      if (IsArticleOrMultiplier(tag) || !m_tagsOfRow.insert(tag).second) continue;
      const std::string_view raw = document.View(line.raw);
      WideInput::Cell cell;
      cell.tag.offset = out.text.size();
      out.text += tag;
      cell.tag.length = tag.size();
      cell.text.offset = out.text.size();
      // A text cell is written from raw when the table is: its value is kept once.
      const CellOutcome outcome = m_values.AppendCell(out.text, tag, raw, line.lineEnded, false);
      cell.text.length = out.text.size() - cell.text.offset;
      cell.bText = outcome == CellOutcome::kText;
      // Raw is kept for a cell that other_tags may list (an unparsed value is in unparsed).
      if (cell.bText || outcome == CellOutcome::kWritten) {
        cell.raw.offset = out.text.size();
        out.text += raw;
        cell.raw.length = raw.size();
      }
      // A value that is not of its tag's kind leaves its cell empty and is kept as TAG=raw.
      if (outcome == CellOutcome::kUnparsed) {
        if (!m_unparsed.empty()) m_unparsed += "; ";
        m_unparsed += tag;
        m_unparsed += '=';
        m_unparsed += raw;
      }
      out.cells.push_back(cell);
    }
    row.unparsed.offset = out.text.size();
    AppendCsvText(out.text, m_unparsed, m_values.Guard());
    row.unparsed.length = out.text.size() - row.unparsed.offset;
    ClearLineBuffer(m_unparsed);
    row.cellCount = out.cells.size() - row.firstCell;
    out.rows.push_back(row);
    out.nValues += schedule.lineCount;
  }
}

void WideTable::Merge(const WideInput& input) {
  const std::string_view text = input.text;
  for (const WideInput::Row& row : input.rows) {
    Row merged{{m_text.size(), row.fixed.length}, {}, m_cells.size(), row.cellCount};
    m_text += text.substr(row.fixed.offset, row.fixed.length);
    merged.unparsed = {m_text.size(), row.unparsed.length};
    m_text += text.substr(row.unparsed.offset, row.unparsed.length);
    for (const WideInput::Cell& cell : std::span(input.cells).subspan(row.firstCell, row.cellCount)) {
      const std::string_view tag = text.substr(cell.tag.offset, cell.tag.length);
      auto it = m_columnOfTag.find(tag);
      if (it == m_columnOfTag.end()) {
        it = m_columnOfTag.emplace(std::string(tag), static_cast<std::uint32_t>(m_tags.size())).first;
        m_tags.emplace_back(tag);
        m_schedulesOfTag.push_back(0);
      }
      ++m_schedulesOfTag[it->second];  // a tag has one cell in a schedule
      Cell mergedCell{it->second, {m_text.size(), cell.text.length}, {}, cell.bText};
      m_text += text.substr(cell.text.offset, cell.text.length);
      mergedCell.raw = {m_text.size(), cell.raw.length};
      m_text += text.substr(cell.raw.offset, cell.raw.length);
      m_cells.push_back(mergedCell);
    }
    m_rows.push_back(merged);
  }
}

std::vector<std::uint32_t> ChooseTagColumns(std::span<const std::string_view> tags,
                                            std::span<const std::uint64_t> rowsOfTag, std::size_t nMostTagColumns) {
  std::vector<bool> kept(tags.size());
  std::size_t nKept = 0;
  std::vector<std::uint32_t> others;
  for (std::uint32_t tag = 0; tag < tags.size(); ++tag) {
    if (IsDictionaryTag(tags[tag])) {
      kept[tag] = true;
      ++nKept;
    } else {
      others.push_back(tag);
    }
  }
  std::ranges::stable_sort(others, std::greater<>{}, [&](std::uint32_t tag) { return rowsOfTag[tag]; });
  for (const std::uint32_t tag : others) {
    if (nKept >= nMostTagColumns) break;
    kept[tag] = true;
    ++nKept;
  }
  std::vector<std::uint32_t> columnOfTag(tags.size(), kLeftOutColumn);
  std::uint32_t nColumn = 0;
  for (std::uint32_t tag = 0; tag < tags.size(); ++tag)
    if (kept[tag]) columnOfTag[tag] = nColumn++;
  return columnOfTag;
}

std::uint64_t WideTable::Write(ChunkSink& out) const {
  const std::vector<std::string_view> tags(m_tags.begin(), m_tags.end());
  const std::vector<std::uint32_t> columnOfTag = ChooseTagColumns(tags, m_schedulesOfTag, m_nMostTagColumns);
  std::string piece;
  AppendFixedColumnNames(piece);
  piece += ",unparsed,other_tags";
  std::size_t nColumns = 0;
  for (std::uint32_t tag = 0; tag < m_tags.size(); ++tag) {
    if (columnOfTag[tag] == kLeftOutColumn) continue;
    piece += ',';
    AppendCsvText(piece, m_tags[tag], m_guard);
    ++nColumns;
  }
  piece += "\r\n";
  const std::string_view text = m_text;
  std::vector<Cell> cells;
  std::string otherTags;
  for (const Row& row : m_rows) {
    piece += text.substr(row.fixed.offset, row.fixed.length);
    piece += ',';
    piece += text.substr(row.unparsed.offset, row.unparsed.length);
    piece += ',';
    cells.clear();
    otherTags.clear();
    for (const Cell& cell : std::span(m_cells).subspan(row.firstCell, row.cellCount)) {
      if (const std::uint32_t column = columnOfTag[cell.column]; column != kLeftOutColumn) {
        cells.push_back(cell);
        cells.back().column = column;
      } else if (cell.bText || cell.text.length != 0) {  // an unparsed value is in unparsed already
        if (!otherTags.empty()) otherTags += "; ";
        otherTags += m_tags[cell.column];
        otherTags += '=';
        otherTags += text.substr(cell.raw.offset, cell.raw.length);
      }
    }
    AppendCsvText(piece, otherTags, m_guard);
    std::ranges::sort(cells, {}, &Cell::column);
    std::uint32_t nColumn = 0;
    for (const Cell& cell : cells) {
      piece.append(cell.column - nColumn + 1, ',');
      if (cell.bText) AppendCsvText(piece, text.substr(cell.raw.offset, cell.raw.length), m_guard);
      else piece += text.substr(cell.text.offset, cell.text.length);
      nColumn = cell.column + 1;
    }
    piece.append(nColumns - nColumn, ',');
    piece += "\r\n";
    if (piece.size() >= kTablePieceBytes) {
      out.TakeChunk(piece);
      piece.clear();
    }
  }
  if (!piece.empty()) out.TakeChunk(piece);
  return m_tags.size() - nColumns;
}
