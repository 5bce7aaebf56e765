#include "batch/batch_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "exit_codes.h"
#include "interrupts.h"
#include "output_file.h"
#include "quorlix.h"
#include "quorlix_schedules.h"

namespace {

// Why an input was passed over, in the words of its row and, where the user may
// not expect it, of a line on stderr. A walk's filter passes over the files the
// conversion does not take, which is what a walk is for: they get a row only.
struct SkipWords {
  InputSkip skip;
  std::string_view reason;
  bool told;
};
constexpr SkipWords kSkipWords[] = {
    {InputSkip::kInsideOutput, "inside the output folder", true},
    {InputSkip::kNotAPage, "not a page", false},
    {InputSkip::kNotAFiling, "not a filing", false},
    {InputSkip::kRepeated, "named more than once", false},
};

const SkipWords& WordsOf(InputSkip skip) {
  const auto* words = std::ranges::find(kSkipWords, skip, &SkipWords::skip);
  assert(words != std::end(kSkipWords));
  return *words;
}

// Text as valid UTF-8 (quorlix_name_as_text), quoted when CSV needs it.
std::string CsvField(std::string_view bytes) {
  std::string text(quorlix_name_as_text(bytes.data(), bytes.size(), nullptr, 0), '\0');
  quorlix_name_as_text(bytes.data(), bytes.size(), text.data(), text.size() + 1);
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

// Opens a file to write it from the start. Non-blocking first: a FIFO that no
// one reads is then an error at once (ENXIO) instead of a wait for ever; writes
// block again afterwards.
FILE* OpenForWriting(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  const int flags = ::fcntl(fd, F_GETFL);
  FILE* file = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? ::fdopen(fd, "wb") : nullptr;
  if (!file) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return file;
}

}  // namespace

std::string MeaningOf(Export which, const InputRow& row) {
  if (row.skip != InputSkip::kNone) return "skipped: " + std::string(WordsOf(row.skip).reason);
  if (row.upToDate) return "skipped: up to date";
  if (row.status == QUORLIX_OK) return "ok";
  const std::string_view out = row.outputs ? std::string_view(row.outputs->paths[0]) : std::string_view();
  const std::string_view out2 = row.outputs ? std::string_view(row.outputs->paths[1]) : std::string_view();
  const std::string_view detail = row.note ? std::string_view(row.note->detail) : std::string_view();
  return DescribeFailure(which, row.status, {row.path, out, out2, detail}, row.cause);
}

std::string ReportRowOf(const InputRow& row, std::string_view meaning, bool withLooksLike, bool withCounts) {
  std::string outputs;
  if (row.outputsPresent && row.outputs) {
    for (int k = 0; k < row.outputs->count; ++k) {
      if (k) outputs += ';';
      outputs += row.outputs->paths[k];
    }
  }
  const int status = row.skip == InputSkip::kNone && !row.upToDate ? row.status : QUORLIX_OK;
  const bool measured = row.skip == InputSkip::kNone || row.readBeforeSkipped;
  char bytes[24] = "";
  char seconds[24] = "";
  char counts[72] = ",,";
  if (measured) {
    std::snprintf(bytes, sizeof bytes, "%llu", static_cast<unsigned long long>(row.bytesIn));
    std::snprintf(seconds, sizeof seconds, "%.6f", row.seconds);
    if (row.counts)
      std::snprintf(counts, sizeof counts, "%llu,%llu,%llu", static_cast<unsigned long long>(row.counts->members),
                    static_cast<unsigned long long>(row.counts->schedules),
                    static_cast<unsigned long long>(row.counts->values));
  }
  return CsvField(row.path) + ',' + std::to_string(status) + ',' + CsvField(meaning) + ',' + CsvField(outputs) + ',' +
         bytes + ',' + seconds +
         (withLooksLike ? ',' + CsvField(row.note ? std::string_view(row.note->looksLike) : std::string_view()) : "") +
         (withCounts ? ',' + std::string(counts) : "") + "\r\n";
}

BatchReport::BatchReport(ReportSettings settings, std::size_t inputCount)
    : m_settings(std::move(settings)), m_progress(m_settings.showProgress, inputCount) {}

// Finish closes the report; this only for a batch that ended without it.
BatchReport::~BatchReport() {
  if (m_report && m_report != stdout) std::fclose(m_report);
}

bool BatchReport::Open() {
  if (m_settings.reportPath.empty()) return true;
  const OutputTarget target = m_settings.reportPath == "-" ? OutputTarget{OutputPlace::kStandardOutput, "-"}
                                                           : ResolveOutput(m_settings.reportPath);
  if (target.place == OutputPlace::kDanglingLink) {
    std::fprintf(stderr, "quorlix: cannot write the report: %s\n", DanglingLinkWords(m_settings.reportPath).c_str());
    return false;
  }
  // Through a link the file it names is written, so the link stays a link.
  m_report = target.place == OutputPlace::kStandardOutput ? stdout : OpenForWriting(target.path);
  if (!m_report) {
    const char* cause = errno == ENXIO ? "it is a FIFO that no one reads" : std::strerror(errno);
    std::fprintf(stderr, "quorlix: cannot write the report '%s': %s\n", EscapeName(m_settings.reportPath).c_str(),
                 cause);
    return false;
  }
  const std::string_view header = m_settings.which == Export::kVerify      ? kVerifyReportHeader
                                  : m_settings.which == Export::kSchedules ? kTableReportHeader
                                                                           : kReportHeader;
  std::fwrite(header.data(), 1, header.size(), m_report);
  return true;
}

// The first problem is the one told; errno says what it was.
void BatchReport::NoteReportProblem() {
  const int error = errno;
  if (m_writeProblem.empty())
    m_writeProblem = "cannot write the report '" + EscapeName(m_settings.reportPath) + "': " + std::strerror(error);
}

void BatchReport::NoteOutputProblem() {
  const int error = errno;
  if (m_writeProblem.empty()) m_writeProblem = std::string("cannot write to standard output: ") + std::strerror(error);
}

bool BatchReport::Add(const InputRow& row) {
  const bool verify = m_settings.which == Export::kVerify;
  const std::string meaning = MeaningOf(m_settings.which, row);
  if (row.skip != InputSkip::kNone) {
    const SkipWords& words = WordsOf(row.skip);
    if (words.told) {
      m_progress.Clear();
      std::fprintf(stderr, "quorlix: skipped '%s': %.*s\n", EscapeName(row.path).c_str(),
                   static_cast<int>(words.reason.size()), words.reason.data());
    }
    ++m_skipped;
    if (row.readBeforeSkipped) m_bytes += row.bytesIn;
  } else if (row.upToDate) {
    ++m_skipped;
  } else {
    m_bytes += row.bytesIn;
    // Lines on a terminal must not run into the progress line.
    if (verify) m_progress.Clear();
    if (row.status == QUORLIX_OK) {
      ++m_converted;
      if (verify && !m_settings.quiet) std::printf("%s: ok\n", EscapeName(row.path).c_str());
    } else {
      ++m_failed;
      if (m_firstFailure == QUORLIX_OK) m_firstFailure = row.status;
      if (verify) {
        const bool looks = row.note && !row.note->looksLike.empty();
        std::printf("%s: %s%s%s (status %d)\n", EscapeName(row.path).c_str(), meaning.c_str(),
                    looks ? "; looks like " : "", looks ? row.note->looksLike.c_str() : "", row.status);
      } else {
        m_progress.Clear();
        std::fprintf(stderr, "quorlix: %s (status %d)\n", meaning.c_str(), row.status);
      }
    }
    if (verify && std::ferror(stdout)) NoteOutputProblem();
  }
  const bool table = m_settings.which == Export::kSchedules;
  if (m_report && std::fputs(ReportRowOf(row, meaning, verify, table).c_str(), m_report) < 0) NoteReportProblem();
  return m_writeProblem.empty();
}

void BatchReport::PrintSummary() {
  const double elapsed = m_progress.ElapsedSeconds();
  const double rate = elapsed > 0 ? static_cast<double>(m_bytes) / (1024.0 * 1024.0) / elapsed : 0;
  std::string counts = m_summaryCounts;
  if (counts.empty())
    counts = std::to_string(m_converted) + (m_settings.which == Export::kVerify ? " agree, " : " converted, ") +
             std::to_string(m_failed) + " failed, " + std::to_string(m_skipped) + " skipped";
  if (m_keptEntries > 0) counts += ", " + std::to_string(m_keptEntries) + " .quorlix- entries kept";
  std::fprintf(stderr, "quorlix: %s, %llu bytes in %.2f s, %.1f MiB/s\n", counts.c_str(),
               static_cast<unsigned long long>(m_bytes), elapsed, rate);
}

int BatchReport::Finish(int signal) {
  m_progress.Draw(true);
  m_progress.Clear();
  if (m_report) {
    if (std::fflush(m_report) != 0 || std::ferror(m_report)) NoteReportProblem();
    if (m_report != stdout && std::fclose(m_report) != 0) NoteReportProblem();
    m_report = nullptr;
  }
  if (std::fflush(stdout) != 0) NoteOutputProblem();
  if (!m_settings.quiet && m_settings.showSummary) PrintSummary();
  if (!m_writeProblem.empty()) {
    std::fprintf(stderr, "quorlix: %s\n", m_writeProblem.c_str());
    return kExitIoError;
  }
  if (signal != 0) {
    std::fflush(stderr);
    EndBySignal(signal);
  }
  return m_firstFailure;
}
