// quorlix tags: the library's dictionary of Financial Data Schedule tags as CSV
// (article,tag,kind,label,concept), every article's or one article's.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "exit_codes.h"
#include "quorlix_schedules.h"
#include "status_messages.h"

namespace {

std::string g_article;  // --article; empty for every article

int WriteToStandardOutput(void*, const char* data, std::size_t size) {
  return std::fwrite(data, 1, size, stdout) == size ? 0 : 1;
}

}  // namespace

void AddTagsOptions(CLI::App& sub) {
  sub.add_option("--article", g_article, "print one article's tags: 5, 6, 7, 9, UT or BD")->type_name("ARTICLE");
}

int RunTags() {
  const int status =
      quorlix_write_tag_dictionary(g_article.empty() ? nullptr : g_article.c_str(), WriteToStandardOutput, nullptr);
  if (status == QUORLIX_SCHEDULES_BAD_ARGUMENT)
    return ReportUsageError("the tag dictionary has no article '" + EscapeName(g_article) +
                            "' (quorlix tags prints every article's tags)");
  if (status != QUORLIX_SCHEDULES_OK || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "quorlix: cannot write the tag dictionary to standard output: %s\n", std::strerror(errno));
    return kExitIoError;
  }
  return 0;
}
