// Delimited-file conversion. The input is read in large blocks and searched for
// each delimiter in linear time (delimited_search.h); record delimiters are found first and
// field delimiters only inside a record, so a field delimiter never reaches into
// the record delimiter that follows it. Nothing is held per record or field:
// field bytes go out as soon as no delimiter can begin among them, so only a
// delimiter cut by the end of a block is carried over to the next.
#include "delimited/delimited_convert.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "delimited/delimited_search.h"
#include "platform/archive.h"
#include "platform/code_page.h"
#include "platform/file.h"
#include "quorlix.h"

namespace {

// The four delimiters in their OEM form; both input ones are non-empty.
struct Delimiters {
  CString strInRecord;
  CString strInField;
  CString strOutField;
  CString strOutRecord;
};

// The output goes through an archive, so that short fields cost no system call each.
void Put(CArchive& ar, std::string_view strBytes) { ar.Write(strBytes.data(), strBytes.size()); }

// Puts the bytes with every chFrom replaced by chTo; true when there was one.
bool PutReplacing(CArchive& ar, const unsigned char* pBytes, std::size_t nCount, unsigned char chFrom,
                  unsigned char chTo) {
  const bool bReplacing = std::memchr(pBytes, chFrom, nCount) != nullptr;
  if (!bReplacing) {
    ar.Write(pBytes, nCount);
    return false;
  }
  unsigned char chunk[CArchive::kArchiveBufferBytes];
  while (nCount > 0) {
    const std::size_t nChunk = std::min(nCount, sizeof chunk);
    // A plain indexed loop, so that the compiler runs it over whole vectors.
    for (std::size_t i = 0; i < nChunk; ++i) chunk[i] = pBytes[i] == chFrom ? chTo : pBytes[i];
    ar.Write(chunk, nChunk);
    pBytes += nChunk;
    nCount -= nChunk;
  }
  return true;
}

// Replaces every chFrom by chTo in place; true when there was one. A plain
// indexed loop without early exit, so that the compiler runs it over whole vectors.
bool ReplaceInPlace(unsigned char* pBytes, std::size_t nCount, unsigned char chFrom, unsigned char chTo) {
  unsigned char nSeen = 0;
  for (std::size_t i = 0; i < nCount; ++i) {
    const unsigned char b = pBytes[i];
    const unsigned char nHit = b == chFrom;
    nSeen |= nHit;
    pBytes[i] = nHit ? chTo : b;
  }
  return nSeen != 0;
}

// The scan over the input, block by block, with what it has seen so far.
class RecordScan {
 public:
  RecordScan(const Delimiters& delims, CArchive& out)
      : m_delims(delims),
        m_recordSearch(delims.strInRecord),
        m_fieldSearch(delims.strInField),
        m_out(out),
        m_bByteForByte(delims.strInField.size() == 1 && delims.strOutField.size() == 1),
        m_bRecordsPassThrough(m_bByteForByte && delims.strOutRecord == delims.strInRecord &&
                              delims.strInRecord.find(delims.strInField[0]) == CString::npos) {}

  // Converts the bytes [pData, pData + nLen) and returns how many it used. Unless
  // bAtEnd, the last bytes may begin a delimiter that the next block completes;
  // they stay unused and must be offered again at the front of the next block.
  // Used bytes may be changed in place.
  std::size_t Take(unsigned char* pData, std::size_t nLen, bool bAtEnd) {
    const unsigned char* const pEnd = pData + nLen;
    const unsigned char* p = pData;
    if (m_bRecordsPassThrough) {
      // Each record with its delimiter becomes the record with field delimiters
      // replaced and the same delimiter: the records found go out in one piece,
      // so only the end of the last one matters. No record ends after it.
      if (const unsigned char* pLastEnd = m_recordSearch.FindEndOfLast(p, pEnd)) {
        m_bRecordDelimiterSeen = true;
        m_bRecordOpen = false;
        p = pLastEnd;
      }
      // Replaced where they are, those bytes go out in one write, straight from the block.
      const auto nRecordBytes = static_cast<std::size_t>(p - pData);
      if (ReplaceInPlace(pData, nRecordBytes, FieldByte(m_delims.strInField), FieldByte(m_delims.strOutField)))
        m_bFieldDelimiterSeen = true;
      m_out.Write(pData, nRecordBytes);
    } else {
      while (const unsigned char* pRecordEnd = m_recordSearch.Find(p, pEnd)) {
        TakeFields(p, pRecordEnd, true);
        EndRecord();
        m_bRecordDelimiterSeen = true;
        p = pRecordEnd + m_delims.strInRecord.size();
      }
    }
    if (bAtEnd) {
      TakeFields(p, pEnd, true);
      if (m_bRecordOpen) EndRecord();  // the bytes after the last record delimiter are a record too
      return nLen;
    }
    const std::size_t nRecordTail = std::min<std::size_t>(pEnd - p, m_delims.strInRecord.size() - 1);
    return TakeFields(p, pEnd - nRecordTail, false) - pData;
  }

  int Status() const {
    if (!m_bRecordDelimiterSeen) return QUORLIX_DELIMITED_NO_RECORD;
    if (!m_bFieldDelimiterSeen) return QUORLIX_DELIMITED_NO_FIELD;
    return QUORLIX_OK;
  }

 private:
  // Writes the fields of record bytes [p, pTo) and returns where it stopped. When
  // the record does not end at pTo, a field delimiter may begin in the last bytes
  // and end after pTo: those bytes are left for the next block.
  const unsigned char* TakeFields(const unsigned char* p, const unsigned char* pTo, bool bRecordEndsAtTo) {
    if (m_bByteForByte) {
      // One byte for one: the record goes out whole with its field delimiters replaced.
      if (p == pTo) return pTo;
      if (PutReplacing(m_out, p, pTo - p, FieldByte(m_delims.strInField), FieldByte(m_delims.strOutField)))
        m_bFieldDelimiterSeen = true;
      m_bRecordOpen = true;
      return pTo;
    }
    while (const unsigned char* pFieldEnd = m_fieldSearch.Find(p, pTo)) {
      m_out.Write(p, pFieldEnd - p);
      Put(m_out, m_delims.strOutField);
      m_bFieldDelimiterSeen = m_bRecordOpen = true;
      p = pFieldEnd + m_delims.strInField.size();
    }
    const std::size_t nFieldTail = bRecordEndsAtTo ? 0 : std::min<std::size_t>(pTo - p, m_delims.strInField.size() - 1);
    const unsigned char* const pDataEnd = pTo - nFieldTail;
    if (pDataEnd != p) {
      m_out.Write(p, pDataEnd - p);
      m_bRecordOpen = true;
    }
    return pDataEnd;
  }

  static unsigned char FieldByte(const CString& strField) { return static_cast<unsigned char>(strField[0]); }

  void EndRecord() {
    Put(m_out, m_delims.strOutRecord);
    m_bRecordOpen = false;
  }

  const Delimiters& m_delims;
  const DelimiterSearch m_recordSearch;
  const DelimiterSearch m_fieldSearch;
  CArchive& m_out;
  const bool m_bByteForByte;  // one-byte field delimiter in and out: the common case, done in bulk
  // Byte for byte, and the record delimiter goes out as it came in and holds no
  // field delimiter: whole runs of records are written at once.
  const bool m_bRecordsPassThrough;
  bool m_bRecordOpen = false;  // bytes or field delimiters since the last record delimiter
  bool m_bRecordDelimiterSeen = false;
  bool m_bFieldDelimiterSeen = false;
};

// Runs the scan from fileIn to fileOut and closes fileOut: the scan's status
// (QUORLIX_OK, NO_RECORD or NO_FIELD), or INPUT_ERROR when the input cannot be
// read, OUTPUT_ERROR when the output cannot be written.
int ConvertRecords(CFile& fileIn, CFile& fileOut, const Delimiters& delims, std::size_t nReadBytes) {
  // Room for one read after the carried-over bytes, which are shorter than both input delimiters together.
  const std::size_t nCarryBytes = delims.strInRecord.size() + delims.strInField.size();
  const auto pBuf = std::make_unique_for_overwrite<unsigned char[]>(nReadBytes + nCarryBytes);
  CArchive out(fileOut, CArchive::store);
  RecordScan scan(delims, out);
  try {
    std::size_t nCarried = 0;
    for (bool bAtEnd = false; !bAtEnd;) {
      std::size_t nGot = 0;
      try {
        nGot = fileIn.Read(pBuf.get() + nCarried, nReadBytes);
      } catch (const CFileException& e) {
        RecordFileFailure(e, FailedFile::kInput);
        return QUORLIX_DELIMITED_INPUT_ERROR;
      }
      bAtEnd = nGot < nReadBytes;
      const std::size_t nHeld = nCarried + nGot;
      const std::size_t nUsed = scan.Take(pBuf.get(), nHeld, bAtEnd);
      nCarried = nHeld - nUsed;
      assert(nCarried < nCarryBytes);
      std::memmove(pBuf.get(), pBuf.get() + nUsed, nCarried);
    }
    out.Close();
    fileOut.Close();
  } catch (const CFileException& e) {
    RecordFileFailure(e, FailedFile::kOutput);
    return QUORLIX_DELIMITED_OUTPUT_ERROR;
  }
  return scan.Status();
}

}  // namespace

// Every set-up check runs, in this order, and the last one that fails decides the
// status; both files are opened even after an empty delimiter. Both are opened shared, as
// the C runtime's streams open them, so a file another program holds open with
// sharing converts all the same, and the output write-only, as a stream opened "wb"
// is. An input that is not a regular file is refused as unreadable: /dev/zero
// would never end.
int ConvertDelimitedFile(const CString& strInPath, const CString& strInRecord, const CString& strInField,
                         const CString& strOutPath, const CString& strOutField, const CString& strOutRecord,
                         std::size_t nReadBytes) {
  assert(nReadBytes > 0);
  int nStatus = QUORLIX_OK;
  Delimiters delims;
  delims.strInRecord = AnsiToOem(strInRecord);
  if (delims.strInRecord.empty()) nStatus = QUORLIX_DELIMITED_NO_IN_RECORD;
  delims.strInField = AnsiToOem(strInField);
  if (delims.strInField.empty()) nStatus = QUORLIX_DELIMITED_NO_IN_FIELD;
  delims.strOutRecord = AnsiToOem(strOutRecord);
  delims.strOutField = AnsiToOem(strOutField);

  std::optional<CFile> fileIn;
  try {
    fileIn.emplace(strInPath, CFile::modeRead | CFile::shareDenyNone);
  } catch (const CFileException& e) {
    RecordFileFailure(e, FailedFile::kInput);
    nStatus = QUORLIX_DELIMITED_INPUT_ERROR;
  }
  std::optional<CFile> fileOut;
  if (NameSameFile(strInPath, strOutPath)) {
    RecordFailure(FailureCause::kOutputIsInput, FailedFile::kOutput);
    nStatus = QUORLIX_DELIMITED_OUTPUT_ERROR;  // creating it would truncate the input before a byte is read
  } else {
    try {
      fileOut.emplace(strOutPath, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyNone);
    } catch (const CFileException& e) {
      RecordFileFailure(e, FailedFile::kOutput);
      nStatus = QUORLIX_DELIMITED_OUTPUT_ERROR;
    }
  }
  if (nStatus != QUORLIX_OK) return nStatus;
  return ConvertRecords(*fileIn, *fileOut, delims, nReadBytes);
}
