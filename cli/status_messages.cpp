#include "status_messages.h"

#include <sys/stat.h>

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

constexpr StatusMessage kStatusMessages[] = {
    {Export::kCrlf, QUORLIX_CRLF_INPUT_ERROR, "cannot read input file '{in}' (or not enough memory)"},
    {Export::kCrlf, QUORLIX_CRLF_INPUT_NOT_FOUND, "input file '{in}' not found"},
    {Export::kCrlf, QUORLIX_CRLF_OUTPUT_NOT_FOUND, "cannot create output file '{out}': not found"},
    {Export::kCrlf, QUORLIX_CRLF_OUTPUT_ERROR, "cannot create or write output file '{out}'"},
    {Export::kCrlf, QUORLIX_CRLF_TOO_MANY_FILES, "too many open files"},
    {Export::kCrlf, QUORLIX_CRLF_PASS_FAILED, "converting '{in}' failed: not enough memory"},

    {Export::kHtml, QUORLIX_HTML_INPUT_ERROR, "cannot read input file '{in}' (or not enough memory)"},
    {Export::kHtml, QUORLIX_HTML_INPUT_NOT_FOUND, "input file '{in}' not found"},
    {Export::kHtml, QUORLIX_HTML_OUTPUT_NOT_FOUND, "cannot create output file '{out}': not found"},
    {Export::kHtml, QUORLIX_HTML_OUTPUT_ERROR, "cannot create or write output file '{out}'"},
    {Export::kHtml, QUORLIX_HTML_TOO_MANY_FILES, "too many open files"},
    {Export::kHtml, QUORLIX_HTML_BOTH_NAMES_WRONG,
     "input name '{in}' must end in .htm or .html, and output name '{out}' in .txt or .wri"},
    {Export::kHtml, QUORLIX_HTML_OUTPUT_NAME_WRONG, "output name '{out}' must end in .txt or .wri"},
    {Export::kHtml, QUORLIX_HTML_INPUT_NAME_WRONG, "input name '{in}' must end in .htm or .html"},
    {Export::kHtml, QUORLIX_HTML_NO_BODY,
     "no body found in '{in}' (upper-case <BODY> and </BODY> tags, every '<' closed by '>'), or not enough memory"},
    {Export::kHtml, QUORLIX_HTML_BODY_FAILED,
     "rendering the body of '{in}' failed (a digit reference without ';', </BODY> before <BODY>, or not enough "
     "memory)"},
    {Export::kHtml, QUORLIX_HTML_TABLE_FAILED,
     "a table in '{in}' is not closed before the body ends, or not enough memory"},
    {Export::kHtml, QUORLIX_HTML_ROW_FAILED,
     "a table row in '{in}' is not closed before the body ends, or not enough memory"},

    {Export::kFiling, QUORLIX_FILING_FILE_ERROR,
     "file error on '{in}', '{out}' or '{out2}' (bad path, disk full, an output naming the filing, or both outputs one "
     "file)"},
    {Export::kFiling, QUORLIX_FILING_NOT_FOUND, "filing '{in}' not found"},
    {Export::kFiling, QUORLIX_FILING_TOO_MANY_FILES, "too many open files"},
    {Export::kFiling, QUORLIX_FILING_DECODE_FAILED, "decoding '{in}' failed: not enough memory"},

    // Verify words follow the file's name on its own line.
    {Export::kVerify, QUORLIX_VERIFY_FILE_ERROR, "cannot be read (or not enough memory)"},
    {Export::kVerify, QUORLIX_VERIFY_NOT_FOUND, "not found"},
    {Export::kVerify, QUORLIX_VERIFY_TOO_MANY_FILES, "too many open files"},
    {Export::kVerify, QUORLIX_VERIFY_UNKNOWN_SUFFIX, "unknown suffix"},
    {Export::kVerify, QUORLIX_VERIFY_MISMATCH, "contents do not match {suffix}{memory}"},

    {Export::kDelimited, QUORLIX_DELIMITED_INPUT_ERROR, "cannot open or read input file '{in}' (or not enough memory)"},
    {Export::kDelimited, QUORLIX_DELIMITED_OUTPUT_ERROR,
     "cannot open or write output file '{out}' (or it is the input file)"},
    {Export::kDelimited, QUORLIX_DELIMITED_NO_IN_FIELD, "the input field delimiter is empty"},
    {Export::kDelimited, QUORLIX_DELIMITED_NO_IN_RECORD, "the input record delimiter is empty"},
    {Export::kDelimited, QUORLIX_DELIMITED_NO_RECORD, "no record delimiter found in '{in}'"},
    {Export::kDelimited, QUORLIX_DELIMITED_NO_FIELD, "no record of '{in}' holds a field delimiter"},

    // The schedules' table gives each input the decoder's filing statuses.
    {Export::kSchedules, QUORLIX_FILING_FILE_ERROR,
     "cannot read filing '{in}' (a folder, a bad path, or a file that changed while it was read)"},
    {Export::kSchedules, QUORLIX_FILING_NOT_FOUND, "filing '{in}' not found"},
    {Export::kSchedules, QUORLIX_FILING_TOO_MANY_FILES, "too many open files"},
    {Export::kSchedules, QUORLIX_FILING_DECODE_FAILED, "reading the schedules of '{in}' failed: not enough memory"},
};

// The input error of each export: when its input exists but is neither a regular
// file nor a folder, that is the cause, and these words say so.
constexpr StatusMessage kNotRegularWords[] = {
    {Export::kCrlf, QUORLIX_CRLF_INPUT_ERROR, "input file '{in}' is not a regular file"},
    {Export::kHtml, QUORLIX_HTML_INPUT_ERROR, "input file '{in}' is not a regular file"},
    {Export::kFiling, QUORLIX_FILING_FILE_ERROR, "filing '{in}' is not a regular file"},
    {Export::kVerify, QUORLIX_VERIFY_FILE_ERROR, "not a regular file"},
    {Export::kDelimited, QUORLIX_DELIMITED_INPUT_ERROR, "input file '{in}' is not a regular file"},
    {Export::kSchedules, QUORLIX_FILING_FILE_ERROR, "filing '{in}' is not a regular file"},
};

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
// the input's suffix and {memory} by the note that the status can mean no memory.
std::string FillIn(std::string_view strText, Export which, const CallFiles& files, bool memoryMayBeShort) {
  struct Placeholder {
    std::string_view strName;
    std::string strValue;
  };
  const std::string suffix = SuffixOf(files.strIn);
  const Placeholder placeholders[] = {{"{in}", EscapeName(files.strIn)},
                                      {"{out}", EscapeName(files.strOut)},
                                      {"{out2}", EscapeName(files.strOut2)},
                                      {"{suffix}", EscapeName(suffix)},
                                      {"{memory}", std::string(MemoryNoteFor(which, suffix, memoryMayBeShort))}};
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

std::string DescribeStatus(Export which, int nStatus, const CallFiles& files, bool memoryMayBeShort) {
  if (const StatusMessage* words = FindWords(kNotRegularWords, which, nStatus); words && IsSpecialFile(files.strIn))
    return FillIn(words->strText, which, files, memoryMayBeShort);
  if (const StatusMessage* message = FindWords(kStatusMessages, which, nStatus))
    return FillIn(WithoutMemoryClause(message->strText, memoryMayBeShort), which, files, memoryMayBeShort);
  return "failed";
}
