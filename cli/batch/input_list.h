// The inputs of a batch as the tool names them: files and folders on the command
// line and the paths read from lists (-T). The library walks and checks them
// (quorlix_batch.h); the tool reads the lists and says what is wrong.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "quorlix_batch.h"

// Why an input is passed over instead of converted.
enum class InputSkip : std::uint8_t {
  kNone,
  kInsideOutput,  // found below the output folder: an output of this or an earlier batch
  kNotAPage,      // found in a folder walked for pages, and its suffix is no page's
  kNotAFiling,    // found in a folder walked for filings, and it is no EDGAR submission (or, for the
                  // schedules' table, read and found to hold none)
  kRepeated,      // names the file of an earlier input, which the schedules' table reads once
};

// Which files of a walked folder the conversion takes; the others are skipped.
// Files named directly or listed are taken all the same.
enum class WalkFilter : std::uint8_t {
  kEveryFile,
  kPages,        // names ending in ".htm" or ".html", as the HTML conversion accepts them
  kSubmissions,  // EDGAR submissions (quorlix_is_filing)
};

// One input. Its path lives in the list's shared text.
struct Input {
  std::uint64_t pathOffset = 0;
  std::uint32_t pathLength = 0;
  std::uint32_t relStart = 0;  // where the part mirrored below the output folder begins
  InputSkip skip = InputSkip::kNone;
};

// The inputs of a run that reads them all at once (the schedules' table).
class InputList {
 public:
  std::string_view PathOf(const Input& input) const { return {m_text.data() + input.pathOffset, input.pathLength}; }
  // The same path, NUL-terminated for the exports.
  const char* CPathOf(const Input& input) const { return m_text.data() + input.pathOffset; }
  // The path below the output folder, without empty or "." components.
  std::string RelativeOf(const Input& input) const;

  void Add(std::string_view path, std::size_t relStart, InputSkip skip);
  // Gives back the room the list grew into; no input is added afterwards.
  void Seal();

  std::vector<Input>& Inputs() { return m_inputs; }
  const std::vector<Input>& Inputs() const { return m_inputs; }

 private:
  std::string m_text;
  std::vector<Input> m_inputs;
};

// Where a batch's inputs come from.
struct InputSources {
  const std::vector<std::string>& named;      // files and folders named on the command line
  const std::vector<std::string>& listFiles;  // files of paths ("-" for standard input)
  bool nullSeparated = false;                 // the lists are NUL-separated, else one path a line
  std::string_view outDir;                    // inputs found below it are skipped; may be empty
  WalkFilter walkFilter = WalkFilter::kEveryFile;
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

// Collects the inputs into list, in input order (the library's walk: the named
// ones first, then each list's paths). Returns the problem with the command line
// (the tool's usage error), or "".
std::string CollectInputs(const InputSources& sources, InputList& list);
