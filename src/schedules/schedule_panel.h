// The panel: one row per company, series, period end and length, from the
// schedules of many filings. Each input's schedules are read on a worker thread
// into a PanelInput (keys, facts and typed cells); the caller's thread merges
// them in input order into the PanelTable, which keeps one vintage per key and
// holds only the kept schedules' values. At the end quarters are derived from
// year-to-date rows and the table is written sorted by its key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "schedules/schedule_reader.h"
#include "schedules/schedule_table.h"

// Which of a key's candidates the panel keeps.
enum class PanelVintage : unsigned char {
  kFirst,   // filed earliest: what could be known then
  kLatest,  // filed last: amendments and restatements included
};

// The days a month counts in the rules for a period's length.
inline constexpr double kDaysPerMonth = 30.44;

// How long a schedule's period is, in months, and whether PERIOD-TYPE says
// otherwise. Dates are day numbers, kNoDay when unknown; periodTypeMonths is 0
// when PERIOD-TYPE is missing or not YEAR or n-MOS.
inline constexpr std::int32_t kNoDay = INT32_MIN;
struct PeriodLength {
  int months = 0;  // 0: not known
  bool conflict = false;
};
PeriodLength LengthOfPeriod(std::int32_t start, std::int32_t end, std::int32_t fiscalYearEnd, int periodTypeMonths);

// One input's schedules for the panel.
struct PanelInput {
  struct Cell {
    TextSpan tag;        // in capitals
    TextSpan text;       // typed and written out as a field, or for a text cell the value as written
    bool bText = false;  // a text cell: written out when the table is
  };
  struct Candidate {
    // Written out as fields, in text.
    TextSpan cik, series, company, article, fiscalYearEnd, periodStart, periodEnd, periodType, filed, formType,
        accession, multiplier, multiplierSource;
    TextSpan member;  // the archive member it was read from, as the archive holds it
    std::int32_t endDay = kNoDay;
    std::int32_t fiscalYearEndDay = kNoDay;
    int months = 0;
    bool conflict = false;
    bool restated = false;
    std::uint64_t schedule = 0;
    std::size_t firstCell = 0;
    std::size_t cellCount = 0;
  };
  std::string text;
  std::vector<Cell> cells;
  std::vector<Candidate> candidates;  // schedules whose keys are known
  std::uint64_t nSchedules = 0;       // every schedule read
  std::uint64_t nValues = 0;

  void Clear();
};

class PanelSink final : public ScheduleSink {
 public:
  explicit PanelSink(CellGuard guard = CellGuard::kAsWritten) : m_values(guard) {}
  void StartInput(PanelInput& out);
  void TakeDocument(const SubmissionHeader& header, const ScheduleDocument& document) override;

 private:
  TextSpan Keep(std::string_view field);
  TextSpan KeepText(std::string_view text);

  PanelInput* m_pOut = nullptr;
  std::string m_field;
  ScheduleValueReader m_values;
  std::unordered_set<std::string_view> m_tagsOfRow;
};

// The whole run's panel.
class PanelTable {
 public:
  PanelTable(const char* const* paths, PanelVintage vintage, CellGuard guard,
             std::size_t nMostTagColumns = kDefaultMostTagColumns);
  ~PanelTable();

  // Input index's schedules, merged after those of every input before it.
  void Merge(const PanelInput& input, std::size_t index);
  // Derives the quarters and writes the header and every row, sorted by key, in
  // pieces; the tag columns are capped as the wide form's. Returns the number of
  // tags whose values went to other_tags.
  std::uint64_t Write(ChunkSink& out);

 private:
  struct Row;
  struct TagHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
  };

  bool Replaces(const PanelInput::Candidate& candidate, std::string_view filed, const Row& kept) const;
  std::uint32_t TagId(std::string_view tag);
  void DeriveQuarters(std::vector<Row*>& rows, std::vector<std::unique_ptr<Row>>& derived);
  void AppendRow(std::string& out, const Row& row, const std::vector<std::uint32_t>& columnOfTag, std::size_t nColumns);

  const char* const* m_paths;
  const PanelVintage m_vintage;
  const CellGuard m_guard;
  const std::size_t m_nMostTagColumns;
  std::unordered_map<std::string, std::unique_ptr<Row>, TagHash, std::equal_to<>> m_rowOfKey;
  std::unordered_map<std::string, std::uint32_t, TagHash, std::equal_to<>> m_idOfTag;
  std::vector<std::string> m_tags;
  std::string m_key;
};
