#include "packing_fixtures.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "test_support.h"

namespace quorlix_test {

namespace {

la_ssize_t Append(struct archive*, void* pContext, const void* pBuffer, std::size_t nLength) {
  static_cast<std::string*>(pContext)->append(static_cast<const char*>(pBuffer), nLength);
  return static_cast<la_ssize_t>(nLength);
}

void AddFilter(struct archive* pArchive, PackFilter filter) {
  switch (filter) {
    case PackFilter::kNone: archive_write_add_filter_none(pArchive); break;
    case PackFilter::kGzip: archive_write_add_filter_gzip(pArchive); break;
    case PackFilter::kBzip2: archive_write_add_filter_bzip2(pArchive); break;
    case PackFilter::kXz: archive_write_add_filter_xz(pArchive); break;
    case PackFilter::kCompress: archive_write_add_filter_compress(pArchive); break;
  }
}

// "KEY:\tvalue" with blanks around taken off, or false.
bool SplitKeyLine(std::string_view line, std::string_view& key, std::string_view& value) {
  const std::size_t nColon = line.find(':');
  if (nColon == std::string_view::npos) return false;
  const auto trim = [](std::string_view text) {
    const std::size_t nFirst = text.find_first_not_of(" \t\r");
    if (nFirst == std::string_view::npos) return std::string_view();
    return text.substr(nFirst, text.find_last_not_of(" \t\r") - nFirst + 1);
  };
  key = trim(line.substr(0, nColon));
  value = trim(line.substr(nColon + 1));
  return true;
}

}  // namespace

std::string Pack(PackFormat format, PackFilter filter, const std::vector<PackedMember>& members) {
  std::string bytes;
  struct archive* pArchive = archive_write_new();
  AddFilter(pArchive, filter);
  switch (format) {
    case PackFormat::kTar: archive_write_set_format_pax_restricted(pArchive); break;
    case PackFormat::kZip:
      archive_write_set_format_zip(pArchive);
      archive_write_zip_set_compression_deflate(pArchive);
      break;
    case PackFormat::kNone: archive_write_set_format_raw(pArchive); break;
  }
  archive_write_set_bytes_in_last_block(pArchive, 1);  // no padding after the end
  EXPECT_EQ(archive_write_open(pArchive, &bytes, nullptr, Append, nullptr), ARCHIVE_OK)
      << archive_error_string(pArchive);
  for (const PackedMember& member : members) {
    struct archive_entry* pEntry = archive_entry_new();
    archive_entry_set_pathname(pEntry, member.path.c_str());
    archive_entry_set_filetype(pEntry, AE_IFREG);
    archive_entry_set_perm(pEntry, 0644);
    archive_entry_set_size(pEntry, static_cast<la_int64_t>(member.bytes.size()));
    archive_entry_set_mtime(pEntry, 981072000, 0);
    // A name that is not UTF-8 is written as its bytes, with a warning.
    EXPECT_GE(archive_write_header(pArchive, pEntry), ARCHIVE_WARN) << archive_error_string(pArchive);
    EXPECT_EQ(archive_write_data(pArchive, member.bytes.data(), member.bytes.size()),
              static_cast<la_ssize_t>(member.bytes.size()));
    archive_entry_free(pEntry);
  }
  EXPECT_EQ(archive_write_close(pArchive), ARCHIVE_OK) << archive_error_string(pArchive);
  archive_write_free(pArchive);
  return bytes;
}

std::vector<PackedMember> SampleFilings() {
  std::vector<PackedMember> filings;
  for (const char* name : {"apple_10k_1994_ims_ex27.txt", "apple_10k_1997_ex27.txt",
                           "apple_10q_1998q3_ex27_flawed_tabs.txt", "apple_10q_2000q1_ex27.txt"})
    filings.push_back({name, ReadFile((DataDir() / "filing" / name).string())});
  return filings;
}

std::string WithTaggedHeader(const std::string& filing) {
  struct KeyTag {
    std::string_view key;
    std::string_view tag;
  };
  constexpr KeyTag kTags[] = {
      {"ACCESSION NUMBER", "ACCESSION-NUMBER"},
      {"CONFORMED SUBMISSION TYPE", "TYPE"},
      {"PUBLIC DOCUMENT COUNT", "PUBLIC-DOCUMENT-COUNT"},
      {"CONFORMED PERIOD OF REPORT", "PERIOD"},
      {"FILED AS OF DATE", "FILING-DATE"},
      {"COMPANY CONFORMED NAME", "CONFORMED-NAME"},
      {"CENTRAL INDEX KEY", "CIK"},
      {"STANDARD INDUSTRIAL CLASSIFICATION", "ASSIGNED-SIC"},
      {"FISCAL YEAR END", "FISCAL-YEAR-END"},
  };
  std::string out;
  bool bStarted = false;
  bool bInHeader = false;
  bool bInFiler = false;
  bool bInCompany = false;
  for (std::size_t nStart = 0; nStart < filing.size();) {
    const std::size_t nEnd = std::min(filing.find('\n', nStart), filing.size());
    const std::string_view line = std::string_view(filing).substr(nStart, nEnd - nStart);
    nStart = nEnd + 1;
    if (line.starts_with("<SEC-DOCUMENT>") || line.starts_with("<IMS-DOCUMENT>")) {
      out += "<SUBMISSION>\n";
      bStarted = true;
      continue;
    }
    if (!bStarted) continue;  // the PEM preamble
    if (line.starts_with("</SEC-DOCUMENT>") || line.starts_with("</IMS-DOCUMENT>")) {
      out += "</SUBMISSION>\n";
      break;
    }
    if (line.starts_with("<SEC-HEADER>") || line.starts_with("<IMS-HEADER>")) {
      bInHeader = true;
      continue;
    }
    if (!bInHeader) {
      out += line;
      out += '\n';
      continue;
    }
    std::string_view key;
    std::string_view value;
    const bool bEnd = line.starts_with("</SEC-HEADER>") || line.starts_with("</IMS-HEADER>");
    const bool bKeyLine = !bEnd && SplitKeyLine(line, key, value);
    if (bEnd || (bKeyLine && value.empty())) {  // a section: FILER, COMPANY DATA, FILING VALUES, ...
      if (bInCompany) out += "</COMPANY-DATA>\n";
      bInCompany = false;
      if (bInFiler && (bEnd || key == "FILER")) {
        out += "</FILER>\n";
        bInFiler = false;
      }
      if (key == "FILER") out += "<FILER>\n";
      bInFiler = bInFiler || key == "FILER";
      if (key == "COMPANY DATA") out += "<COMPANY-DATA>\n";
      bInCompany = key == "COMPANY DATA";
      bInHeader = !bEnd;
      continue;
    }
    const auto* tag = std::ranges::find(kTags, key, &KeyTag::key);
    if (!bKeyLine || tag == std::end(kTags)) continue;
    if (tag->tag == "ASSIGNED-SIC" && value.find('[') != std::string_view::npos)
      value = value.substr(value.find('[') + 1, value.find(']') - value.find('[') - 1);
    out += '<';
    out += tag->tag;
    out += '>';
    out += value;
    out += '\n';
  }
  return out;
}

}  // namespace quorlix_test
