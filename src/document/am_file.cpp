#include "document/am_file.h"

#include <limits>
#include <new>

namespace {

std::unique_ptr<CObject> CreateAMFile() { return std::make_unique<CAMFile>(); }

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

int CAMFile::LoadInput() {
  m_nInLen = 0;
  try {
    CFile file(m_strInPath, CFile::modeRead);
    const std::uint64_t nLength = file.GetLength();
    // The buffer length is a 32-bit field: a larger file is refused, never cut short.
    if (nLength > std::numeric_limits<std::uint32_t>::max()) return m_nStatus = kStatusInputError;
    m_nInLen = static_cast<std::uint32_t>(nLength);
    m_pInBuf = AllocateByteBuffer(m_nInLen);
    CArchive ar(file, CArchive::load);
    Serialize(ar);
    file.Close();
    m_nStatus = kStatusOk;
  } catch (const CFileException& e) {
    m_pInBuf.reset();
    m_nStatus = StatusFromFileException(e, kInputFileStatuses);
  } catch (const std::bad_alloc&) {
    m_nStatus = kStatusInputError;
  }
  return m_nStatus;
}

int CAMFile::SaveOutput() {
  try {
    CFile file(m_strOutPath, CFile::modeCreate | CFile::modeReadWrite);
    CArchive ar(file, CArchive::store);
    Serialize(ar);
    m_nStatus = kStatusOk;
    ar.Close();
    file.Close();
  } catch (const CFileException& e) {
    m_pOutBuf.reset();
    m_nStatus = StatusFromFileException(e, kOutputFileStatuses);
  }
  return m_nStatus;
}

void CAMFile::Serialize(CArchive& ar) {
  if (ar.IsLoading()) {
    // A file that ends before its measured length was changed under us.
    if (ar.Read(m_pInBuf.get(), m_nInLen) != m_nInLen) throw CFileException(CFileException::other);
  } else {
    if (m_pfnStoreOutput) m_pfnStoreOutput(*this, ar);
    else ar.Write(m_pOutBuf.get(), m_nOutLen);
    m_pOutBuf.reset();
  }
}
