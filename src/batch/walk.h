// The inputs of a batch, gathered in input order before any work starts: files
// named, the files of folders walked recursively, and listed paths.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "quorlix_batch.h"

namespace batch {

// A path below the output folder without empty or "." components.
std::string MirroredPath(std::string_view relative);
// The folder part of a path: "." for a bare name, "/" for a name at the top.
std::string FolderOf(std::string_view path);
// folder + '/' + name, without a second '/' when folder ends in one.
std::string JoinPath(std::string_view folder, std::string_view name);

// Why an input is passed over instead of converted.
enum class InputSkip : std::uint8_t {
  kNone,
  kInsideOutput,  // found below the output folder: an output of this or an earlier batch
  kNotAPage,      // found in a folder walked for pages, and its suffix is no page's
  kNotAFiling,    // found in a folder walked for filings, and it is no EDGAR submission
};

// Which files of a walked folder the conversion takes; the others are skipped.
// Files named directly or listed are taken all the same.
enum class WalkFilter : std::uint8_t {
  kEveryFile,
  kPages,        // names ending in ".htm" or ".html", as the HTML conversion accepts them
  kSubmissions,  // EDGAR submissions (quorlix_is_filing)
};

// One input. Its path lives in the list's shared text, so an input costs this
// record beyond its path. The collector fills the first part; the run fills the
// outcome.
struct Input {
  std::uint64_t pathOffset = 0;
  std::uint32_t pathLength = 0;
  std::uint32_t relStart = 0;  // where the part mirrored below the output folder begins
  // The outcome, written by the worker that takes the input.
  std::uint64_t bytesIn = 0;
  float seconds = 0;
  std::int32_t status = 0;
  InputSkip skip = InputSkip::kNone;
  bool outputsPresent = false;
  std::uint8_t note = QUORLIX_BATCH_NOTE_NONE;  // what the batch found about a failure
  std::uint8_t noteOutput = 0;
};
static_assert(sizeof(Input) <= 40, "an input's record stays small: a batch may hold millions");

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
  const char* const* named = nullptr;  // files and folders
  std::size_t namedCount = 0;
  quorlix_batch_next_listed nextListed = nullptr;  // listed paths, or null
  void* listedContext = nullptr;
  std::string_view outDir;  // inputs found below it are skipped; may be empty
  WalkFilter walkFilter = WalkFilter::kEveryFile;
};

// Why inputs were refused: reason is a QUORLIX_BATCH_REFUSED_*, or 0.
struct Refusal {
  int reason = 0;
  std::string input;
  std::string input2;
  std::string output;
};

// Collects the inputs into list, in input order: the named ones first, then the
// listed paths.
//  - A named file is mirrored as its name alone; a named folder is walked
//    depth-first with names in byte order, and a file in it is mirrored as its
//    path below the folder. Links to files are followed; links to folders below
//    the top are not, so a walk always ends. A file the walk filter does not
//    take is marked skipped.
//  - A listed path is mirrored as given, a leading '/' dropped. A listed folder is
//    passed over (find prints folders too); a path with a ".." component is refused.
Refusal CollectInputs(const InputSources& sources, InputList& list);

}  // namespace batch
