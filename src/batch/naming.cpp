#include "batch/naming.h"

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace batch {

std::string_view StemOf(std::string_view path) {
  const std::size_t nameStart = path.find_last_of('/') + 1;
  const std::size_t dot = path.find_last_of('.');
  const bool hasSuffix = dot != std::string_view::npos && dot > nameStart && dot + 1 < path.size();
  return hasSuffix ? path.substr(0, dot) : path;
}

OutputNames NameOutputs(OutputNaming naming, std::string_view outDir, std::string_view relPath) {
  if (naming == OutputNaming::kNone) return {};
  const std::string path = JoinPath(outDir, relPath.empty() ? std::string_view("unnamed") : relPath);
  OutputNames names;
  switch (naming) {
    case OutputNaming::kNone: break;  // returned above
    case OutputNaming::kSameName:
      names.paths[0] = path;
      names.count = 1;
      break;
    case OutputNaming::kText:
      names.paths[0] = std::string(StemOf(path)) + ".txt";
      names.count = 1;
      break;
    case OutputNaming::kTextAndSchedule: {
      const std::string_view stem = StemOf(path);
      names.paths[0] = std::string(stem) + ".txt";
      names.paths[1] = std::string(stem) + ".fds.txt";
      names.count = 2;
      break;
    }
  }
  return names;
}

// Only a hash and an index are held per output, so the check stays small; the
// names are made again for the rare equal hashes.
Refusal FindCollision(OutputNaming naming, std::string_view outDir, const InputList& list) {
  const auto& inputs = list.Inputs();
  const auto nameOf = [&](std::uint32_t key) {
    return NameOutputs(naming, outDir, list.RelativeOf(inputs[key / 2])).paths[key % 2];
  };
  std::vector<std::pair<std::uint64_t, std::uint32_t>> keys;  // hash, input * 2 + output
  for (std::uint32_t i = 0; i < inputs.size(); ++i) {
    if (inputs[i].skip != InputSkip::kNone) continue;
    const OutputNames names = NameOutputs(naming, outDir, list.RelativeOf(inputs[i]));
    for (int k = 0; k < names.count; ++k)
      keys.emplace_back(std::hash<std::string>{}(names.paths[k]), i * 2 + static_cast<std::uint32_t>(k));
  }
  std::ranges::sort(keys);
  for (std::size_t j = 1; j < keys.size(); ++j) {
    if (keys[j].first != keys[j - 1].first) continue;
    const std::string output = nameOf(keys[j - 1].second);
    if (output != nameOf(keys[j].second)) continue;
    return {QUORLIX_BATCH_REFUSED_COLLISION, std::string(list.PathOf(inputs[keys[j - 1].second / 2])),
            std::string(list.PathOf(inputs[keys[j].second / 2])), output};
  }
  return {};
}

}  // namespace batch
