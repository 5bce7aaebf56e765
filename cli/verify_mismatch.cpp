#include "verify_mismatch.h"

#include <fcntl.h>
#include <magic.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

std::string DescribeText(std::string_view text) {
  if (text.empty()) return "no CR LF pair; the file is empty";
  const std::size_t pair = text.find("\r\n");
  // The export found none in the same bytes, so it could not hold them all.
  if (pair != std::string_view::npos)
    return "the check found no CR LF pair, but one is at byte " + std::to_string(pair) +
           "; it could not read the file whole (not enough memory)";
  const std::string words = "no CR LF pair in " + CountOf(text.size(), "byte", "bytes");
  const auto lineEnds = [&](char c) { return static_cast<std::uint64_t>(std::ranges::count(text, c)); };
  if (const std::uint64_t lfs = lineEnds('\n'))
    return words + "; " + CountOf(lfs, "line ends", "lines end") + " in LF alone";
  if (const std::uint64_t crs = lineEnds('\r'))
    return words + "; " + CountOf(crs, "line ends", "lines end") + " in CR alone";
  return words + "; it has no line ends";
}

// The first tag, '<' to the next '>', whose first five bytes are `want` (in any
// case when ignoreCase); a '<' that no '>' closes is no tag, and no later one is.
std::string_view FindTag(std::string_view page, std::string_view want, bool ignoreCase) {
  for (std::size_t pos = 0;;) {
    const std::size_t open = page.find('<', pos);
    if (open == std::string_view::npos) return {};
    const std::size_t close = page.find('>', open + 1);
    if (close == std::string_view::npos) return {};
    const std::string_view start = page.substr(open, std::min(close - open, want.size()));
    if (ignoreCase ? std::ranges::equal(start, want, {}, LowerAscii, LowerAscii) : start == want) return start;
    pos = close + 1;
  }
}

std::string DescribePage(std::string_view page) {
  if (!FindTag(page, "<HTML", false).empty())
    return R"(the check found no tag beginning "<HTML", but the file has one; it could not read the file whole )"
           "(not enough memory)";
  const std::string words = R"(no tag beginning "<HTML" (upper case))";
  const std::string_view lower = FindTag(page, "<html", true);
  if (lower.empty()) return words + "; none begins \"<html\" in any case either";
  return words + "; it writes " + QuoteBytes(lower);
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

// Reads the file's first maxBytes; false when it cannot be opened or read.
bool ReadHead(const char* path, std::size_t maxBytes, std::string& contents, std::uint64_t& fileBytes) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  constexpr std::size_t kChunkBytes = 64 * 1024;
  bool ok = true;
  fileBytes = 0;
  for (;;) {
    if (contents.size() < maxBytes) {
      const std::size_t want = std::min(kChunkBytes, maxBytes - contents.size());
      const std::size_t have = contents.size();
      contents.resize(have + want);
      const ssize_t got = ::read(fd, contents.data() + have, want);
      if (got < 0 && errno == EINTR) {
        contents.resize(have);
        continue;
      }
      contents.resize(have + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
      ok = got >= 0;
      if (got <= 0) break;
      fileBytes += static_cast<std::uint64_t>(got);
    } else {
      // Past the bytes kept: only the size is wanted.
      const off_t end = ::lseek(fd, 0, SEEK_END);
      if (end > 0 && static_cast<std::uint64_t>(end) > fileBytes) fileBytes = static_cast<std::uint64_t>(end);
      break;
    }
  }
  ::close(fd);
  return ok;
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
  switch (check->want) {
    case Want::kAnything: return {};
    case Want::kBytes: return DescribeBytes(*check, text, fileBytes);
    case Want::kCrLf: return DescribeText(text);
    case Want::kHtmlTag: return DescribePage(text);
  }
  return {};
}

std::string DescribeLooks(std::span<const unsigned char> head) {
  thread_local const MagicDatabase database;
  return database.Describe(head.first(std::min(head.size(), kMismatchHeadBytes)));
}

FailureNote ExplainMismatch(const char* path) {
  std::string contents;
  std::uint64_t fileBytes = 0;
  const std::size_t maxBytes = ChecksWholeFile(path) ? SIZE_MAX : kMismatchHeadBytes;
  if (!ReadHead(path, maxBytes, contents, fileBytes)) return {};
  FailureNote note{DescribeMismatch(path, BytesOf(contents), fileBytes), {}};
  if (fileBytes > 0) note.looksLike = DescribeLooks(BytesOf(contents));
  return note;
}
