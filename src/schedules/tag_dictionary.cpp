#include "schedules/tag_dictionary.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace {

// kTagEntries, from data/fds_tags.tsv.
#include "fds_tags.inc"

struct TagKey {
  std::string_view article;
  std::string_view tag;
  auto operator<=>(const TagKey&) const = default;
};

constexpr TagKey KeyOf(const TagEntry& entry) { return {entry.article, entry.tag}; }

constexpr auto kEntriesByKey = [] {
  std::array<TagEntry, std::size(kTagEntries)> entries{};
  std::ranges::copy(kTagEntries, entries.begin());
  std::ranges::sort(entries, {}, KeyOf);
  return entries;
}();
static_assert(std::ranges::adjacent_find(kEntriesByKey, {}, KeyOf) == kEntriesByKey.end(),
              "each article names a tag once");

constexpr auto kEntriesByTag = [] {
  std::array<TagEntry, std::size(kTagEntries)> entries{};
  std::ranges::copy(kTagEntries, entries.begin());
  std::ranges::sort(entries, {}, &TagEntry::tag);
  return entries;
}();

// A tag's kind decides a column's type in the table, whatever the article.
constexpr bool HasOneKindPerTag() {
  std::array<TagEntry, std::size(kTagEntries)> entries{};
  std::ranges::copy(kTagEntries, entries.begin());
  std::ranges::sort(entries, {}, &TagEntry::tag);
  for (std::size_t i = 1; i < entries.size(); ++i)
    if (entries[i].tag == entries[i - 1].tag && entries[i].kind != entries[i - 1].kind) return false;
  return true;
}
static_assert(HasOneKindPerTag(), "a tag has one kind in every article");

constexpr std::array<std::string_view, 9> kKindNames = {"stock", "flow",        "shares", "per-share", "ratio",
                                                        "date",  "period-type", "text",   "identifier"};
constexpr std::array<std::string_view, 6> kConceptNames = {"",          "revenue",    "net_income", "total_assets",
                                                           "eps_basic", "eps_diluted"};

char ToUpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::span<const TagEntry> TagEntries() { return kTagEntries; }

std::string NormalArticle(std::string_view article) {
  const std::size_t nFirst = article.find_first_not_of(" \t");
  if (nFirst == std::string_view::npos) return {};
  article = article.substr(nFirst, article.find_last_not_of(" \t") - nFirst + 1);
  const bool bDigits = std::ranges::all_of(article, [](char c) { return c >= '0' && c <= '9'; });
  if (bDigits) {
    const std::size_t nNonZero = article.find_first_not_of('0');
    article = nNonZero == std::string_view::npos ? article.substr(article.size() - 1) : article.substr(nNonZero);
  }
  std::string normal(article);
  std::ranges::transform(normal, normal.begin(), ToUpperAscii);
  return normal;
}

bool IsDictionaryTag(std::string_view tag) {
  return std::ranges::binary_search(kEntriesByTag, tag, {}, &TagEntry::tag);
}

const TagEntry* FindTagEntry(std::string_view article, std::string_view tag) {
  const auto it = std::ranges::lower_bound(kEntriesByKey, TagKey{article, tag}, {}, KeyOf);
  return it != kEntriesByKey.end() && it->article == article && it->tag == tag ? &*it : nullptr;
}

std::string_view KindName(TagKind kind) { return kKindNames[static_cast<std::size_t>(kind)]; }
std::string_view ConceptName(TagConcept tagConcept) { return kConceptNames[static_cast<std::size_t>(tagConcept)]; }
