// The panel of a Quorlix database: its schedules handed to the panel as the
// reader would have handed them, so the rows are those of the panel of the
// filings it holds, without reading a filing again.
#include "schedules/database_panel.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "schedules/database_file.h"
#include "schedules/schedule_panel.h"
#include "schedules/schedule_table.h"

namespace {

// Text as the table wrote it (UTF-8 from Windows-1252 filing bytes) back as the
// filing's bytes, so the panel writes it again as it was.
void AppendFilingBytes(std::string& out, std::string_view text) {
  static const std::unordered_map<char32_t, unsigned char> kByteOfCodePoint = [] {
    std::unordered_map<char32_t, unsigned char> map;
    for (unsigned b = 0x80; b <= 0xFF; ++b) map.emplace(CodePointOfFilingByte(static_cast<unsigned char>(b)), b);
    return map;
  }();
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t nLength = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (nLength == 1 || i + nLength > text.size()) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    char32_t codePoint = b & (0xFF >> (nLength + 1));
    for (std::size_t k = 1; k < nLength; ++k)
      codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    const auto it = kByteOfCodePoint.find(codePoint);
    if (it != kByteOfCodePoint.end()) out += static_cast<char>(it->second);
    else out.append(text.substr(i, nLength));
    i += nLength;
  }
}

class PieceWriter final : public ChunkSink {
 public:
  PieceWriter(QUORLIX_WRITE_FN write, void* pContext) : m_write(write), m_pContext(pContext) {}
  void TakeChunk(std::string& chunk) override {
    for (std::size_t nDone = 0; nDone < chunk.size() && !m_bFailed; nDone += kTablePieceBytes) {
      try {
        m_bFailed = m_write(m_pContext, chunk.data() + nDone, std::min(kTablePieceBytes, chunk.size() - nDone)) != 0;
      } catch (...) {
        m_bFailed = m_bThrew = true;
      }
    }
    chunk.clear();
  }
  bool Failed() const { return m_bFailed; }
  int FailedStatus() const { return m_bThrew ? QUORLIX_SCHEDULES_CALLBACK_FAILED : QUORLIX_SCHEDULES_OUTPUT_ERROR; }

 private:
  QUORLIX_WRITE_FN m_write;
  void* m_pContext;
  bool m_bFailed = false;
  bool m_bThrew = false;
};

// Each input's schedules, in the order they were stored, handed to the panel as
// the reader would have: a document per schedule, under its submission's header.
int FeedPanel(Database& db, std::int64_t nFormat, const TableSettings& settings, ChunkSink& out) {
  std::vector<std::string> paths;
  {
    Statement list(db.Get(), "SELECT path FROM inputs ORDER BY rowid");
    while (list.Step()) paths.emplace_back(list.Text(0));
  }
  std::vector<const char*> pathPointers;
  std::unordered_map<std::string_view, std::size_t> indexOfPath;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    pathPointers.push_back(paths[i].c_str());
    indexOfPath.emplace(paths[i], i);
  }
  PanelTable table(pathPointers.data(), settings.vintage, settings.guard, settings.nMostTagColumns);
  PanelSink sink;
  PanelInput part;
  SubmissionHeader header;
  ScheduleDocument document;
  std::string bytes;
  const auto keep = [&](std::string_view text) {
    bytes.clear();
    AppendFilingBytes(bytes, text);
    return document.Keep(bytes);
  };
  // The columns of schedules from path on, then a fact's tag, raw and cut mark (format 1 had none).
  Statement rows(db.Get(),
                 std::string("SELECT s.id, s.path, s.member, s.accession_number, s.cik, s.company, s.form_type, "
                             "s.filed, s.period, s.sic, s.fiscal_year_end, s.document, s.description, s.schedule, "
                             "s.article, s.series, s.series_name, s.flawed, s.complete, f.tag, f.raw, ") +
                     (nFormat >= 2 ? "f.cut" : "0") +
                     " FROM schedules s JOIN facts f ON f.schedule_id = s.id JOIN inputs i ON i.path = s.path ORDER "
                     "BY i.rowid, s.id, f.seq");
  std::int64_t nSchedule = -1;
  std::size_t nInput = SIZE_MAX;
  const auto endSchedule = [&] {
    if (nSchedule < 0) return;
    document.schedules.back().lineCount = document.lines.size() - document.schedules.back().firstLine;
    sink.TakeDocument(header, document);
  };
  const auto endInput = [&] {
    endSchedule();
    nSchedule = -1;
    if (nInput != SIZE_MAX) table.Merge(part, nInput);
  };
  while (rows.Step()) {
    const std::size_t nRowInput = indexOfPath.at(rows.Text(1));
    if (nRowInput != nInput) {
      endInput();
      nInput = nRowInput;
      sink.StartInput(part);
    }
    if (rows.Int(0) != nSchedule) {
      endSchedule();
      nSchedule = rows.Int(0);
      header.Clear();
      header.member = rows.Text(2);
      static constexpr HeaderField kFields[] = {kAccessionNumber, kCentralIndexKey, kCompanyName,  kFormType,
                                                kFiledDate,       kPeriodOfReport,  kIndustryCode, kFiscalYearEnd};
      for (std::size_t k = 0; k < std::size(kFields); ++k) {
        bytes.clear();
        AppendFilingBytes(bytes, rows.Text(static_cast<int>(k + 3)));
        header.fields[kFields[k]] = bytes;
        header.seen[kFields[k]] = true;
      }
      document.Clear();
      document.type = keep(rows.Text(11));
      document.hasDescription = !rows.IsNull(12);
      document.description = keep(rows.Text(12));
      document.flawed = rows.Int(17) != 0;
      document.complete = rows.Int(18) != 0;
      Schedule& schedule = document.schedules.emplace_back();
      schedule.number = static_cast<std::uint64_t>(rows.Int(13));
      schedule.article = keep(rows.Text(14));
      schedule.hasSeries = !rows.IsNull(15);
      schedule.series = keep(rows.Text(15));
      schedule.hasSeriesName = !rows.IsNull(16);
      schedule.seriesName = keep(rows.Text(16));
      schedule.firstLine = 0;
    }
    ScheduleLine& line = document.lines.emplace_back();
    line.tag = keep(rows.Text(19));
    line.raw = keep(rows.Text(20));
    line.lineEnded = rows.Int(21) == 0;
  }
  endInput();
  const std::uint64_t nOtherTags = table.Write(out);
  if (settings.pOtherTags) *settings.pOtherTags = nOtherTags;
  return QUORLIX_SCHEDULES_OK;
}

}  // namespace

int WritePanelOfDatabase(const char* pszDatabasePath, const TableSettings& settings, QUORLIX_WRITE_FN write,
                         void* pContext, QUORLIX_DATABASE_SUMMARY& summary) {
  return WithDatabaseProblem(summary, [&] {
    const std::string path(pszDatabasePath);
    if (!IsSqliteFile(path)) throw DatabaseRefused{QuotedFileName(path) + " is no SQLite database"};
    Database db(path, SQLITE_OPEN_READONLY);
    const std::int64_t nFormat = CheckQuorlixDatabase(db, path);
    db.Exec("BEGIN");  // one snapshot, while an update may be writing
    PieceWriter out(write, pContext);
    FeedPanel(db, nFormat, settings, out);
    return out.Failed() ? out.FailedStatus() : QUORLIX_SCHEDULES_OK;
  });
}
