#include "verify_mismatch.h"

#include <fcntl.h>
#include <magic.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "status_messages.h"

namespace {

// ---- What each suffix's check wants ----

// How a check is explained: by the bytes it looks at, by the CR LF pairs of a
// text, or by the HTML tags of a page. kAnything never fails.
enum class Want { kAnything, kBytes, kCrLf, kHtmlTag };

struct SuffixCheck {
  std::string_view suffix;
  Want want;
  std::uint32_t nOffset;  // kBytes: the bytes shown as found
  std::uint32_t nLength;
  std::string_view failure;  // what the check wanted, said as what the file lacks
  bool showsBytes;           // the bytes found follow; else only the file's length counts
};

// The verification's own suffixes, in its order (the first whose letters end
// the path decides), with its checks in words. The tests hold one agreeing and
// one disagreeing file for each row against the export.
constexpr SuffixCheck kSuffixChecks[] = {
    {".bmp", Want::kBytes, 0, 2, R"(does not begin with "BM" or "IC")", true},
    {".gif", Want::kBytes, 0, 3, R"(does not begin with "GIF" (in any case))", true},
    {".jpg", Want::kBytes, 6, 5, R"(bytes 6-10 are not "JFIF" (in any case) and a NUL)", true},
    {".pcx", Want::kBytes, 0, 1, "does not begin with the byte 0x0A", true},
    {".tif", Want::kBytes, 0, 2, R"(does not begin with "II" or "MM")", true},
    {".wmf", Want::kBytes, 0, 4,
     "does not begin with the placeable-metafile key D7 CD C6 9A, nor with 01 00 or 02 00 (a metafile in memory or on "
     "disk)",
     true},
    {".pct", Want::kAnything, 0, 0, "", false},
    {".ico", Want::kBytes, 0, 4, "is shorter than 4 bytes", false},
    {".mid", Want::kBytes, 0, 4, "is shorter than 4 bytes", false},
    {".wav", Want::kBytes, 8, 3, R"(bytes 8-10 are not "WAV" or "AVI" (in any case))", true},
    {".ra", Want::kBytes, 0, 4, "is shorter than 4 bytes", false},
    {".avi", Want::kBytes, 8, 3, R"(bytes 8-10 are not "AVI" or "WAV" (in any case))", true},
    {".mov", Want::kBytes, 0, 4, "is shorter than 4 bytes", false},
    {".mpg", Want::kBytes, 0, 4, "is shorter than 4 bytes", false},
    {".txt", Want::kCrLf, 0, 0, "", false},
    {".htm", Want::kHtmlTag, 0, 0, "", false},
    {".html", Want::kHtmlTag, 0, 0, "", false},
};
static_assert(std::size(kSuffixChecks) == 17);

constexpr char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool EndsWithIgnoringCase(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && std::ranges::equal(text.substr(text.size() - end.size()), end, {}, LowerAscii);
}

const SuffixCheck* FindCheck(std::string_view path) {
  const auto* row = std::ranges::find_if(
      kSuffixChecks, [&](const SuffixCheck& check) { return EndsWithIgnoringCase(path, check.suffix); });
  return row == std::end(kSuffixChecks) ? nullptr : row;
}

// ---- The words ----

// Bytes in double quotes, printable ASCII as it is and others as \xHH.
std::string QuoteBytes(std::string_view bytes) {
  constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string quoted = "\"";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
      quoted += c;
    } else {
      quoted += "\\x";
      quoted += kHexDigits[byte >> 4];
      quoted += kHexDigits[byte & 0xF];
    }
  }
  return quoted + '"';
}

std::string CountOf(std::uint64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + ' ' + std::string(count == 1 ? one : many);
}

std::string DescribeBytes(const SuffixCheck& check, std::string_view contents, std::uint64_t fileBytes) {
  std::string words(check.failure);
  if (fileBytes == 0) return words + "; the file is empty";
  if (!check.showsBytes || fileBytes < check.nOffset + check.nLength)
    return words + "; the file has " + CountOf(fileBytes, "byte", "bytes");
  return words + " but " + QuoteBytes(contents.substr(check.nOffset, check.nLength));
}

// What the text checks look for in a file, gathered block by block, so that
// the tool's memory does not grow with the file.
class TextFacts {
 public:
  void Take(std::string_view block) {
    if (block.empty()) return;
    // A pair may straddle two blocks: the CR that ended the last one counts.
    if (!firstPair) {
      if (m_lastByte == '\r' && block.front() == '\n') firstPair = bytes - 1;
      else if (const std::size_t pair = block.find("\r\n"); pair != std::string_view::npos) firstPair = bytes + pair;
    }
    const auto takeLineEnds = [&](char end, std::uint64_t& count, std::optional<std::uint64_t>& first) {
      count += static_cast<std::uint64_t>(std::ranges::count(block, end));
      if (first) return;
      if (const std::size_t at = block.find(end); at != std::string_view::npos) first = bytes + at;
    };
    takeLineEnds('\n', lfs, firstLf);
    takeLineEnds('\r', crs, firstCr);
    m_lastByte = block.back();
    TakeTags(block);
    bytes += block.size();
  }

  std::uint64_t bytes = 0;
  std::uint64_t lfs = 0;
  std::uint64_t crs = 0;
  std::optional<std::uint64_t> firstLf, firstCr, firstPair;
  bool upperHtml = false;   // a tag begins "<HTML"
  std::string anyCaseHtml;  // the first tag that begins "<html" in any case, as written

 private:
  // Tags run from '<' to the next '>' (a '<' inside a tag starts no new one); a
  // '<' that no '>' closes is no tag, and no later one is.
  void TakeTags(std::string_view block) {
    for (std::size_t pos = 0; pos < block.size();) {
      if (!m_inTag) {
        const std::size_t open = block.find('<', pos);
        if (open == std::string_view::npos) return;
        m_inTag = true;
        m_tagStart[0] = '<';
        m_tagStartBytes = 1;
        pos = open + 1;
      }
      const std::size_t close = block.find('>', pos);
      const std::size_t end = std::min(close, block.size());
      for (std::size_t i = pos; i < end && m_tagStartBytes < m_tagStart.size(); ++i)
        m_tagStart[m_tagStartBytes++] = block[i];
      if (close == std::string_view::npos) return;
      const std::string_view start(m_tagStart.data(), m_tagStartBytes);
      if (start == "<HTML") upperHtml = true;
      if (anyCaseHtml.empty() && std::ranges::equal(start, std::string_view("<html"), {}, LowerAscii))
        anyCaseHtml = start;
      m_inTag = false;
      pos = close + 1;
    }
  }

  char m_lastByte = 0;
  bool m_inTag = false;
  std::array<char, 5> m_tagStart{};  // the open tag's first bytes, '<' first
  std::size_t m_tagStartBytes = 0;
};

std::string DescribeText(const TextFacts& facts) {
  if (facts.bytes == 0) return "no CR LF pair; the file is empty";
  // The export found none in the same bytes, so it could not read them all.
  if (facts.firstPair)
    return "the check found no CR LF pair, but one is at byte " + std::to_string(*facts.firstPair) +
           "; it could not read the file whole (not enough memory)";
  const std::string words = "no CR LF pair in " + CountOf(facts.bytes, "byte", "bytes");
  // With no pair, every LF and every CR ends a line alone.
  if (facts.lfs)
    return words + "; " + CountOf(facts.lfs, "line ends", "lines end") + " in LF alone, the first at byte " +
           std::to_string(*facts.firstLf);
  if (facts.crs)
    return words + "; " + CountOf(facts.crs, "line ends", "lines end") + " in CR alone, the first at byte " +
           std::to_string(*facts.firstCr);
  return words + "; it has no line ends";
}

std::string DescribePage(const TextFacts& facts) {
  if (facts.upperHtml)
    return R"(the check found no tag beginning "<HTML", but the file has one; it could not read the file whole )"
           "(not enough memory)";
  const std::string words = R"(no tag beginning "<HTML" (upper case))";
  if (facts.anyCaseHtml.empty()) return words + "; none begins \"<html\" in any case either";
  return words + "; it writes " + QuoteBytes(facts.anyCaseHtml);
}

// ---- libmagic, one database per thread ----

class MagicDatabase {
 public:
  MagicDatabase() : m_cookie(::magic_open(MAGIC_NONE)) {
    if (m_cookie && ::magic_load(m_cookie, nullptr) != 0) {
      ::magic_close(m_cookie);
      m_cookie = nullptr;
    }
  }
  ~MagicDatabase() {
    if (m_cookie) ::magic_close(m_cookie);
  }
  MagicDatabase(const MagicDatabase&) = delete;
  MagicDatabase& operator=(const MagicDatabase&) = delete;

  std::string Describe(std::span<const unsigned char> head) const {
    if (!m_cookie) return {};
    const char* words = ::magic_buffer(m_cookie, head.data(), head.size());
    return words ? OneLine(words) : std::string();
  }

 private:
  magic_t m_cookie;
};

// Reads the file's first kMismatchHeadBytes into head, and when facts is not
// null every block of it on to its end into facts (in blocks of that size, so
// memory stays one block). fileBytes gets the file's length. False when it
// cannot be opened or read.
bool ReadFile(const char* path, std::string& head, TextFacts* facts, std::uint64_t& fileBytes) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string block(kMismatchHeadBytes, '\0');
  bool ok = true;
  fileBytes = 0;
  for (;;) {
    const ssize_t got = ::read(fd, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    ok = got >= 0;
    if (got <= 0) break;
    const std::string_view bytes(block.data(), static_cast<std::size_t>(got));
    if (head.size() < kMismatchHeadBytes) head += bytes.substr(0, kMismatchHeadBytes - head.size());
    fileBytes += bytes.size();
    if (facts) {
      facts->Take(bytes);
    } else if (head.size() == kMismatchHeadBytes) {
      // Past the bytes kept: only the size is wanted.
      const off_t end = ::lseek(fd, 0, SEEK_END);
      if (end > 0 && static_cast<std::uint64_t>(end) > fileBytes) fileBytes = static_cast<std::uint64_t>(end);
      break;
    }
  }
  ::close(fd);
  return ok;
}

// The words for a mismatch of check, from the file's head and, for the text
// types, the facts of the whole file.
std::string Describe(const SuffixCheck& check, std::string_view head, const TextFacts& facts, std::uint64_t fileBytes) {
  switch (check.want) {
    case Want::kAnything: return {};
    case Want::kBytes: return DescribeBytes(check, head, fileBytes);
    case Want::kCrLf: return DescribeText(facts);
    case Want::kHtmlTag: return DescribePage(facts);
  }
  return {};
}

std::span<const unsigned char> BytesOf(std::string_view text) {
  return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

}  // namespace

bool ChecksWholeFile(std::string_view path) {
  const SuffixCheck* check = FindCheck(path);
  return check && (check->want == Want::kCrLf || check->want == Want::kHtmlTag);
}

std::string DescribeMismatch(std::string_view path, std::span<const unsigned char> contents, std::uint64_t fileBytes) {
  const SuffixCheck* check = FindCheck(path);
  if (!check) return {};
  const std::string_view text(reinterpret_cast<const char*>(contents.data()), contents.size());
  TextFacts facts;
  facts.Take(text);
  return Describe(*check, text, facts, fileBytes);
}

std::string DescribeLooks(std::span<const unsigned char> head) {
  thread_local const MagicDatabase database;
  return database.Describe(head.first(std::min(head.size(), kMismatchHeadBytes)));
}

FailureNote ExplainMismatch(const char* path) {
  const SuffixCheck* check = FindCheck(path);
  std::string head;
  TextFacts facts;
  std::uint64_t fileBytes = 0;
  if (!ReadFile(path, head, ChecksWholeFile(path) ? &facts : nullptr, fileBytes)) return {};
  FailureNote note{check ? Describe(*check, head, facts, fileBytes) : std::string(), {}};
  if (fileBytes > 0) note.looksLike = DescribeLooks(BytesOf(head));
  return note;
}
