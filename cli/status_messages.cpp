#include "status_messages.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <span>

#include "quorlix.h"

namespace {

struct StatusMessage {
  Export which;
  int nStatus;
  std::string_view strText;
};

// kStatusMessages and kNotRegularWords, from python/quorlix/status_words.tsv.
#include "status_words.inc"

// The suffix of a file's name from its last '.', in lower case: the type it claims.
std::string SuffixOf(std::string_view strPath) {
  const std::string_view strName = strPath.substr(strPath.find_last_of('/') + 1);
  const std::size_t nDot = strName.find_last_of('.');
  std::string strSuffix(nDot == std::string_view::npos ? std::string_view() : strName.substr(nDot));
  for (char& c : strSuffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return strSuffix;
}

// Only the text types are read whole by the verification, so only their
// mismatch can also be a failed allocation.
std::string_view MemoryNoteFor(std::string_view suffix) {
  constexpr std::string_view kWholeRead[] = {".txt", ".htm", ".html"};
  for (const auto type : kWholeRead)
    if (suffix == type) return " (or not enough memory)";
  return {};
}

// Replaces {in}, {out} and {out2} by the call's file names (escaped), {suffix} by
// the input's suffix and {memory} by the cause the tool found (": <cause>") or,
// without one, the note that the status can mean no memory.
std::string FillIn(std::string_view strText, const CallFiles& files) {
  struct Placeholder {
    std::string_view strName;
    std::string strValue;
  };
  const std::string suffix = SuffixOf(files.strIn);
  const Placeholder placeholders[] = {
      {"{in}", EscapeName(files.strIn)},
      {"{out}", EscapeName(files.strOut)},
      {"{out2}", EscapeName(files.strOut2)},
      {"{suffix}", EscapeName(suffix)},
      {"{memory}", files.strDetail.empty() ? std::string(MemoryNoteFor(suffix)) : ": " + std::string(files.strDetail)}};
  std::string strResult;
  for (std::size_t i = 0; i < strText.size();) {
    bool bReplaced = false;
    for (const auto& placeholder : placeholders) {
      if (strText.substr(i).starts_with(placeholder.strName)) {
        strResult += placeholder.strValue;
        i += placeholder.strName.size();
        bReplaced = true;
        break;
      }
    }
    if (!bReplaced) strResult += strText[i++];
  }
  return strResult;
}

// The row of the table for this status of this export, or null.
const StatusMessage* FindWords(std::span<const StatusMessage> table, Export which, int status) {
  const auto row = std::ranges::find_if(
      table, [&](const StatusMessage& message) { return message.which == which && message.nStatus == status; });
  return row == table.end() ? nullptr : &*row;
}

// True when the path exists and is something other than a regular file or a folder
// (a pipe, FIFO, device or socket), which every export refuses as input.
bool IsSpecialFile(std::string_view path) {
  struct stat info {};
  if (::stat(std::string(path).c_str(), &info) != 0) return false;
  return !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

}  // namespace

std::string EscapeName(std::string_view name) {
  constexpr char kHexDigits[] = "0123456789abcdef";
  std::string escaped;
  escaped.reserve(name.size());
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case '\\': escaped += "\\\\"; break;
      case '\n': escaped += "\\n"; break;
      case '\r': escaped += "\\r"; break;
      case '\t': escaped += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          escaped += "\\x";
          escaped += kHexDigits[byte >> 4];
          escaped += kHexDigits[byte & 0xF];
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

std::string OneLine(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  std::string line;
  for (const char c : text) {
    if (c == '\n') line += "; ";
    else if (c == '\\') line += c;
    else line += EscapeName(std::string_view(&c, 1));
  }
  return line;
}

bool HasStatusWords(Export which, int status) { return FindWords(kStatusMessages, which, status) != nullptr; }

std::string DescribeStatus(Export which, int nStatus, const CallFiles& files) {
  if (const StatusMessage* words = FindWords(kNotRegularWords, which, nStatus); words && IsSpecialFile(files.strIn))
    return FillIn(words->strText, files);
  if (const StatusMessage* message = FindWords(kStatusMessages, which, nStatus)) return FillIn(message->strText, files);
  return "failed";
}

int ReportStatus(Export which, int nStatus, const CallFiles& files) {
  if (nStatus != 0)
    std::fprintf(stderr, "quorlix: %s (status %d)\n", DescribeStatus(which, nStatus, files).c_str(), nStatus);
  return nStatus;
}
