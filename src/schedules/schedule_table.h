// The schedules as a CSV table (RFC 4180, UTF-8, CR LF line ends): the long form,
// one row per value, written as each document ends; and the wide form, one row
// per schedule and one column per tag, held until every tag is known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "schedules/schedule_number.h"
#include "schedules/schedule_reader.h"

// Where the table's bytes go, in pieces, in order.
class ChunkSink {
 public:
  // Takes the piece; it may leave chunk empty or as it was.
  virtual void TakeChunk(std::string& chunk) = 0;

 protected:
  ~ChunkSink() = default;
};

// Pieces are handed over once they reach this size.
inline constexpr std::size_t kTablePieceBytes = 64 * 1024;

// ---- Fields ----

// Appends bytes as one CSV field, quoted when it holds a comma, a quote, a CR or an LF.
void AppendCsvField(std::string& out, std::string_view bytes);
// A name (a path, an archive member) as text: valid UTF-8 as it stands but for
// the control bytes below 0x20 other than TAB, and each of those, and each byte
// that is not part of valid UTF-8, as the four characters \xNN (lower-case hex).
// Paths are bytes as given, so this is how a name in another code page (a
// Latin-1 'e' with acute, 0xE9, is \xe9) keeps the table UTF-8 and on its lines.
void AppendNameText(std::string& out, std::string_view bytes);
// The same as one CSV field, quoted when it holds a comma or a quote.
void AppendCsvName(std::string& out, std::string_view bytes);
// The same for filing text: bytes 0x80-0xFF are read as Windows-1252 and written
// as UTF-8; the five bytes Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) become the C1 controls of the same number.
void AppendCsvText(std::string& out, std::string_view text);
// The Unicode code point of a filing byte.
char32_t CodePointOfFilingByte(unsigned char b);

// ---- Values ----

// True for per-share figures, ratios and rates, whose numbers the multiplier
// does not scale: a tag that contains PER-SHARE, or whose words (split at '-')
// include EPS, RATIO, NAV, YIELD or RATE; RETURNS-OF-CAPITAL in Article 6; and
// CIK, the identifier a fund's schedule names its trust by.
bool KeepsNumberUnscaled(std::string_view tag, bool bArticleSix);

// A multiplier longer than this (in digits) counts as no number: it would make
// every scaled value of its schedule that much longer, and work for it grow with it.
inline constexpr std::size_t kLongestMultiplierDigits = 40;

enum class ValueKind : unsigned char { kNumber, kDate, kText };

// How one schedule's values are read: its multiplier and its article.
class ScheduleValueReader {
 public:
  void StartSchedule(const ScheduleDocument& document, const Schedule& schedule);
  // The multiplier in plain form: the first MULTIPLIER line's number, or 1.
  std::string_view MultiplierText() const { return m_multiplierText; }
  // Reads one value: value gets its plain number or ISO date, scaled its number
  // times the multiplier (empty for ARTICLE and MULTIPLIER, and for what is no number).
  ValueKind Read(std::string_view tag, std::string_view raw, bool bLineEnded, std::string& value, std::string& scaled);

 private:
  ScheduleNumber m_multiplier;
  bool m_scales = false;  // the multiplier is not 1
  bool m_articleSix = false;
  std::string m_multiplierText;
  ScheduleNumber m_number;
  ScheduleNumber m_product;
};

// The columns from path to multiplier, shared by both forms: path and member,
// the header's fields, then the document's and the schedule's.
void AppendFixedColumnNames(std::string& out);

// ---- The long form ----

class LongTable final : public ScheduleSink {
 public:
  // The header line.
  static void AppendHeader(std::string& out);

  // An input starts: its rows go to out, under its path as given.
  void StartInput(std::string_view path, ChunkSink& out);
  void TakeDocument(const SubmissionHeader& header, const ScheduleDocument& document) override;
  // The rows not handed over yet: when the input has ended, its caller takes
  // them from here (and leaves the string empty).
  std::string& Rest() { return m_text; }

  std::uint64_t Schedules() const { return m_nSchedules; }
  std::uint64_t Values() const { return m_nValues; }

 private:
  ChunkSink* m_pOut = nullptr;
  std::string m_text;
  std::string m_path;  // as a CSV field
  std::string m_prefix;
  std::string m_value;
  std::string m_scaled;
  ScheduleValueReader m_values;
  std::uint64_t m_nSchedules = 0;
  std::uint64_t m_nValues = 0;
};

// ---- The wide form ----

// One input's schedules for the wide form: the fixed columns of each, written
// out, and its cells by tag.
struct WideInput {
  struct Cell {
    TextSpan tag;   // in capitals
    TextSpan text;  // written out as a field
  };
  struct Row {
    TextSpan fixed;  // path to multiplier, written out
    std::size_t firstCell = 0;
    std::size_t cellCount = 0;
  };
  std::string text;
  std::vector<Cell> cells;
  std::vector<Row> rows;
  std::uint64_t nValues = 0;

  void Clear();
};

class WideSink final : public ScheduleSink {
 public:
  void StartInput(std::string_view path, WideInput& out);
  void TakeDocument(const SubmissionHeader& header, const ScheduleDocument& document) override;

 private:
  WideInput* m_pOut = nullptr;
  std::string m_path;
  std::string m_field;
  std::string m_value;
  std::string m_scaled;
  ScheduleValueReader m_values;
  std::unordered_set<std::string_view> m_tagsOfRow;  // a tag written twice in a schedule keeps its first value
};

// The whole run's schedules, inputs merged in input order.
class WideTable {
 public:
  void Merge(const WideInput& input);
  // Writes the header and every row, in pieces.
  void Write(ChunkSink& out) const;

 private:
  struct TagHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view tag) const noexcept { return std::hash<std::string_view>{}(tag); }
  };
  struct Cell {
    std::uint32_t column;
    TextSpan text;
  };
  struct Row {
    TextSpan fixed;
    std::size_t firstCell;
    std::size_t cellCount;
  };

  std::unordered_map<std::string, std::uint32_t, TagHash, std::equal_to<>> m_columnOfTag;
  std::vector<std::string> m_tags;  // the tag columns, in the order first met
  std::string m_text;
  std::vector<Cell> m_cells;
  std::vector<Row> m_rows;
};
