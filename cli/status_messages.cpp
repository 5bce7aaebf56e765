#include "status_messages.h"

#include <cctype>
#include <cstdio>
#include <iterator>

namespace {

struct StatusMessage {
  Export which;
  int nStatus;
  std::string_view strText;
};

constexpr StatusMessage kStatusMessages[] = {
    {Export::kCrlf, 2, "cannot read input file '{in}'"},
    {Export::kCrlf, 3, "input file '{in}' not found"},
    {Export::kCrlf, 5, "cannot create output file '{out}': not found"},
    {Export::kCrlf, 6, "cannot create or write output file '{out}'"},
    {Export::kCrlf, 7, "too many open files"},
    {Export::kCrlf, 18, "converting '{in}' failed: not enough memory"},

    {Export::kHtml, 2, "cannot read input file '{in}'"},
    {Export::kHtml, 3, "input file '{in}' not found"},
    {Export::kHtml, 5, "cannot create output file '{out}': not found"},
    {Export::kHtml, 6, "cannot create or write output file '{out}'"},
    {Export::kHtml, 7, "too many open files"},
    {Export::kHtml, 10, "input name '{in}' must end in .htm or .html, and output name '{out}' in .txt or .wri"},
    {Export::kHtml, 11, "output name '{out}' must end in .txt or .wri"},
    {Export::kHtml, 12, "input name '{in}' must end in .htm or .html"},
    {Export::kHtml, 13, "no body found in '{in}' (upper-case <BODY> and </BODY> tags, every '<' closed by '>')"},
    {Export::kHtml, 14, "rendering the body of '{in}' failed (a digit reference without ';', or </BODY> before <BODY>)"},
    {Export::kHtml, 15, "a table in '{in}' is not closed before the body ends"},
    {Export::kHtml, 16, "a table row in '{in}' is not closed before the body ends"},

    {Export::kFiling, 2, "file error on '{in}', '{out}' or '{out2}' (bad path, disk full, an output naming the filing, or both outputs one file)"},
    {Export::kFiling, 3, "filing '{in}' not found"},
    {Export::kFiling, 7, "too many open files"},
    {Export::kFiling, 18, "decoding '{in}' failed: not enough memory"},

    // Verify words follow the file's name on its own line.
    {Export::kVerify, 2, "cannot be read"},
    {Export::kVerify, 3, "not found"},
    {Export::kVerify, 7, "too many open files"},
    {Export::kVerify, 17, "unknown suffix"},
    {Export::kVerify, 18, "contents do not match {suffix}"},

    {Export::kDelimited, 1, "cannot open or read input file '{in}'"},
    {Export::kDelimited, 2, "cannot open or write output file '{out}' (or it is the input file)"},
    {Export::kDelimited, 3, "the input field delimiter is empty"},
    {Export::kDelimited, 4, "the input record delimiter is empty"},
    {Export::kDelimited, 5, "no record delimiter found in '{in}'"},
    {Export::kDelimited, 6, "no record of '{in}' holds a field delimiter"},
};

// The suffix of a file's name from its last '.', in lower case: the type it claims.
std::string SuffixOf(std::string_view strPath) {
  const std::string_view strName = strPath.substr(strPath.find_last_of('/') + 1);
  const std::size_t nDot = strName.find_last_of('.');
  std::string strSuffix(nDot == std::string_view::npos ? std::string_view() : strName.substr(nDot));
  for (char& c : strSuffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return strSuffix;
}

// Replaces {in}, {out} and {out2} by the call's file names, {suffix} by the input's suffix.
std::string FillIn(std::string_view strText, const CallFiles& files) {
  struct Placeholder {
    std::string_view strName;
    std::string_view strValue;
  };
  const std::string strSuffix = SuffixOf(files.strIn);
  const Placeholder placeholders[] = {
      {"{in}", files.strIn}, {"{out}", files.strOut}, {"{out2}", files.strOut2}, {"{suffix}", strSuffix}};
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

}  // namespace

std::string DescribeStatus(Export which, int nStatus, const CallFiles& files) {
  for (const auto& message : kStatusMessages)
    if (message.which == which && message.nStatus == nStatus) return FillIn(message.strText, files);
  return "failed";
}

int ReportStatus(Export which, int nStatus, const CallFiles& files) {
  if (nStatus != 0)
    std::fprintf(stderr, "quorlix: %s (status %d)\n", DescribeStatus(which, nStatus, files).c_str(), nStatus);
  return nStatus;
}
