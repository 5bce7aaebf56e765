#include "schedules/schedule_panel.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <span>
#include <stdexcept>

#include "schedules/tag_dictionary.h"

namespace {

bool IsArticleOrMultiplier(std::string_view tag) { return tag == "ARTICLE" || tag == "MULTIPLIER"; }

// A fiscal year's rows name FISCAL-YEAR-END dates this close: filers write the
// date ahead of time, and 52-53-week years move it.
constexpr std::int32_t kSameFiscalYearDays = 7;
// Two year-to-date rows a quarter apart end this many days apart, at the least and the most.
constexpr std::int32_t kFewestQuarterDays = 60;
constexpr std::int32_t kMostQuarterDays = 120;

int RoundMonths(std::int32_t days) { return static_cast<int>(std::floor(days / kDaysPerMonth + 0.5)); }

std::int32_t DayOfIsoText(std::string_view iso) {
  std::int32_t day = kNoDay;
  return ReadIsoDay(iso, day) ? day : kNoDay;
}

// cik numbers sort as numbers: by length first (they have no leading zeros).
int CompareCiks(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

}  // namespace

// ---- The length of a period ----

// Dates win over PERIOD-TYPE: PERIOD-START and PERIOD-END when both are known,
// else the time from one year before FISCAL-YEAR-END to the end, which is what
// a year-to-date schedule covers. One case keeps PERIOD-TYPE against that
// second rule: a 3-MOS schedule of a later quarter, which holds the quarter's
// own figures (a 10-Q may report them so), not the year's so far.
PeriodLength LengthOfPeriod(std::int32_t start, std::int32_t end, std::int32_t fiscalYearEnd, int periodTypeMonths) {
  PeriodLength length;
  if (start != kNoDay && end != kNoDay && end >= start) {
    length.months = RoundMonths(end - start + 1);
    if (length.months > 0) {
      length.conflict = periodTypeMonths != 0 && periodTypeMonths != length.months;
      return length;
    }
  }
  if (end != kNoDay && fiscalYearEnd != kNoDay && fiscalYearEnd >= end && fiscalYearEnd < AddYears(end, 1)) {
    const int nMonths = RoundMonths(end - AddYears(fiscalYearEnd, -1));
    if (nMonths > 0) {
      length.conflict = periodTypeMonths != 0 && periodTypeMonths != nMonths;
      length.months = length.conflict && periodTypeMonths == 3 ? 3 : nMonths;
      return length;
    }
  }
  length.months = periodTypeMonths;
  return length;
}

// ---- One input's schedules ----

void PanelInput::Clear() {
  ClearLineBuffer(text);
  cells.clear();
  candidates.clear();
  nSchedules = nValues = 0;
}

void PanelSink::StartInput(PanelInput& out) {
  m_pOut = &out;
  out.Clear();
}

TextSpan PanelSink::Keep(std::string_view field) {
  const TextSpan span{m_pOut->text.size(), field.size()};
  m_pOut->text += field;
  return span;
}

void PanelSink::TakeDocument(const SubmissionHeader& header, const ScheduleDocument& document) {
  PanelInput& out = *m_pOut;
  for (const Schedule& schedule : document.schedules) {
    ++out.nSchedules;
    out.nValues += schedule.lineCount;
    const std::string_view cik = header.fields[kCentralIndexKey];
    if (cik.empty()) continue;
    m_values.StartSchedule(document, schedule);
    const auto lines = std::span(document.lines).subspan(schedule.firstLine, schedule.lineCount);

    // The first line of each tag that sets the period.
    const ScheduleLine* pPeriodType = nullptr;
    std::int32_t nStart = kNoDay;
    std::int32_t nEnd = kNoDay;
    std::int32_t nFiscalYearEnd = kNoDay;
    bool bStartSeen = false, bEndSeen = false, bFiscalSeen = false;
    for (const ScheduleLine& line : lines) {
      const std::string_view tag = document.View(line.tag);
      std::int32_t* pDay = nullptr;
      if (tag == "PERIOD-TYPE") {
        if (!pPeriodType) pPeriodType = &line;
        continue;
      }
      if (tag == "PERIOD-START" && !bStartSeen) pDay = &nStart, bStartSeen = true;
      else if (tag == "PERIOD-END" && !bEndSeen) pDay = &nEnd, bEndSeen = true;
      else if (tag == "FISCAL-YEAR-END" && !bFiscalSeen) pDay = &nFiscalYearEnd, bFiscalSeen = true;
      if (!pDay || !line.lineEnded) continue;
      m_field.clear();
      if (AppendIsoDate(m_field, document.View(line.raw))) *pDay = DayOfIsoText(m_field);
    }
    int nTypeMonths = 0;
    const bool bTypeRead =
        pPeriodType && pPeriodType->lineEnded && ReadPeriodType(document.View(pPeriodType->raw), nTypeMonths);
    if (!bTypeRead) nTypeMonths = 0;
    // Without a PERIOD-END date: the fiscal year's end for a year's schedule, else the period of report.
    std::int32_t nPeriodEnd = nEnd;
    if (nPeriodEnd == kNoDay)
      nPeriodEnd = nTypeMonths == 12 ? nFiscalYearEnd : DayOfIsoText(header.fields[kPeriodOfReport]);
    const PeriodLength length = LengthOfPeriod(nStart, nPeriodEnd, nFiscalYearEnd, nTypeMonths);
    if (nPeriodEnd == kNoDay || length.months <= 0) continue;

    PanelInput::Candidate candidate;
    candidate.cik = Keep(cik);
    candidate.series = Keep(document.View(schedule.series));
    candidate.company = Keep(header.fields[kCompanyName]);
    candidate.article = Keep(m_values.Article());
    m_field.clear();
    if (nFiscalYearEnd != kNoDay) AppendIsoDay(m_field, nFiscalYearEnd);
    candidate.fiscalYearEnd = Keep(m_field);
    m_field.clear();
    if (nStart != kNoDay) AppendIsoDay(m_field, nStart);
    candidate.periodStart = Keep(m_field);
    m_field.clear();
    AppendIsoDay(m_field, nPeriodEnd);
    candidate.periodEnd = Keep(m_field);
    candidate.periodType = Keep(pPeriodType ? document.View(pPeriodType->raw) : std::string_view());
    candidate.filed = Keep(header.fields[kFiledDate]);
    candidate.formType = Keep(header.fields[kFormType]);
    candidate.accession = Keep(header.fields[kAccessionNumber]);
    candidate.multiplier = Keep(m_values.MultiplierText());
    candidate.multiplierSource = Keep(MultiplierSourceName(m_values.Source()));
    candidate.member = Keep(header.member);
    candidate.endDay = nPeriodEnd;
    candidate.fiscalYearEndDay = nFiscalYearEnd;
    candidate.months = length.months;
    candidate.conflict = length.conflict;
    candidate.restated = m_values.Restated();
    candidate.schedule = schedule.number;

    // The values, typed as the wide form types them; an empty cell is not kept.
    candidate.firstCell = out.cells.size();
    m_tagsOfRow.clear();
    for (const ScheduleLine& line : lines) {
      const std::string_view tag = document.View(line.tag);
      if (IsArticleOrMultiplier(tag) || !m_tagsOfRow.insert(tag).second) continue;
      PanelInput::Cell cell;
      cell.text.offset = out.text.size();
      const std::string_view raw = document.View(line.raw);
      // A text cell is kept as written, and written out with the table.
      cell.bText = m_values.AppendCell(out.text, tag, raw, line.lineEnded, false) == CellOutcome::kText;
      if (cell.bText) out.text += raw;
      cell.text.length = out.text.size() - cell.text.offset;
      if (cell.text.length == 0) continue;
      cell.tag = Keep(tag);
      out.cells.push_back(cell);
    }
    candidate.cellCount = out.cells.size() - candidate.firstCell;
    out.candidates.push_back(candidate);
  }
}

// ---- The table ----

// A kept schedule, or a quarter derived from two. Its fields are held as
// written in the filing (written out as CSV when the table is), its cells as
// the wide form writes them, all in one string: the fields first, then each
// cell as its tag's id and its length (7 bits a byte, the high bit set on all
// but the last) and its bytes. The path and the schedule number stay numbers
// until the row is written.
struct PanelTable::Row {
  struct Span {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
  };
  // A cell as read back.
  struct Cell {
    std::uint32_t tag;
    std::string_view text;  // typed, written out; or a text cell's value as written
    bool bText;
  };
  std::string text;
  Span cik, series, company, article, fiscalYearEnd, periodStart, periodEnd, periodType, filed, formType, accession,
      multiplier, multiplierSource;
  Span member;  // as the archive holds it; a derived quarter's both, joined by ';' (empty for plain files)
  std::uint32_t firstCellByte = 0;
  std::int32_t endDay = kNoDay;
  std::int32_t fiscalYearEndDay = kNoDay;
  int months = 0;
  bool conflict = false;
  bool restated = false;
  bool derived = false;
  std::uint32_t input = 0;         // where it was read: the column order follows it
  std::uint32_t earlierInput = 0;  // a derived quarter's earlier row's
  std::uint64_t scheduleNumber = 0;
  std::uint64_t earlierSchedule = 0;
  std::uint64_t vintages = 0;

  std::string_view View(Span span) const { return std::string_view(text).substr(span.offset, span.length); }
  Span Keep(std::string_view field) {
    // One schedule past 4 GiB is more than any span here can name.
    if (text.size() + field.size() > UINT32_MAX) throw std::length_error("a schedule of more than 4 GiB");
    const Span span{static_cast<std::uint32_t>(text.size()), static_cast<std::uint32_t>(field.size())};
    text += field;
    return span;
  }
  // Cells go after every field.
  void StartCells() { firstCellByte = static_cast<std::uint32_t>(text.size()); }
  void AddCell(std::uint32_t tag, std::string_view cell, bool bText) {
    AppendVarint(std::uint64_t{tag} << 1 | (bText ? 1 : 0));
    AppendVarint(cell.size());
    text += cell;
  }
  std::vector<Cell> Cells() const {
    std::vector<Cell> cells;
    const std::string_view bytes = std::string_view(text).substr(firstCellByte);
    for (std::size_t i = 0; i < bytes.size();) {
      const std::uint64_t tagAndKind = ReadVarint(bytes, i);
      const std::size_t nLength = ReadVarint(bytes, i);
      cells.push_back({static_cast<std::uint32_t>(tagAndKind >> 1), bytes.substr(i, nLength), (tagAndKind & 1) != 0});
      i += nLength;
    }
    return cells;
  }

 private:
  void AppendVarint(std::uint64_t n) {
    for (; n >= 0x80; n >>= 7) text += static_cast<char>(0x80 | (n & 0x7F));
    text += static_cast<char>(n);
  }
  static std::uint64_t ReadVarint(std::string_view bytes, std::size_t& i) {
    std::uint64_t n = 0;
    for (int nShift = 0;; nShift += 7) {
      const auto b = static_cast<unsigned char>(bytes[i++]);
      n |= std::uint64_t{b & 0x7Fu} << nShift;
      if (b < 0x80) return n;
    }
  }
};

PanelTable::PanelTable(const char* const* paths, PanelVintage vintage, CellGuard guard, std::size_t nMostTagColumns)
    : m_paths(paths), m_vintage(vintage), m_guard(guard), m_nMostTagColumns(nMostTagColumns) {}
PanelTable::~PanelTable() = default;

std::uint32_t PanelTable::TagId(std::string_view tag) {
  auto it = m_idOfTag.find(tag);
  if (it == m_idOfTag.end()) {
    it = m_idOfTag.emplace(std::string(tag), static_cast<std::uint32_t>(m_tags.size())).first;
    m_tags.emplace_back(tag);
  }
  return it->second;
}

// A candidate replaces the kept one when it was filed earlier (first) or later
// (latest); a filing date beats none. Inputs come in order, so on a tie the
// kept one is from an earlier input or has a lower schedule number, and stays.
bool PanelTable::Replaces(const PanelInput::Candidate&, std::string_view filed, const Row& kept) const {
  const std::string_view keptFiled = kept.View(kept.filed);
  if (filed.empty() || keptFiled.empty()) return keptFiled.empty() && !filed.empty();
  return m_vintage == PanelVintage::kFirst ? filed < keptFiled : filed > keptFiled;
}

void PanelTable::Merge(const PanelInput& input, std::size_t index) {
  const std::string_view text = input.text;
  const auto view = [text](TextSpan span) { return text.substr(span.offset, span.length); };
  for (const PanelInput::Candidate& candidate : input.candidates) {
    m_key.clear();
    m_key += view(candidate.cik);
    m_key += '\0';
    m_key += view(candidate.series);
    m_key += '\0';
    m_key += view(candidate.periodEnd);
    m_key += '\0';
    m_key += std::to_string(candidate.months);
    auto it = m_rowOfKey.find(m_key);
    if (it == m_rowOfKey.end()) {
      it = m_rowOfKey.emplace(m_key, std::make_unique<Row>()).first;
    } else if (!Replaces(candidate, view(candidate.filed), *it->second)) {
      ++it->second->vintages;
      continue;
    }
    const std::uint64_t nVintages = it->second->vintages + 1;
    Row& row = *it->second;
    row = Row{};
    row.vintages = nVintages;
    row.cik = row.Keep(view(candidate.cik));
    row.series = row.Keep(view(candidate.series));
    row.company = row.Keep(view(candidate.company));
    row.article = row.Keep(view(candidate.article));
    row.fiscalYearEnd = row.Keep(view(candidate.fiscalYearEnd));
    row.periodStart = row.Keep(view(candidate.periodStart));
    row.periodEnd = row.Keep(view(candidate.periodEnd));
    row.periodType = row.Keep(view(candidate.periodType));
    row.filed = row.Keep(view(candidate.filed));
    row.formType = row.Keep(view(candidate.formType));
    row.accession = row.Keep(view(candidate.accession));
    row.multiplier = row.Keep(view(candidate.multiplier));
    row.multiplierSource = row.Keep(view(candidate.multiplierSource));
    row.member = row.Keep(view(candidate.member));
    row.endDay = candidate.endDay;
    row.fiscalYearEndDay = candidate.fiscalYearEndDay;
    row.months = candidate.months;
    row.conflict = candidate.conflict;
    row.restated = candidate.restated;
    row.input = static_cast<std::uint32_t>(index);
    row.scheduleNumber = candidate.schedule;
    row.StartCells();
    for (const PanelInput::Cell& cell : std::span(input.cells).subspan(candidate.firstCell, candidate.cellCount))
      row.AddCell(TagId(view(cell.tag)), view(cell.text), cell.bText);
    if (row.text.size() > UINT32_MAX) throw std::length_error("a schedule of more than 4 GiB");
    row.text.shrink_to_fit();
  }
}

// ---- Quarters from year-to-date rows ----

// Two reported rows of one company and series in one fiscal year, months m and
// m + 3 ending about a quarter apart, give the quarter that ends with the
// second: flows are the difference, stocks the second's, other values empty.
// A reported three-month row for the same end takes the place of a derived one.
void PanelTable::DeriveQuarters(std::vector<Row*>& rows, std::vector<std::unique_ptr<Row>>& derived) {
  std::size_t nGroupStart = 0;
  ScheduleNumber first, second, difference;
  while (nGroupStart < rows.size()) {
    const Row& head = *rows[nGroupStart];
    std::size_t nGroupEnd = nGroupStart + 1;
    while (nGroupEnd < rows.size() && rows[nGroupEnd]->View(rows[nGroupEnd]->cik) == head.View(head.cik) &&
           rows[nGroupEnd]->View(rows[nGroupEnd]->series) == head.View(head.series))
      ++nGroupEnd;
    const std::span<Row*> group(rows.data() + nGroupStart, nGroupEnd - nGroupStart);
    std::vector<std::int32_t> quarterEnds;  // the ends of the group's three-month rows, reported or derived
    for (const Row* pRow : group)
      if (pRow->months == 3) quarterEnds.push_back(pRow->endDay);
    for (const Row* pLater : group) {
      if (pLater->months < 6 || pLater->fiscalYearEndDay == kNoDay ||
          std::ranges::find(quarterEnds, pLater->endDay) != quarterEnds.end())
        continue;
      const Row* pEarlier = nullptr;
      for (const Row* pRow : group) {
        if (pRow->months != pLater->months - 3 || pRow->fiscalYearEndDay == kNoDay ||
            std::abs(pRow->fiscalYearEndDay - pLater->fiscalYearEndDay) > kSameFiscalYearDays ||
            pRow->View(pRow->article) != pLater->View(pLater->article))
          continue;
        const std::int32_t nDays = pLater->endDay - pRow->endDay;
        if (nDays < kFewestQuarterDays || nDays > kMostQuarterDays) continue;
        if (!pEarlier || pRow->endDay > pEarlier->endDay) pEarlier = pRow;
      }
      if (!pEarlier) continue;
      quarterEnds.push_back(pLater->endDay);

      auto pQuarter = std::make_unique<Row>();
      Row& quarter = *pQuarter;
      const Row& a = *pEarlier;
      const Row& b = *pLater;
      const auto both = [&](Row::Span Row::*field) {
        std::string joined(a.View(a.*field));
        joined += ';';
        joined += b.View(b.*field);
        return quarter.Keep(joined);
      };
      quarter.derived = true;
      quarter.cik = quarter.Keep(b.View(b.cik));
      quarter.series = quarter.Keep(b.View(b.series));
      quarter.company = quarter.Keep(b.View(b.company));
      quarter.article = quarter.Keep(b.View(b.article));
      quarter.fiscalYearEnd = quarter.Keep(b.View(b.fiscalYearEnd));
      std::string start;
      AppendIsoDay(start, a.endDay + 1);
      quarter.periodStart = quarter.Keep(start);
      quarter.periodEnd = quarter.Keep(b.View(b.periodEnd));
      quarter.filed = both(&Row::filed);
      quarter.formType = both(&Row::formType);
      quarter.accession = both(&Row::accession);
      const bool bSameMultiplier =
          a.View(a.multiplier) == b.View(b.multiplier) && a.View(a.multiplierSource) == b.View(b.multiplierSource);
      quarter.multiplier = quarter.Keep(bSameMultiplier ? b.View(b.multiplier) : std::string_view());
      quarter.multiplierSource =
          bSameMultiplier ? quarter.Keep(b.View(b.multiplierSource)) : both(&Row::multiplierSource);
      quarter.member = a.View(a.member).empty() && b.View(b.member).empty() ? quarter.Keep({}) : both(&Row::member);
      quarter.endDay = b.endDay;
      quarter.fiscalYearEndDay = b.fiscalYearEndDay;
      quarter.months = 3;
      quarter.restated = a.restated || b.restated;
      quarter.input = b.input;
      quarter.scheduleNumber = b.scheduleNumber;
      quarter.earlierInput = a.input;
      quarter.earlierSchedule = a.scheduleNumber;
      const std::string_view article = b.View(b.article);
      const std::vector<Row::Cell> earlierCells = a.Cells();
      quarter.StartCells();
      for (const Row::Cell& cell : b.Cells()) {
        const TagEntry* const pEntry = FindTagEntry(article, m_tags[cell.tag]);
        if (!pEntry) continue;
        if (pEntry->kind == TagKind::kStock) {
          quarter.AddCell(cell.tag, cell.text, cell.bText);
          continue;
        }
        if (pEntry->kind != TagKind::kFlow) continue;
        const auto it = std::ranges::find(earlierCells, cell.tag, &Row::Cell::tag);
        if (it == earlierCells.end() || !ParseScheduleNumber(it->text, first) ||
            !ParseScheduleNumber(cell.text, second))
          continue;
        first.negative = !first.negative && !first.digits.empty();
        AddScheduleNumbers(second, first, difference);
        std::string number;
        AppendPlainNumber(number, difference);
        quarter.AddCell(cell.tag, number, false);
      }
      derived.push_back(std::move(pQuarter));
    }
    nGroupStart = nGroupEnd;
  }
}

// ---- Writing ----

namespace {

constexpr std::string_view kPanelColumns =
    "cik,series,company,article,fiscal_year_end,period_start,period_end,months,derived,period_type,"
    "period_type_conflict,vintages,filed,form_type,accession_number,schedule,path,member,restated,multiplier,"
    "multiplier_source,revenue,net_income,total_assets,eps_basic,eps_diluted";

constexpr TagConcept kConceptColumns[] = {TagConcept::kRevenue, TagConcept::kNetIncome, TagConcept::kTotalAssets,
                                          TagConcept::kEpsBasic, TagConcept::kEpsDiluted};

}  // namespace

void PanelTable::AppendRow(std::string& out, const Row& row, const std::vector<std::uint32_t>& columnOfTag,
                           std::size_t nColumns) {
  const auto field = [&](Row::Span span) {
    AppendCsvText(out, row.View(span), m_guard);
    out += ',';
  };
  field(row.cik);
  field(row.series);
  field(row.company);
  field(row.article);
  field(row.fiscalYearEnd);
  field(row.periodStart);
  field(row.periodEnd);
  out += std::to_string(row.months);
  out += row.derived ? ",1," : ",0,";
  field(row.periodType);
  out += row.conflict ? "1," : "0,";
  if (!row.derived) out += std::to_string(row.vintages);
  out += ',';
  field(row.filed);
  field(row.formType);
  field(row.accession);
  // The source: a derived quarter's earlier row first. Paths and members are
  // names, written as text.
  std::string schedules;
  std::string paths;
  if (row.derived) {
    schedules = std::to_string(row.earlierSchedule) + ';';
    AppendNameText(paths, m_paths[row.earlierInput]);
    paths += ';';
  }
  schedules += std::to_string(row.scheduleNumber);
  AppendNameText(paths, m_paths[row.input]);
  out += schedules;
  out += ',';
  if (m_guard == CellGuard::kSpreadsheetSafe && NeedsFormulaGuard(paths)) paths.insert(0, 1, '\'');
  AppendCsvField(out, paths);
  out += ',';
  AppendCsvName(out, row.View(row.member), m_guard);
  out += ',';
  out += row.restated ? "1," : "0,";
  field(row.multiplier);
  AppendCsvText(out, row.View(row.multiplierSource), m_guard);

  // The concepts: EPS-BASIC before EPS-PRIMARY, as the tag that replaced it.
  std::string_view concepts[std::size(kConceptColumns)];
  const std::string_view article = row.View(row.article);
  const std::vector<Row::Cell> rowCells = row.Cells();
  for (const Row::Cell& cell : rowCells) {
    const TagEntry* const pEntry = FindTagEntry(article, m_tags[cell.tag]);
    if (!pEntry || pEntry->tagConcept == TagConcept::kNone) continue;
    const auto it = std::ranges::find(kConceptColumns, pEntry->tagConcept);
    std::string_view& value = concepts[it - std::begin(kConceptColumns)];
    if (value.empty() || pEntry->tag == "EPS-BASIC") value = cell.text;
  }
  for (const std::string_view value : concepts) {
    out += ',';
    out += value;
  }

  // The cells of the tags left out, as TAG=value, then each other tag's cell in its column.
  std::vector<Row::Cell> cells;
  cells.reserve(rowCells.size());
  std::string otherTags;
  for (const Row::Cell& cell : rowCells) {
    if (const std::uint32_t column = columnOfTag[cell.tag]; column != kLeftOutColumn) {
      cells.push_back({column, cell.text, cell.bText});
      continue;
    }
    if (!otherTags.empty()) otherTags += "; ";
    otherTags += m_tags[cell.tag];
    otherTags += '=';
    otherTags += cell.text;
  }
  out += ',';
  AppendCsvText(out, otherTags, m_guard);
  std::ranges::sort(cells, {}, &Row::Cell::tag);  // by column, now
  std::uint32_t nColumn = 0;
  for (const Row::Cell& cell : cells) {
    out.append(cell.tag - nColumn + 1, ',');
    if (cell.bText) AppendCsvText(out, cell.text, m_guard);
    else out += cell.text;
    nColumn = cell.tag + 1;
  }
  out.append(nColumns - nColumn, ',');
  out += "\r\n";
}

std::uint64_t PanelTable::Write(ChunkSink& out) {
  std::vector<Row*> rows;
  rows.reserve(m_rowOfKey.size());
  for (auto& [key, pRow] : m_rowOfKey) rows.push_back(pRow.get());
  const auto byKey = [](const Row* a, const Row* b) {
    if (const int n = CompareCiks(a->View(a->cik), b->View(b->cik)); n != 0) return n < 0;
    if (const int n = a->View(a->series).compare(b->View(b->series)); n != 0) return n < 0;
    if (a->endDay != b->endDay) return a->endDay < b->endDay;
    if (a->months != b->months) return a->months < b->months;
    return a->derived < b->derived;
  };
  std::ranges::sort(rows, byKey);
  std::vector<std::unique_ptr<Row>> derived;
  DeriveQuarters(rows, derived);

  // Tag columns in the order first met, in input order, among the kept rows.
  std::vector<Row*> byInput = rows;
  std::ranges::sort(byInput, [](const Row* a, const Row* b) {
    return a->input != b->input ? a->input < b->input : a->scheduleNumber < b->scheduleNumber;
  });
  // Capped as the wide form's: the rows that hold each tag decide which keep a column.
  constexpr std::uint32_t kNotMet = UINT32_MAX;
  std::vector<std::uint32_t> orderOfTag(m_tags.size(), kNotMet);
  std::vector<std::string_view> tagsMet;
  std::vector<std::uint64_t> rowsOfTag;
  for (const Row* pRow : byInput) {
    for (const Row::Cell& cell : pRow->Cells()) {
      if (orderOfTag[cell.tag] == kNotMet) {
        orderOfTag[cell.tag] = static_cast<std::uint32_t>(tagsMet.size());
        tagsMet.push_back(m_tags[cell.tag]);
        rowsOfTag.push_back(0);
      }
      ++rowsOfTag[orderOfTag[cell.tag]];
    }
  }
  const std::vector<std::uint32_t> columnOfMet = ChooseTagColumns(tagsMet, rowsOfTag, m_nMostTagColumns);
  std::vector<std::uint32_t> columnOfTag(m_tags.size(), kLeftOutColumn);
  for (std::uint32_t tag = 0; tag < m_tags.size(); ++tag)
    if (orderOfTag[tag] != kNotMet) columnOfTag[tag] = columnOfMet[orderOfTag[tag]];
  std::vector<std::string_view> columnTags(tagsMet.size() -
                                           static_cast<std::size_t>(std::ranges::count(columnOfMet, kLeftOutColumn)));
  for (std::uint32_t k = 0; k < tagsMet.size(); ++k)
    if (columnOfMet[k] != kLeftOutColumn) columnTags[columnOfMet[k]] = tagsMet[k];

  for (std::unique_ptr<Row>& pRow : derived) rows.push_back(pRow.get());
  std::ranges::sort(rows, byKey);

  std::string piece(kPanelColumns);
  piece += ",other_tags";
  for (const std::string_view tag : columnTags) {
    piece += ',';
    AppendCsvText(piece, tag, m_guard);
  }
  piece += "\r\n";
  for (const Row* pRow : rows) {
    AppendRow(piece, *pRow, columnOfTag, columnTags.size());
    if (piece.size() >= kTablePieceBytes) {
      out.TakeChunk(piece);
      piece.clear();
    }
  }
  if (!piece.empty()) out.TakeChunk(piece);
  return tagsMet.size() - columnTags.size();
}
