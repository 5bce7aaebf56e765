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
// Inside CheckLargeForm it prints the fuzzer's own input, from which the large
// form is made again, rather than megabytes.
[[noreturn]] void FailWithInput(const char* pszWhat, const std::uint8_t* pData, std::size_t nSize);

// ---- Large forms ----
// The fuzzer's inputs stay small (a few KiB) so that it mutates them quickly, but
// only large inputs reach reading in many blocks, the 64 KiB edges inside the
// library and the read-ahead thread (over 256 KiB). So an input also stands for
// a large form of itself: its first kRecipeBytes bytes are a recipe, the rest
// the material the large form is made of.
//   byte 0  the top two bits both set ask for a large form (one input in four
//           has one: a large form costs tens of milliseconds under the
//           sanitizers, a small input one or two); the layout (low two bits):
//           the material repeated end to end, the material at every edge in a
//           filler, or its two halves at the ends of a filler; the filler byte
//           (bits 2-4)
//   byte 1  the length: once or a few times an edge the library cuts at (64 KiB
//           less one, 64 KiB, 4 KiB); its last four values, a length past 1 MiB,
//           up to 4 MiB
//   byte 2  a signed offset added to the length, so that it falls on either
//           side of each threshold
//   byte 3  which byte of the material sits on each edge (or starts the repeat)
inline constexpr std::size_t kRecipeBytes = 4;
inline constexpr std::size_t kLargeFormMaxBytes = std::size_t{4} << 20;

// The large form of the input, at most nMaxBytes long; empty when the recipe
// asks for none or there is no material.
std::string MakeLargeForm(const std::uint8_t* pData, std::size_t nSize, std::size_t nMaxBytes = kLargeFormMaxBytes);

// Marks a large form being checked, for FailWithInput.
class LargeFormScope {
 public:
  LargeFormScope(const std::uint8_t* pData, std::size_t nSize, std::size_t nLargeSize) noexcept;
  ~LargeFormScope();
  LargeFormScope(const LargeFormScope&) = delete;
  LargeFormScope& operator=(const LargeFormScope&) = delete;
};

// Runs check(bytes, size), the target's own check of an input, on the input's
// large form when it has one: one line in a target,
//   quorlix_fuzz::CheckLargeForm(pData, nSize, CheckFiling);
template <typename Check>
void CheckLargeForm(const std::uint8_t* pData, std::size_t nSize, Check&& check,
                    std::size_t nMaxBytes = kLargeFormMaxBytes) {
  const std::string strLarge = MakeLargeForm(pData, nSize, nMaxBytes);
  if (strLarge.empty()) return;
  const LargeFormScope scope(pData, nSize, strLarge.size());
  check(reinterpret_cast<const std::uint8_t*>(strLarge.data()), strLarge.size());
}

}  // namespace quorlix_fuzz
