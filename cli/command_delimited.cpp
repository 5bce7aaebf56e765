#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_command.h"
#include "commands.h"
#include "one_file.h"
#include "quorlix.h"

namespace {

struct DelimitedArgs {
  std::vector<std::string> paths;
  BatchOptions batch;
  std::string strInRecord = "\r\n";
  std::string strInField = ",";
  std::string strOutField = "\t";
  std::string strOutRecord = "\r\n";
} g_args;

// The byte a one-letter escape stands for; \x is handled apart.
struct LetterEscape {
  char cLetter;
  char cByte;
};
constexpr std::array<LetterEscape, 4> kLetterEscapes{{{'t', '\t'}, {'r', '\r'}, {'n', '\n'}, {'\\', '\\'}}};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Replaces the C-style escapes of strText by their bytes; returns what is wrong,
// or an empty string. A NUL byte is refused: the export takes C strings.
std::string Unescape(std::string& strText) {
  std::string strBytes;
  for (std::size_t i = 0; i < strText.size(); ++i) {
    if (strText[i] != '\\') {
      strBytes += strText[i];
      continue;
    }
    if (++i == strText.size()) return "a '\\' ends the text";
    const char cLetter = strText[i];
    if (cLetter == 'x') {
      const int nHigh = i + 2 < strText.size() ? HexValue(strText[i + 1]) : -1;
      const int nLow = nHigh >= 0 ? HexValue(strText[i + 2]) : -1;
      if (nLow < 0) return "\\x needs two hex digits";
      if (nHigh == 0 && nLow == 0) return "\\x00 cannot be passed on";
      strBytes += static_cast<char>(nHigh * 16 + nLow);
      i += 2;
      continue;
    }
    const auto* pEscape = std::ranges::find(kLetterEscapes, cLetter, &LetterEscape::cLetter);
    if (pEscape == kLetterEscapes.end()) return std::string("unknown escape \\") + cLetter;
    strBytes += pEscape->cByte;
  }
  strText = std::move(strBytes);
  return {};
}

void AddDelimiterOption(CLI::App& sub, const char* pszName, std::string& strValue, const char* pszShown,
                        const char* pszHelp) {
  sub.add_option(pszName, strValue, pszHelp)->default_str(pszShown)->transform(CLI::Validator(Unescape, "", "escapes"));
}

int ConvertDelimited(const char* input, const char* output, const char*) {
  return CvtDelimitedFile(input, g_args.strInRecord.c_str(), g_args.strInField.c_str(), output,
                          g_args.strOutField.c_str(), g_args.strOutRecord.c_str());
}

// The statuses that say what the input lacked come with a complete output.
constexpr BatchJob kDelimitedJob{Export::kDelimited,
                                 QUORLIX_BATCH_DELIMITED,
                                 ConvertDelimited,
                                 QUORLIX_DELIMITED_INPUT_ERROR,
                                 QUORLIX_DELIMITED_OUTPUT_ERROR,
                                 QUORLIX_DELIMITED_NO_RECORD,
                                 QUORLIX_DELIMITED_NO_FIELD};

}  // namespace

void AddDelimitedOptions(CLI::App& sub) {
  sub.add_option("PATHS", g_args.paths,
                 "INPUT OUTPUT ('-' for standard input or output; OUTPUT not INPUT), or with -o the inputs");
  AddDelimiterOption(sub, "--in-record", g_args.strInRecord, "\\r\\n", "record delimiter of INPUT");
  AddDelimiterOption(sub, "--in-field", g_args.strInField, ",", "field delimiter of INPUT");
  AddDelimiterOption(sub, "--out-field", g_args.strOutField, "\\t", "written after each field but a record's last");
  AddDelimiterOption(sub, "--out-record", g_args.strOutRecord, "\\r\\n", "written after each record's last field");
  sub.footer(
      "Delimiters take the escapes \\t \\r \\n \\\\ and \\xHH; bytes above 0x7F are read as\n"
      "Windows-1252 and matched and written in code page 437.");
  AddBatchOptions(sub, g_args.batch, true);
}

int RunDelimited() {
  if (!g_args.batch.outDir.empty())
    return RunBatch(kDelimitedJob, g_args.batch, g_args.paths,
                    {QUORLIX_BATCH_DELIMITED, 0, g_args.strInRecord.c_str(), g_args.strInField.c_str(),
                     g_args.strOutField.c_str(), g_args.strOutRecord.c_str()});
  if (const int usage =
          CheckOneFileForm(g_args.batch, g_args.paths, "INPUT OUTPUT", "quorlix delimited -o OUT_DIR INPUT...");
      usage)
    return usage;
  return RunOneFile(kDelimitedJob, {g_args.paths[0], g_args.paths[1], {}, ".txt", ".txt", g_args.batch.force});
}
