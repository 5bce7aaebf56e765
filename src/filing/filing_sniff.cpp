#include "filing/filing_sniff.h"

#include <algorithm>

#include "platform/file.h"

namespace {

constexpr std::string_view kFramingTags[] = {"<SEC-DOCUMENT>", "<IMS-DOCUMENT>", "<SEC-HEADER>", "<IMS-HEADER>",
                                             "<SUBMISSION>"};

bool BeginsWithFramingTag(std::string_view line) {
  return std::ranges::any_of(kFramingTags, [line](std::string_view tag) { return line.starts_with(tag); });
}

bool HasFramingLine(std::string_view head) {
  for (std::size_t start = 0; start < head.size();) {
    if (BeginsWithFramingTag(head.substr(start))) return true;
    const std::size_t end = head.find_first_of("\r\n", start);
    if (end == std::string_view::npos) return false;
    start = end + 1;
  }
  return false;
}

}  // namespace

HeadVerdict JudgeSubmissionHead(std::string_view head, bool bWhole) {
  if (HasFramingLine(head.substr(0, kFramingWindowBytes))) return HeadVerdict::kSubmission;
  return bWhole || head.size() >= kFramingWindowBytes ? HeadVerdict::kOther : HeadVerdict::kReadOn;
}

SubmissionSniff SniffSubmission(const CString& strPath) noexcept {
  try {
    // CFile refuses what is no regular file without waiting on it (a FIFO).
    CFile file(strPath, CFile::modeRead);
    char head[kFramingWindowBytes];
    const std::size_t nFilled = file.Read(head, sizeof head);
    return JudgeSubmissionHead({head, nFilled}, true) == HeadVerdict::kSubmission ? SubmissionSniff::kSubmission
                                                                                  : SubmissionSniff::kOther;
  } catch (...) {
    return SubmissionSniff::kUnreadable;
  }
}
