#include "status_messages.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <span>

#include "quorlix.h"

namespace {

struct StatusMessage {
  Export which;
  int nStatus;
  std::string_view strText;
};

// kStatusMessages and kNotRegularWords, from data/status_words.tsv.
#include "status_words.inc"

// The suffix of a file's name from its last '.', in lower case: the type it claims.
std::string SuffixOf(std::string_view strPath) {
  const std::string_view strName = strPath.substr(strPath.find_last_of('/') + 1);
  const std::size_t nDot = strName.find_last_of('.');
  std::string strSuffix(nDot == std::string_view::npos ? std::string_view() : strName.substr(nDot));
  for (char& c : strSuffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return strSuffix;
}

// The note that a status can also mean no memory, for verify only for the text
// types, the ones it reads whole.
std::string_view MemoryNoteFor(Export which, std::string_view suffix, bool memoryMayBeShort) {
  if (!memoryMayBeShort) return {};
  constexpr std::string_view kWholeRead[] = {".txt", ".htm", ".html"};
  if (which == Export::kVerify && std::ranges::find(kWholeRead, suffix) == std::end(kWholeRead)) return {};
  return " (or not enough memory)";
}

// The words of a status that can also mean no memory end their list of causes
// with one of these clauses, which goes where memory cannot have run out.
std::string WithoutMemoryClause(std::string_view text, bool memoryMayBeShort) {
  constexpr std::string_view kMemoryClauses[] = {" (or not enough memory)", ", or not enough memory"};
  std::string words(text);
  if (memoryMayBeShort) return words;
  for (const auto clause : kMemoryClauses)
    if (const std::size_t at = words.find(clause); at != std::string::npos) words.erase(at, clause.size());
  return words;
}

// Replaces {in}, {out} and {out2} by the call's file names (escaped), {suffix} by
// the input's suffix and {memory} by the cause the tool found (": <cause>") or,
// without one, the note that the status can mean no memory.
std::string FillIn(std::string_view strText, Export which, const CallFiles& files, bool memoryMayBeShort) {
  struct Placeholder {
    std::string_view strName;
    std::string strValue;
  };
  const std::string suffix = SuffixOf(files.strIn);
  const std::string memory = files.strDetail.empty() ? std::string(MemoryNoteFor(which, suffix, memoryMayBeShort))
                                                     : ": " + std::string(files.strDetail);
  const Placeholder placeholders[] = {{"{in}", EscapeName(files.strIn)},
                                      {"{out}", EscapeName(files.strOut)},
                                      {"{out2}", EscapeName(files.strOut2)},
                                      {"{suffix}", EscapeName(suffix)},
                                      {"{memory}", memory}};
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

std::string DescribeStatus(Export which, int nStatus, const CallFiles& files, bool memoryMayBeShort) {
  if (const StatusMessage* message = FindWords(kStatusMessages, which, nStatus))
    return FillIn(WithoutMemoryClause(message->strText, memoryMayBeShort), which, files, memoryMayBeShort);
  return "failed";
}

std::string DescribeNotRegular(Export which, int nStatus, const CallFiles& files, bool memoryMayBeShort) {
  if (const StatusMessage* words = FindWords(kNotRegularWords, which, nStatus))
    return FillIn(words->strText, which, files, memoryMayBeShort);
  return DescribeStatus(which, nStatus, files, memoryMayBeShort);
}
