// The tags of a table and what each does between rows and inside a row: one
// rule table, shared by the byte-at-a-time row reader (row_reader.h) and the
// windowed one (row_windows.cpp).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// ---- Tags of a table ----

enum class TableTag : std::uint8_t { kOther, kRowStart, kLineBreak, kCellStart, kRowEnd, kTableEnd, kCellEnd };

// What a tag beginning with the pattern does between rows and inside a row.
struct TableTagRule {
  std::string_view pattern;
  TableTag betweenRows;
  TableTag insideRow;
};

// "<TH" also matches a table head group tag, which then acts as a header cell
// tag does: between rows it starts a row, inside one it marks a cell. The cell
// patterns are those of m_strCellTag and m_strCellEndTag, written out because
// the header cell tags that share their rows have no field.
// clang-format off
inline constexpr TableTagRule kTableTagRules[] = {
    {"<TR", TableTag::kRowStart, TableTag::kOther},
    {"<TH", TableTag::kRowStart, TableTag::kCellStart},
    {"<TD", TableTag::kOther, TableTag::kCellStart},
    {"<BR", TableTag::kOther, TableTag::kLineBreak},
    {"</TD", TableTag::kOther, TableTag::kCellEnd},
    {"</TH", TableTag::kOther, TableTag::kCellEnd},
    {"</TR", TableTag::kOther, TableTag::kRowEnd},
    {"</TABL", TableTag::kTableEnd, TableTag::kTableEnd},
};
// clang-format on

// No pattern begins another, so a tag matches one rule at most and the order of
// the rows does not matter. Every pattern is three bytes or more and begins with
// '<', as every tag does, so its second and third bytes rule out most rules
// before the rest is compared.
static_assert([] {
  for (const auto& a : kTableTagRules) {
    if (a.pattern.size() < 3 || a.pattern[0] != '<') return false;
    for (const auto& b : kTableTagRules)
      if (&a != &b && a.pattern.starts_with(b.pattern)) return false;
  }
  return true;
}());

// Bit r is set in row b of kRulesBySecondByte when rule r's pattern has b as its
// second byte, and likewise for the third byte: a tag's two rows leave only the
// rules that can match it, none for most tags.
using RuleSet = std::uint8_t;
static_assert(std::size(kTableTagRules) <= 8 * sizeof(RuleSet));

constexpr std::array<RuleSet, 256> MakeRulesByByte(std::size_t nAt) {
  std::array<RuleSet, 256> rules{};
  for (std::size_t r = 0; r < std::size(kTableTagRules); ++r)
    rules[static_cast<unsigned char>(kTableTagRules[r].pattern[nAt])] |= static_cast<RuleSet>(1u << r);
  return rules;
}
inline constexpr auto kRulesBySecondByte = MakeRulesByByte(1);
inline constexpr auto kRulesByThirdByte = MakeRulesByByte(2);

// The rules left by the two rows agree with the tag in its second and third bytes,
// and every pattern and tag begins with '<': the bytes after those decide.
[[gnu::always_inline]] inline const TableTagRule* FindTableTagRule(std::string_view tag) {
  if (tag.size() < 3) return nullptr;
  unsigned nRules =
      kRulesBySecondByte[static_cast<unsigned char>(tag[1])] & kRulesByThirdByte[static_cast<unsigned char>(tag[2])];
  for (; nRules != 0; nRules &= nRules - 1) {
    const TableTagRule& rule = kTableTagRules[__builtin_ctz(nRules)];
    if (tag.size() < rule.pattern.size()) continue;
    std::size_t k = 3;
    while (k < rule.pattern.size() && tag[k] == rule.pattern[k]) ++k;
    if (k == rule.pattern.size()) return &rule;
  }
  return nullptr;
}

// A fourth table for the rules whose patterns reach a fourth byte; the shorter
// patterns stand in every row. The three tables leave one rule at most for any
// tag of three bytes or more: two rules always differ in a byte that both have
// among the second, third and fourth.
constexpr std::array<RuleSet, 256> MakeRulesByFourthByte() {
  std::array<RuleSet, 256> rules{};
  for (std::size_t r = 0; r < std::size(kTableTagRules); ++r) {
    const std::string_view pattern = kTableTagRules[r].pattern;
    for (std::size_t b = 0; b < 256; ++b)
      if (pattern.size() < 4 || static_cast<unsigned char>(pattern[3]) == b) rules[b] |= static_cast<RuleSet>(1u << r);
  }
  return rules;
}
inline constexpr auto kRulesByFourthByte = MakeRulesByFourthByte();
static_assert([] {
  for (const auto& a : kTableTagRules)
    for (const auto& b : kTableTagRules) {
      if (&a == &b) continue;
      const std::size_t nShared = std::min<std::size_t>(std::min(a.pattern.size(), b.pattern.size()), 4);
      bool bDiffer = false;
      for (std::size_t k = 1; k < nShared; ++k) bDiffer = bDiffer || a.pattern[k] != b.pattern[k];
      if (!bDiffer) return false;
    }
  return true;
}());

// The rule of the tag of nSize >= 3 bytes at p, as FindTableTagRule finds it;
// p[3] may be read (it is the tag's '>' when nSize is 3).
[[gnu::always_inline]] inline const TableTagRule* FindTableTagRuleAt(const unsigned char* p, std::uint32_t nSize) {
  const unsigned nRules = kRulesBySecondByte[p[1]] & kRulesByThirdByte[p[2]] & kRulesByFourthByte[p[3]];
  if (nRules == 0) return nullptr;
  const TableTagRule& rule = kTableTagRules[__builtin_ctz(nRules)];
  if (nSize < rule.pattern.size()) return nullptr;
  for (std::size_t k = 4; k < rule.pattern.size(); ++k)
    if (p[k] != static_cast<unsigned char>(rule.pattern[k])) return nullptr;
  return &rule;
}

[[gnu::always_inline]] inline TableTag TagBetweenRowsAt(const unsigned char* p, std::uint32_t nSize) {
  const TableTagRule* const rule = FindTableTagRuleAt(p, nSize);
  return rule ? rule->betweenRows : TableTag::kOther;
}

[[gnu::always_inline]] inline TableTag TagInsideRowAt(const unsigned char* p, std::uint32_t nSize) {
  const TableTagRule* const rule = FindTableTagRuleAt(p, nSize);
  return rule ? rule->insideRow : TableTag::kOther;
}

[[gnu::always_inline]] inline TableTag TagBetweenRows(std::string_view tag) {
  const TableTagRule* const rule = FindTableTagRule(tag);
  return rule ? rule->betweenRows : TableTag::kOther;
}

[[gnu::always_inline]] inline TableTag TagInsideRow(std::string_view tag) {
  const TableTagRule* const rule = FindTableTagRule(tag);
  return rule ? rule->insideRow : TableTag::kOther;
}
