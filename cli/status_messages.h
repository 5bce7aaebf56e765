// The tool's words for every status of every export, in one table.
#pragma once

#include <string>
#include <string_view>

enum class Export { kCrlf, kHtml, kFiling, kVerify, kDelimited };

// The files of one call, as the user named them; placeholders {in}, {out} and
// {out2} in a message stand for them.
struct CallFiles {
  std::string_view strIn;
  std::string_view strOut;
  std::string_view strOut2;
};

// The words for a status, without the tool's name or the number.
std::string DescribeStatus(Export which, int nStatus, const CallFiles& files);

// Prints "quorlix: <words> (status N)" on stderr when nStatus is not 0; returns nStatus.
int ReportStatus(Export which, int nStatus, const CallFiles& files);
