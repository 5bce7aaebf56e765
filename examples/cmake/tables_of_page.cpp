// Writes the tables of an HTML page as comma-separated lines with the installed
// Quorlix library, after checking that the page is the HTML it claims to be.
//   tables_of_page PAGE.htm OUT_DIR   writes OUT_DIR/tables.txt
#include <cstdio>
#include <string>

#include <quorlix.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PAGE.htm OUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string page = argv[1];
  const std::string tables = std::string(argv[2]) + "/tables.txt";

  if (const int status = CvtVerifyFile(page.c_str()); status != QUORLIX_OK) {
    std::fprintf(stderr, "%s: not an HTML page (status %d)\n", page.c_str(), status);
    return status;
  }
  const int tablesOnly = 1;
  if (const int status = CvtHTMLtoText(page.c_str(), tables.c_str(), tablesOnly); status != QUORLIX_OK) {
    std::fprintf(stderr, "rendering %s failed (status %d)\n", page.c_str(), status);
    return status;
  }
  std::printf("%s -> %s\n", page.c_str(), tables.c_str());
  return 0;
}
