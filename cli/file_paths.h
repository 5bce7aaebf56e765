// The parts of a path, as the tool names folders and outputs.
#pragma once

#include <string>
#include <string_view>

// The folder part of a path: "." for a bare name, "/" for a name at the top.
std::string FolderOf(std::string_view path);
// folder + '/' + name, without a second '/' when folder ends in one.
std::string JoinPath(std::string_view folder, std::string_view name);
