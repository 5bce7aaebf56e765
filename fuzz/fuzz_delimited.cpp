// For random delimiters of 1 to 4 bytes, random input and any read size, the
// block scan writes exactly what a plain byte-by-byte scan of the whole input
// writes, and returns the same status, with either scanner. Both ways of finding
// a long delimiter find what a plain search finds. Each input is checked as it
// stands and in its large form (fuzz_support.h): the conversion with one
// scanner, the search (which reads no file) not again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "delimited/delimited_convert.h"
#include "delimited/delimited_search.h"
#include "fuzz_support.h"
#include "platform/code_page.h"
#include "quorlix.h"
#include "scan/line_scan.h"

namespace {

constexpr std::size_t kMaxInputBytes = 1 << 16;
constexpr std::size_t kLargeReadStepBytes = 4096;

// The input's first byte holds the four delimiter lengths, two bits each: input
// record and field delimiters 1 to 4 bytes, output ones 0 to 3. The second byte
// picks the read size in its low seven bits (0: the library's own; in a large
// form, steps of kLargeReadStepBytes, so that reads stay few); its top bit
// makes the output record delimiter the input one, the common case of a
// conversion that changes fields only. The delimiters' bytes follow.
struct Setup {
  std::string strInRecord;
  std::string strInField;
  std::string strOutField;
  std::string strOutRecord;
  std::size_t nReadBytes;
};

// The first byte alone rules out most places, without a library compare (slow
// under the fuzzer's compare tracing) at every byte of a large form.
bool StartsWithAt(std::string_view strText, std::size_t i, std::string_view strDelim) {
  return strText[i] == strDelim[0] && strText.substr(i).starts_with(strDelim);
}

// The byte-by-byte model: cut records first, then the fields of each record. A
// record and a field are marked by where they start, not copied a byte at a time.
std::string ConvertByBytes(std::string_view strIn, const Setup& oem, int& nStatus) {
  bool bRecordDelimiterSeen = false;
  bool bFieldDelimiterSeen = false;
  std::string strOut;
  const auto EmitRecord = [&](std::string_view strRecord) {
    std::size_t nFieldStart = 0;
    for (std::size_t j = 0; j < strRecord.size();) {
      if (StartsWithAt(strRecord, j, oem.strInField)) {
        strOut.append(strRecord.substr(nFieldStart, j - nFieldStart)).append(oem.strOutField);
        bFieldDelimiterSeen = true;
        j += oem.strInField.size();
        nFieldStart = j;
      } else {
        ++j;
      }
    }
    strOut.append(strRecord.substr(nFieldStart)).append(oem.strOutRecord);
  };
  std::size_t nRecordStart = 0;
  for (std::size_t i = 0; i < strIn.size();) {
    if (StartsWithAt(strIn, i, oem.strInRecord)) {
      EmitRecord(strIn.substr(nRecordStart, i - nRecordStart));
      bRecordDelimiterSeen = true;
      i += oem.strInRecord.size();
      nRecordStart = i;
    } else {
      ++i;
    }
  }
  if (nRecordStart < strIn.size()) EmitRecord(strIn.substr(nRecordStart));
  nStatus = !bRecordDelimiterSeen  ? QUORLIX_DELIMITED_NO_RECORD
            : !bFieldDelimiterSeen ? QUORLIX_DELIMITED_NO_FIELD
                                   : QUORLIX_OK;
  return strOut;
}

// The delimiter repeated past the short limit, so that the C library's search is
// used, found by every way in the body as often as a plain search finds it.
void CheckLongDelimiterSearch(std::string_view strBody, const std::string& strDelim, const std::uint8_t* pData,
                              std::size_t nSize) {
  std::string strLong;
  while (strLong.size() <= DelimiterSearch::kShortDelimiterBytes) strLong += strDelim;
  const DelimiterSearch search(strLong);
  const auto* const pBegin = reinterpret_cast<const unsigned char*>(strBody.data());
  const auto* const pEnd = pBegin + strBody.size();
  for (const bool bVector : {true, false}) {
    const ScopedScanLevel level(bVector ? ScanLevel::kSsse3 : ScanLevel::kPortable);
    std::size_t nExpected = strBody.find(strLong);
    for (const unsigned char* p = pBegin;; ++p) {
      const unsigned char* pHit = search.Find(p, pEnd);
      const std::size_t nHit = pHit ? static_cast<std::size_t>(pHit - pBegin) : std::string_view::npos;
      if (nHit != nExpected)
        quorlix_fuzz::FailWithInput("the long delimiter search differs from a plain one", pData, nSize);
      if (!pHit) break;
      p = pHit;
      nExpected = strBody.find(strLong, nHit + 1);
    }
  }
}

void CheckConversion(const std::uint8_t* pData, std::size_t nSize, bool bLarge) {
  if (nSize < 2) return;
  const std::string_view strData(reinterpret_cast<const char*>(pData), nSize);
  const unsigned nLengths = pData[0];
  const std::size_t nInRecord = 1 + (nLengths & 3), nInField = 1 + ((nLengths >> 2) & 3);
  const std::size_t nOutField = (nLengths >> 4) & 3, nOutRecord = nLengths >> 6;
  std::size_t nPos = 2;
  if (nSize < nPos + nInRecord + nInField + nOutField + nOutRecord) return;
  const auto Take = [&](std::size_t nLen) {
    const std::string strDelim(strData.substr(nPos, nLen));
    nPos += nLen;
    return strDelim;
  };
  Setup ansi;
  ansi.strInRecord = Take(nInRecord);
  ansi.strInField = Take(nInField);
  ansi.strOutField = Take(nOutField);
  ansi.strOutRecord = Take(nOutRecord);
  if (pData[1] & 0x80) ansi.strOutRecord = ansi.strInRecord;
  const std::size_t nReadCode = pData[1] & 0x7F;
  ansi.nReadBytes = nReadCode == 0 ? kDelimitedReadBytes : nReadCode * (bLarge ? kLargeReadStepBytes : 1);
  const std::string_view strBody = strData.substr(nPos);

  const std::string strIn = quorlix_fuzz::WriteWorkFile("in.txt", strBody.data(), strBody.size());
  const std::string strOut = quorlix_fuzz::WorkDir() + "/out.txt";
  const Setup oem{AnsiToOem(ansi.strInRecord), AnsiToOem(ansi.strInField), AnsiToOem(ansi.strOutField),
                  AnsiToOem(ansi.strOutRecord), ansi.nReadBytes};
  int nExpectedStatus = 0;
  const std::string strExpected = ConvertByBytes(strBody, oem, nExpectedStatus);

  for (const bool bVector : {true, false}) {
    if (bLarge && bVector != (strBody.size() % 2 == 0)) continue;  // one scanner, to stay quick
    const ScopedScanLevel level(bVector ? ScanLevel::kSsse3 : ScanLevel::kPortable);
    const int nStatus = ConvertDelimitedFile(strIn, ansi.strInRecord, ansi.strInField, strOut, ansi.strOutField,
                                             ansi.strOutRecord, ansi.nReadBytes);
    if (nStatus != nExpectedStatus)
      quorlix_fuzz::FailWithInput("status differs from the byte-by-byte scan", pData, nSize);
    if (quorlix_fuzz::ReadWorkFile(strOut) != strExpected)
      quorlix_fuzz::FailWithInput("output differs from the byte-by-byte scan", pData, nSize);
  }
  if (!bLarge) CheckLongDelimiterSearch(strBody, oem.strInRecord, pData, nSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  if (nSize > kMaxInputBytes) return 0;
  CheckConversion(pData, nSize, false);
  quorlix_fuzz::CheckLargeForm(pData, nSize, [](const std::uint8_t* p, std::size_t n) { CheckConversion(p, n, true); });
  return 0;
}
