// The table of output-naming cases that the tool's tests and the Python
// package's tests share (tests/data/naming/output_names.tsv).
#pragma once

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.h"

namespace quorlix_test {

struct NamingCase {
  std::string command;
  std::string input;                 // below the folder named
  std::vector<std::string> outputs;  // below the output folder
};

inline std::vector<NamingCase> ReadNamingCases() {
  const auto path = DataDir() / "naming/output_names.tsv";
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot read " + path.string());
  std::vector<NamingCase> cases;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line.starts_with('#')) continue;
    NamingCase row;
    std::istringstream fields(line);
    std::string outputs;
    if (!std::getline(fields, row.command, '\t') || !std::getline(fields, row.input, '\t'))
      throw std::runtime_error("a line of " + path.string() + " lacks a field: " + line);
    std::getline(fields, outputs, '\t');
    std::istringstream names(outputs);
    for (std::string name; std::getline(names, name, ';');) row.outputs.push_back(name);
    cases.push_back(std::move(row));
  }
  return cases;
}

}  // namespace quorlix_test
