// Compressed files and archives for the tests, made in memory by libarchive's
// writer from the checked-in filings, so that no archive is checked in.
#pragma once

#include <string>
#include <vector>

namespace quorlix_test {

struct PackedMember {
  std::string path;
  std::string bytes;
};

enum class PackFormat { kTar, kZip, kNone };  // kNone: one compressed file, no archive
enum class PackFilter { kNone, kGzip, kBzip2, kXz, kCompress };

// The members as an archive of format compressed with filter; with kNone, the
// one member's bytes compressed.
std::string Pack(PackFormat format, PackFilter filter, const std::vector<PackedMember>& members);

// The checked-in filings with schedules, by name (tests/data/filing/*.txt).
std::vector<PackedMember> SampleFilings();

// A filing's header rewritten in tags, as EDGAR's dissemination writes it: the
// KEY: lines of <SEC-HEADER> become <ACCESSION-NUMBER>, <TYPE>, <PERIOD>,
// <FILING-DATE>, and <FILER><COMPANY-DATA> with <CONFORMED-NAME>, <CIK>,
// <ASSIGNED-SIC>, <FISCAL-YEAR-END>; the frame becomes <SUBMISSION>.
std::string WithTaggedHeader(const std::string& filing);

}  // namespace quorlix_test
