#include "document/am_file.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

std::unique_ptr<CObject> CreateAMFile() { return std::make_unique<CAMFile>(); }

// The first buffer for a file that measures 0; it doubles as the file goes on.
constexpr std::size_t kUnmeasuredFirstBytes = 64 * 1024;
constexpr std::uint64_t kLongestInputBytes = std::numeric_limits<std::uint32_t>::max();

// Reads a file that measured 0 until its end: /proc files measure 0 and hold
// data. One byte more than the longest input is asked for, so that a file too
// long for the 32-bit length is refused, never cut short.
ByteBuffer ReadUntilEnd(CFile& file, std::uint32_t& nLen) {
  ByteBuffer pBuf;
  std::uint64_t nCapacity = 0;
  std::uint64_t nHeld = 0;
  for (;;) {
    if (nHeld == nCapacity) {
      const std::uint64_t nGrown =
          std::min(std::max<std::uint64_t>(2 * nCapacity, kUnmeasuredFirstBytes), kLongestInputBytes + 1);
      if (nGrown > std::numeric_limits<std::size_t>::max()) throw std::bad_alloc();
      ByteBuffer pGrown = AllocateByteBuffer(static_cast<std::size_t>(nGrown));
      if (nHeld > 0) std::memcpy(pGrown.get(), pBuf.get(), static_cast<std::size_t>(nHeld));
      pBuf = std::move(pGrown);
      nCapacity = nGrown;
    }
    const std::size_t nGot = file.Read(pBuf.get() + nHeld, static_cast<std::size_t>(nCapacity - nHeld));
    if (nGot == 0) break;
    nHeld += nGot;
    if (nHeld > kLongestInputBytes)
      throw CFileException(CFileException::other, FailureCause::kInputTooLarge, 0, FileOperation::kRead);
  }
  nLen = static_cast<std::uint32_t>(nHeld);
  return pBuf;
}

}  // namespace

const CRuntimeClass CAMFile::classCAMFile{"CAMFile", CAMFile::kSchema, &CreateAMFile, &CObject::classCObject};

// Registers the class from library load to unload.
static const CClassRegistration g_registerAMFile(CAMFile::classCAMFile);

const CRuntimeClass* CAMFile::GetRuntimeClass() const { return &classCAMFile; }

int StatusFromFileException(const CFileException& e, const FileStatusMap& statuses) noexcept {
  switch (e.GetCause()) {
    case CFileException::fileNotFound: return statuses.nNotFound;
    case CFileException::tooManyOpenFiles: return statuses.nTooManyFiles;
    case CFileException::other: break;
  }
  return statuses.nOther;
}

// ---- Construction ----

CAMFile::CAMFile() = default;

CAMFile::CAMFile(const CString& strPath) : m_strInPath(strPath), m_strHtmlTag("<HTML>") {}

CAMFile::CAMFile(const CString& strInPath, const CString& strOutPath)
    : m_strInPath(strInPath), m_strOutPath(strOutPath) {}

CAMFile::CAMFile(const CString& strInPath, const CString& strOutPath, int bTablesOnly)
    : m_strInPath(strInPath),
      m_strOutPath(strOutPath),
      m_bTablesOnly(bTablesOnly),
      m_strBodyTag("<BODY>"),
      m_strBodyEndTag("</BODY>"),
      m_strTableTag("<TABLE>"),
      m_strTableEndTag("</TABLE>"),
      m_strRowTag("<TR>"),
      m_strRowEndTag("</TR>"),
      m_strCellTag("<TD>"),
      m_strCellEndTag("</TD>") {}

CAMFile::CAMFile(const CString& strInPath, const CString& strOutPath, const CString& strOutPath2)
    : m_strInPath(strInPath), m_strOutPath(strOutPath), m_strOutPath2(strOutPath2) {}

CAMFile::~CAMFile() = default;

// ---- Shared file steps ----

int CAMFile::LoadInput(std::uint32_t nLongestBytes, int nTooLongStatus, std::string_view takerWords) {
  m_nInLen = 0;
  try {
    CFile file(m_strInPath, CFile::modeRead);
    const std::uint64_t nLength = file.GetLength();
    // The buffer length is a 32-bit field: a larger file is refused, never cut short.
    if (nLength > kLongestInputBytes) {
      RecordInputTooLarge(nLength, kLongestInputBytes, kWholeInputTaker);
      return m_nStatus = kStatusInputError;
    }
    if (nLength > nLongestBytes) {
      RecordInputTooLarge(nLength, nLongestBytes, takerWords);
      return m_nStatus = nTooLongStatus;
    }
    if (nLength == 0) {
      m_pInBuf = ReadUntilEnd(file, m_nInLen);
      // Its length is known only now, and is held to the same limit.
      if (m_nInLen > nLongestBytes) {
        RecordInputTooLarge(m_nInLen, nLongestBytes, takerWords);
        m_pInBuf.reset();
        m_nInLen = 0;
        return m_nStatus = nTooLongStatus;
      }
    } else {
      m_nInLen = static_cast<std::uint32_t>(nLength);
      m_pInBuf = AllocateByteBuffer(m_nInLen);
      CArchive ar(file, CArchive::load);
      Serialize(ar);
    }
    file.Close();
    m_nStatus = kStatusOk;
  } catch (const CFileException& e) {
    RecordFileFailure(e, FailedFile::kInput);
    m_pInBuf.reset();
    m_nInLen = 0;
    m_nStatus = StatusFromFileException(e, kInputFileStatuses);
  } catch (const std::bad_alloc&) {
    RecordFailure(FailureCause::kNoMemory, FailedFile::kInput);
    m_nInLen = 0;
    m_nStatus = kStatusInputError;
  }
  return m_nStatus;
}

// An output that is the input, by whatever name, is overwritten in place: the
// same file keeps its links, owner, permissions and extended attributes. Its
// new length is reserved before a byte changes, so running out of space or into
// the size limit fails with the file as it was. Any other output is created or
// truncated.
int CAMFile::SaveOutput() {
  try {
    const bool bInPlace = NameSameFile(m_strInPath, m_strOutPath);
    CFile file(m_strOutPath, bInPlace ? CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite
                                      : CFile::modeCreate | CFile::modeOutput);
    if (bInPlace) file.ReserveLength(m_nOutLen);
    CArchive ar(file, CArchive::store);
    Serialize(ar);
    m_nStatus = kStatusOk;
    ar.Close();
    // A store routine that writes as it converts leaves the exact length in
    // m_nOutLen, which may be less than the length reserved.
    if (bInPlace) file.SetLength(m_nOutLen);
    file.Close();
  } catch (const CFileException& e) {
    RecordFileFailure(e, FailedFile::kOutput);
    m_pOutBuf.reset();
    m_nStatus = StatusFromFileException(e, kOutputFileStatuses);
  }
  return m_nStatus;
}

void CAMFile::Serialize(CArchive& ar) {
  if (ar.IsLoading()) {
    // A file that ends before its measured length was changed under us.
    if (ar.Read(m_pInBuf.get(), m_nInLen) != m_nInLen)
      throw CFileException(CFileException::other, FailureCause::kChangedWhileRead, 0, FileOperation::kRead);
  } else {
    if (m_pfnStoreOutput) m_pfnStoreOutput(*this, ar);
    else ar.Write(m_pOutBuf.get(), m_nOutLen);
    m_pOutBuf.reset();
  }
}
