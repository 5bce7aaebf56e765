// The search for a delimiter in the input, in time linear in the bytes searched
// whatever the delimiter: comparing the whole delimiter at every occurrence of its
// first byte costs the input's length times the delimiter's on a delimiter such as
// "aaa...ab" in a run of 'a'. Finds the first whole occurrence, as a plain
// comparison at every place would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class DelimiterSearch {
 public:
  // strDelim is not empty. Raises std::bad_alloc.
  explicit DelimiterSearch(std::string_view strDelim);

  // Delimiters longer than this are found by the C library's memmem where it is
  // known to be linear (glibc's two-way search, which it uses from this length on)
  // and a level above the portable one is in use. Shorter ones, the usual CR LF or comma, are
  // found faster by the search below, which memchr leads.
  static constexpr std::size_t kShortDelimiterBytes = 256;

  // The first whole occurrence of the delimiter in [pFrom, pTo), or nullptr.
  const unsigned char* Find(const unsigned char* pFrom, const unsigned char* pTo) const;
  // The same by a Knuth-Morris-Pratt scan, skipping with memchr to the next first
  // byte whenever nothing is matched.
  const unsigned char* FindPortable(const unsigned char* pFrom, const unsigned char* pTo) const;

  // True when two occurrences can overlap, as "aa" does in "aaa". Otherwise the
  // occurrences are the same whichever place a search starts from.
  bool CanOverlapItself() const { return m_border.back() != 0; }
  // The end of the last occurrence that Find, resumed after each one from pFrom,
  // meets in [pFrom, pTo), or nullptr. A delimiter that cannot overlap itself is
  // searched for near pTo first, so a block of many short records costs a few
  // searches rather than one per record.
  const unsigned char* FindEndOfLast(const unsigned char* pFrom, const unsigned char* pTo) const;

 private:
  std::string m_strDelim;
  // m_border[k]: the length of the longest proper prefix of the delimiter's first
  // k + 1 bytes that is also their suffix.
  std::vector<std::uint32_t> m_border;
};
