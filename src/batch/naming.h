// The names of a batch's outputs: one rule for every conversion, written once.
// An input's outputs go below the output folder at the input's mirrored path,
// named by the conversion's form:
//   kSameName          the input's own name (crlf, delimited)
//   kText              <stem>.txt (html2text)
//   kTextAndSchedule   <stem>.txt and <stem>.fds.txt (decode-filing)
//   kNone              no outputs (verify)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "batch/walk.h"

namespace batch {

enum class OutputNaming : std::uint8_t { kNone, kSameName, kText, kTextAndSchedule };

struct OutputNames {
  std::string paths[2];
  int count = 0;
};

// A path without the suffix of its last component. The suffix runs from the
// name's last '.' when that dot is neither the name's first nor its last byte;
// otherwise the name has none: ".x" and "x." and "..." are stems, "..x" has the
// stem ".", "x..y" the stem "x.". Case is kept: "UP.TXT" has the stem "UP".
std::string_view StemOf(std::string_view path);

// The outputs of an input whose path below the output folder is relPath ("" for
// an input with no name of its own, which is then called "unnamed").
OutputNames NameOutputs(OutputNaming naming, std::string_view outDir, std::string_view relPath);

// Finds two inputs, other than those skipped, that would write the same output:
// a refusal naming them and the output, or none.
Refusal FindCollision(OutputNaming naming, std::string_view outDir, const InputList& list);

}  // namespace batch
