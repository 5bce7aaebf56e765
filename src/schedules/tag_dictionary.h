// The tag dictionary: what each tag of each article of the Financial Data
// Schedules is (its kind, caption and concept), one table generated from
// data/fds_tags.tsv. The table's typing, scaling and the panel's concepts look
// tags up here; `quorlix tags` and the Python package print the same rows.
#pragma once

#include <span>
#include <string>
#include <string_view>

enum class TagKind : unsigned char {
  kStock,       // a balance at the period's end
  kFlow,        // an amount over the period
  kShares,      // a number of shares
  kPerShare,    // an amount per share
  kRatio,       // a rate, yield, percentage or factor
  kDate,        // MON-DD-YYYY
  kPeriodType,  // YEAR or n-MOS
  kText,        // words as written
  kIdentifier,  // a code that names something
};

enum class TagConcept : unsigned char { kNone, kRevenue, kNetIncome, kTotalAssets, kEpsBasic, kEpsDiluted };

struct TagEntry {
  std::string_view article;  // 5, 6, 7, 9, UT, BD
  std::string_view tag;      // in capitals, without brackets
  TagKind kind;
  std::string_view label;
  TagConcept tagConcept;
};

// Every row, in the data file's order (by article, then in a schedule's order).
std::span<const TagEntry> TagEntries();

// True when some article of the dictionary holds tag.
bool IsDictionaryTag(std::string_view tag);

// The row of tag in an article as NormalArticle writes it, or null.
const TagEntry* FindTagEntry(std::string_view article, std::string_view tag);

// The article as the dictionary writes it: capitals, no leading zeros ("05" is
// "5", "ut" is "UT"); empty when article is empty.
std::string NormalArticle(std::string_view article);

// Stocks, flows and shares are amounts the MULTIPLIER scales; the other kinds are not.
constexpr bool IsScaledKind(TagKind kind) {
  return kind == TagKind::kStock || kind == TagKind::kFlow || kind == TagKind::kShares;
}
// Kinds whose values are numbers.
constexpr bool IsNumberKind(TagKind kind) { return kind <= TagKind::kRatio; }

std::string_view KindName(TagKind kind);
std::string_view ConceptName(TagConcept tagConcept);
