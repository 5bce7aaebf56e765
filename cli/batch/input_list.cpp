#include "batch/input_list.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "status_messages.h"

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
