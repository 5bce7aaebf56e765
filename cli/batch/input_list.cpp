#include "batch/input_list.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ranges>

#include "status_messages.h"

// ---- The list ----

std::string InputList::RelativeOf(const Input& input) const {
  std::string rel;
  for (const auto component : std::views::split(PathOf(input).substr(input.relStart), '/')) {
    const std::string_view part(component.begin(), component.end());
    if (part.empty() || part == ".") continue;
    if (!rel.empty()) rel += '/';
    rel += part;
  }
  return rel;
}

void InputList::Add(std::string_view path, std::size_t relStart, InputSkip skip) {
  Input input;
  input.pathOffset = m_text.size();
  input.pathLength = static_cast<std::uint32_t>(path.size());
  input.relStart = static_cast<std::uint32_t>(relStart);
  input.skip = skip;
  m_text.append(path);
  m_text += '\0';
  m_inputs.push_back(input);
}

void InputList::Seal() {
  m_text.shrink_to_fit();
  m_inputs.shrink_to_fit();
}

// ---- The lists ----

ListReader::~ListReader() {
  if (m_file && m_file != stdin) std::fclose(m_file);
  std::free(m_line);
}

int ListReader::Next(void* context, const char** path, std::size_t* length) {
  return static_cast<ListReader*>(context)->Read(path, length);
}

// One path a line or NUL-separated, list after list.
int ListReader::Read(const char** path, std::size_t* length) {
  const char separator = m_nullSeparated ? '\0' : '\n';
  for (;;) {
    if (!m_file) {
      if (m_nextList == m_listFiles.size()) return 0;
      const std::string& listPath = m_listFiles[m_nextList];
      m_file = listPath == "-" ? stdin : std::fopen(listPath.c_str(), "rb");
      if (!m_file) {
        m_problem = "cannot read the list '" + EscapeName(listPath) + "': " + std::strerror(errno);
        return -1;
      }
    }
    const ssize_t got = ::getdelim(&m_line, &m_capacity, separator, m_file);
    if (got >= 0) {
      std::size_t size = static_cast<std::size_t>(got);
      if (size > 0 && m_line[size - 1] == separator) --size;
      *path = m_line;
      *length = size;
      return 1;
    }
    const bool failed = std::ferror(m_file);
    if (m_file != stdin) std::fclose(m_file);
    m_file = nullptr;
    if (failed) {
      m_problem = "cannot read the list '" + EscapeName(m_listFiles[m_nextList]) + "'";
      return -1;
    }
    ++m_nextList;
  }
}

std::string CheckInputSources(const InputSources& sources) {
  if (sources.nullSeparated && sources.listFiles.empty()) return "-0 needs -T";
  if (sources.named.empty() && sources.listFiles.empty()) return "no inputs: name files or folders, or -T FILE";
  for (const auto& path : sources.named)
    if (path == "-") return "'-' is no input in batch mode; -T - reads the inputs' paths from standard input";
  return {};
}

std::string InputRefusalWords(const quorlix_batch_refusal& refusal, const ListReader& reader) {
  switch (refusal.reason) {
    case QUORLIX_BATCH_REFUSED_NO_INPUTS: return "no inputs: name files or folders, or -T FILE";
    case QUORLIX_BATCH_REFUSED_DOT_DOT:
      return "the listed path '" + EscapeName(refusal.input) +
             "' has a '..' component, so its output would leave the output folder";
    case QUORLIX_BATCH_REFUSED_LIST: return reader.Problem();
    default: return {};
  }
}

// ---- Collecting ----

namespace {

int WalkOf(WalkFilter filter) {
  switch (filter) {
    case WalkFilter::kPages: return QUORLIX_BATCH_WALK_PAGES;
    case WalkFilter::kSubmissions: return QUORLIX_BATCH_WALK_FILINGS;
    default: return QUORLIX_BATCH_WALK_EVERY_FILE;
  }
}

struct Collecting {
  InputList& list;
  const ListReader& reader;
  std::string problem;
};

int AddRow(void* context, const quorlix_batch_row* row) {
  auto& collecting = *static_cast<Collecting*>(context);
  collecting.list.Add(row->input, row->relative_start, static_cast<InputSkip>(row->skip));
  return 0;
}

void Refused(void* context, const quorlix_batch_refusal* refusal) {
  auto& collecting = *static_cast<Collecting*>(context);
  collecting.problem = InputRefusalWords(*refusal, collecting.reader);
}

}  // namespace

std::string CollectInputs(const InputSources& sources, InputList& list) {
  if (std::string problem = CheckInputSources(sources); !problem.empty()) return problem;
  std::vector<const char*> named;
  named.reserve(sources.named.size());
  for (const auto& path : sources.named) named.push_back(path.c_str());
  const std::string outDir(sources.outDir);
  ListReader reader(sources.listFiles, sources.nullSeparated);
  quorlix_batch_settings settings{};
  settings.conversion.which = QUORLIX_BATCH_LIST;
  settings.named = named.data();
  settings.named_count = named.size();
  settings.next_listed = reader.Callback();
  settings.listed_context = &reader;
  settings.out_dir = outDir.empty() ? nullptr : outDir.c_str();
  settings.walk = WalkOf(sources.walkFilter);
  Collecting collecting{list, reader, {}};
  quorlix_batch_callbacks callbacks{};
  callbacks.context = &collecting;
  callbacks.row = AddRow;
  callbacks.refused = Refused;
  const int result = quorlix_run_batch(&settings, &callbacks, nullptr);
  if (result == QUORLIX_BATCH_NO_MEMORY) throw std::bad_alloc();
  if (result != QUORLIX_BATCH_DONE) return collecting.problem;
  list.Seal();
  return {};
}
