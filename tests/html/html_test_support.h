// The HTML tests convert through the export, as a host does, in a fresh folder.
#pragma once

#include <string>
#include <string_view>

#include "quorlix.h"
#include "test_support.h"

namespace quorlix_test {

class HtmlTest : public TempDirTest {
 protected:
  struct Result {
    int nStatus;
    std::string strOut;  // empty when no output was written
    bool bWritten;
  };

  Result ConvertPage(std::string_view page, int nTablesOnly = 0) {
    const std::string strIn = WriteFile("page.htm", page);
    const std::string strOut = PathOf("page.txt");
    std::filesystem::remove(strOut);
    const int nStatus = CvtHTMLtoText(strIn.c_str(), strOut.c_str(), nTablesOnly);
    const bool bWritten = FileExists(strOut);
    return {nStatus, bWritten ? ReadFile(strOut) : std::string(), bWritten};
  }

  // The text of a body that must render: its inside between body tags.
  std::string Render(std::string_view body, int nTablesOnly = 0) {
    const Result result = ConvertPage("<BODY>" + std::string(body) + "</BODY>", nTablesOnly);
    EXPECT_EQ(result.nStatus, QUORLIX_OK) << testing::PrintToString(std::string(body));
    return result.strOut;
  }
  std::string RenderTablesOnly(std::string_view body) { return Render(body, 1); }

  // The status of a body that must fail, after checking that nothing was written.
  int FailingStatus(std::string_view body, int nTablesOnly = 0) {
    const Result result = ConvertPage("<BODY>" + std::string(body) + "</BODY>", nTablesOnly);
    EXPECT_FALSE(result.bWritten);
    return result.nStatus;
  }
};

}  // namespace quorlix_test
