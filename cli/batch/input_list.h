// The inputs of a batch as the tool names them: files and folders on the command
// line and the paths read from lists (-T). The library walks and checks them
// (quorlix_batch.h); the tool reads the lists and says what is wrong.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "quorlix_batch.h"

// Where a batch's inputs come from.
struct InputSources {
  const std::vector<std::string>& named;      // files and folders named on the command line
  const std::vector<std::string>& listFiles;  // files of paths ("-" for standard input)
  bool nullSeparated = false;                 // the lists are NUL-separated, else one path a line
  std::string_view outDir;                    // inputs found below it are skipped; may be empty
};

// Reads the lists' paths one after the other for the library
// (quorlix_batch_settings.next_listed), and keeps what went wrong.
class ListReader {
 public:
  ListReader(const std::vector<std::string>& listFiles, bool nullSeparated)
      : m_listFiles(listFiles), m_nullSeparated(nullSeparated) {}
  ~ListReader();
  ListReader(const ListReader&) = delete;
  ListReader& operator=(const ListReader&) = delete;

  // The library's callback; context is the reader. Null without lists.
  quorlix_batch_next_listed Callback() const { return m_listFiles.empty() ? nullptr : &Next; }
  const std::string& Problem() const { return m_problem; }

 private:
  static int Next(void* context, const char** path, std::size_t* length);
  int Read(const char** path, std::size_t* length);

  const std::vector<std::string>& m_listFiles;
  const bool m_nullSeparated;
  std::size_t m_nextList = 0;
  std::FILE* m_file = nullptr;
  char* m_line = nullptr;
  std::size_t m_capacity = 0;
  std::string m_problem;
};

// The command line's problem with the inputs before they are looked at, or "".
std::string CheckInputSources(const InputSources& sources);

// The words for a refusal of the inputs (no inputs, a listed path with "..", a
// list that cannot be read); "" for another reason.
std::string InputRefusalWords(const quorlix_batch_refusal& refusal, const ListReader& reader);
