// Helpers of the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorlix_fuzz {

// A folder of this process's own for the files of one input, made on first use.
const std::string& WorkDir();
// Writes bytes to a file in WorkDir() and returns its path.
std::string WriteWorkFile(std::string_view strName, const void* pData, std::size_t nSize);
// The whole file, or an empty string when it does not exist.
std::string ReadWorkFile(const std::string& strPath);

// Prints the input as \x escapes and aborts: the fuzzer keeps the input as a crash.
[[noreturn]] void FailWithInput(const char* pszWhat, const std::uint8_t* pData, std::size_t nSize);

}  // namespace quorlix_fuzz
