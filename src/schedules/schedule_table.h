// The schedules as a CSV table (RFC 4180, UTF-8, CR LF line ends): the long form,
// one row per value, written as each document ends; and the wide form, one row
// per schedule and one column per tag, held until every tag is known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "schedules/schedule_number.h"
#include "schedules/schedule_reader.h"
#include "schedules/tag_dictionary.h"

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

// Whether a text cell is kept from reading as a spreadsheet formula.
enum class CellGuard : bool {
  kAsWritten,       // the cell as the filing has it
  kSpreadsheetSafe  // a cell that NeedsFormulaGuard gets a leading '
};

// True for text that starts with '=', '+', '-', '@', TAB or CR and is no plain
// number (digits, signs, commas, a point, parentheses): a spreadsheet may take
// it for a formula.
bool NeedsFormulaGuard(std::string_view text);

// Appends bytes as one CSV field, quoted when it holds a comma, a quote, a CR or an LF.
void AppendCsvField(std::string& out, std::string_view bytes);
// A name (a path, an archive member) as text: valid UTF-8 as it stands but for
// the control bytes below 0x20 other than TAB, and each of those, and each byte
// that is not part of valid UTF-8, as the four characters \xNN (lower-case hex).
// Paths are bytes as given, so this is how a name in another code page (a
// Latin-1 'e' with acute, 0xE9, is \xe9) keeps the table UTF-8 and on its lines.
void AppendNameText(std::string& out, std::string_view bytes);
// The same as one CSV field, quoted when it holds a comma or a quote.
void AppendCsvName(std::string& out, std::string_view bytes, CellGuard guard = CellGuard::kAsWritten);
// The same for filing text: bytes 0x80-0xFF are read as Windows-1252 and written
// as UTF-8; the five bytes Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) become the C1 controls of the same number; control bytes as names have them.
void AppendCsvText(std::string& out, std::string_view text, CellGuard guard = CellGuard::kAsWritten);
// The Unicode code point of a filing byte.
char32_t CodePointOfFilingByte(unsigned char b);

// Appends the dictionary as CSV (RFC 4180, CR LF): the header
// article,tag,kind,label,concept, then the rows of one article (as NormalArticle
// writes it), or of every article when article is empty. Returns the rows written.
std::size_t AppendTagDictionaryCsv(std::string& out, std::string_view article);

// ---- Values ----

// True for per-share figures, ratios and rates, whose numbers the multiplier
// does not scale: a tag that contains PER-SHARE, or whose words (split at '-')
// include EPS, RATIO, NAV, YIELD or RATE; RETURNS-OF-CAPITAL in Article 6; and
// CIK, the identifier a fund's schedule names its trust by. The rule for tags
// the dictionary does not hold; for the others their kind decides.
bool KeepsNumberUnscaled(std::string_view tag, bool bArticleSix);

// A multiplier longer than this (in digits) counts as no number: it would make
// every scaled value of its schedule that much longer, and work for it grow with it.
inline constexpr std::size_t kLongestMultiplierDigits = 40;

// Where a schedule's multiplier comes from.
enum class MultiplierSource : unsigned char {
  kWritten,     // a number
  kWords,       // THOUSAND(S), MILLION(S), or a number with '$' before or 'S / S after it ("1,000'S")
  kAbsent,      // no MULTIPLIER line: 1
  kUnreadable,  // 0, a negative, no number, or a line the filing ends in: no amount can be scaled
};
std::string_view MultiplierSourceName(MultiplierSource source);

// Reads a MULTIPLIER line's value (its number goes to number unless unreadable);
// bLineEnded is false for a last line that no line end closed.
MultiplierSource ReadMultiplier(std::string_view raw, bool bLineEnded, ScheduleNumber& number);

// True when the word RESTATED (any case) stands in text, apart from other letters.
bool HoldsWordRestated(std::string_view text);

enum class ValueKind : unsigned char { kNumber, kDate, kText };

// What became of a value in the wide form's cell.
enum class CellOutcome : unsigned char {
  kWritten,   // the cell holds it, typed (a number, a date)
  kText,      // the cell is the value as text (appended only when asked)
  kEmpty,     // there was nothing to write
  kUnparsed,  // it is not of its tag's kind (or an amount no multiplier can scale): the cell stays empty
};

// How one schedule's values are read: its multiplier, its article and the tags
// the dictionary knows for it.
class ScheduleValueReader {
 public:
  explicit ScheduleValueReader(CellGuard guard = CellGuard::kAsWritten) : m_guard(guard) {}
  // How text cells are written.
  CellGuard Guard() const { return m_guard; }
  void StartSchedule(const ScheduleDocument& document, const Schedule& schedule);
  // The multiplier in plain form: the number read, 1 when there is none, empty when unreadable.
  std::string_view MultiplierText() const { return m_multiplierText; }
  MultiplierSource Source() const { return m_source; }
  // A <RESTATED> line in the schedule, or the word in its document's description.
  bool Restated() const { return m_bRestated; }
  // The schedule's article as the dictionary writes it.
  std::string_view Article() const { return m_article; }
  // Reads one value for the long form: value gets its plain number or ISO date,
  // scaled its number times the multiplier where its kind is scaled (empty for
  // ARTICLE and MULTIPLIER, for what is no number, and for amounts when the
  // multiplier is unreadable).
  ValueKind Read(std::string_view tag, std::string_view raw, bool bLineEnded, std::string& value, std::string& scaled);
  // Appends the wide form's cell (a number, an ISO date, or the text as a CSV
  // field, this only with bAppendText) typed by the tag's kind; the dictionary's
  // tags take only values of their kind, the others keep the general rules.
  CellOutcome AppendCell(std::string& out, std::string_view tag, std::string_view raw, bool bLineEnded,
                         bool bAppendText = true);

 private:
  // The number in number, scaled or not as the tag's rule says; false when it
  // is an amount and the multiplier is unreadable.
  bool AppendNumber(std::string& out, std::string_view tag, const TagEntry* pEntry);

  const CellGuard m_guard;
  ScheduleNumber m_multiplier;
  MultiplierSource m_source = MultiplierSource::kAbsent;
  bool m_scales = false;  // the multiplier is readable and not 1
  bool m_articleSix = false;
  bool m_bRestated = false;
  std::string m_article;
  std::string m_multiplierText;
  std::string m_date;
  ScheduleNumber m_number;
  ScheduleNumber m_product;
};

// True for YEAR and n-MOS (any case), the values of a PERIOD-TYPE; months gets
// 12 or n (0 when n is 0 or longer than four digits).
bool ReadPeriodType(std::string_view raw, int& months);

// The columns from path to multiplier_source, shared by both forms: path and
// member, the header's fields, then the document's and the schedule's.
void AppendFixedColumnNames(std::string& out);

// ---- The long form ----

class LongTable final : public ScheduleSink {
 public:
  // bMarksColumn: each row ends in one more field, which the header does not
  // name: 'c' when the filing ended inside the value's line (it may be cut), 'u'
  // when the wide form lists the value in unparsed, both, or neither.
  explicit LongTable(CellGuard guard = CellGuard::kAsWritten, bool bMarksColumn = false)
      : m_values(guard), m_bMarksColumn(bMarksColumn) {}
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
  void AppendMarks(std::string_view tag, std::string_view raw, bool bLineEnded);

  ChunkSink* m_pOut = nullptr;
  std::string m_text;
  std::string m_path;  // as a CSV field
  std::string m_prefix;
  std::string m_value;
  std::string m_scaled;
  ScheduleValueReader m_values;
  bool m_bMarksColumn;
  std::vector<std::string_view> m_tagsOfSchedule;  // for the marks: tags met in the schedule
  std::string m_cell;                              // for the marks: a wide cell, not kept
  std::uint64_t m_nSchedules = 0;
  std::uint64_t m_nValues = 0;
};

// ---- The wide form ----

// The tag columns of the wide form and the panel when the caller names no cap.
inline constexpr std::size_t kDefaultMostTagColumns = 500;
inline constexpr std::uint32_t kLeftOutColumn = UINT32_MAX;

// The columns of tags given in the order first met, with the schedules (rows)
// holding each: every tag of the dictionary keeps its column, the other tags
// fill the cap, those in the most rows first, ties in the order first met. The
// columns kept stay in the order first met. Returns each tag's column, or
// kLeftOutColumn for a tag whose values go to other_tags.
std::vector<std::uint32_t> ChooseTagColumns(std::span<const std::string_view> tags,
                                            std::span<const std::uint64_t> rowsOfTag, std::size_t nMostTagColumns);

// One input's schedules for the wide form: the fixed columns of each, written
// out, and its cells by tag.
struct WideInput {
  struct Cell {
    TextSpan tag;   // in capitals
    TextSpan text;  // written out as a field; empty for a text cell
    TextSpan raw;   // as the filing has it: a text cell's value, and other_tags'
    bool bText = false;
  };
  struct Row {
    TextSpan fixed;     // path to multiplier_source, written out
    TextSpan unparsed;  // the unparsed column, written out
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
  explicit WideSink(CellGuard guard = CellGuard::kAsWritten) : m_values(guard) {}
  void StartInput(std::string_view path, WideInput& out);
  void TakeDocument(const SubmissionHeader& header, const ScheduleDocument& document) override;

 private:
  WideInput* m_pOut = nullptr;
  std::string m_path;
  std::string m_unparsed;
  ScheduleValueReader m_values;
  std::unordered_set<std::string_view> m_tagsOfRow;  // a tag written twice in a schedule keeps its first value
};

// The whole run's schedules, inputs merged in input order. Tag columns are
// capped: the dictionary's tags keep theirs, the other tags fill the cap, those
// in the most schedules first (ties in the order first met), and the values of
// the tags left out go to other_tags as TAG=raw, so the table grows linearly
// with its input.
class WideTable {
 public:
  explicit WideTable(std::size_t nMostTagColumns = kDefaultMostTagColumns, CellGuard guard = CellGuard::kAsWritten)
      : m_nMostTagColumns(nMostTagColumns), m_guard(guard) {}
  void Merge(const WideInput& input);
  // Writes the header and every row, in pieces; returns the number of tags
  // whose values went to other_tags.
  std::uint64_t Write(ChunkSink& out) const;

 private:
  struct TagHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view tag) const noexcept { return std::hash<std::string_view>{}(tag); }
  };
  struct Cell {
    std::uint32_t column;  // the tag's, in m_tags
    TextSpan text;
    TextSpan raw;
    bool bText;  // written from raw, as text
  };
  struct Row {
    TextSpan fixed;
    TextSpan unparsed;
    std::size_t firstCell;
    std::size_t cellCount;
  };

  const std::size_t m_nMostTagColumns;
  const CellGuard m_guard;
  std::unordered_map<std::string, std::uint32_t, TagHash, std::equal_to<>> m_columnOfTag;
  std::vector<std::string> m_tags;              // every tag, in the order first met
  std::vector<std::uint64_t> m_schedulesOfTag;  // the schedules holding each
  std::string m_text;
  std::vector<Cell> m_cells;
  std::vector<Row> m_rows;
};
