// The exported functions. Each copies its string arguments, runs its conversion
// on a document of its own and returns the status; nothing escapes to the host.
#include "quorlix.h"

#include "delimited/delimited_convert.h"
#include "document/am_file.h"
#include "platform/failure_record.h"

namespace {

// The host may pass a null pointer for a string; it stands for the empty string.
CString OwnedString(const char* psz) { return psz ? CString(psz) : CString(); }

// Runs one export's body; a failure that no step turned into a status (no memory
// for the owned strings) becomes nFailureStatus. The thread's failure record
// starts empty and ends with the status: the steps record where they fail.
template <typename Body>
int RunExport(int nFailureStatus, Body body) noexcept {
  ClearFailure();
  int nStatus = nFailureStatus;
  try {
    nStatus = body();
  } catch (...) {
    RecordFailure(FailureCause::kNoMemory, FailedFile::kNone);
  }
  FinishFailure(nStatus);
  return nStatus;
}

}  // namespace

extern "C" {

QUORLIX_API int QUORLIX_CALL CvtDLLVersion(void) {
  ClearFailure();
  return QUORLIX_DLL_VERSION;
}

QUORLIX_API int QUORLIX_CALL CvtCRLF(const char* pszInPath, const char* pszOutPath, int nMode) {
  return RunExport(QUORLIX_CRLF_PASS_FAILED, [&] {
    CAMFile doc(OwnedString(pszInPath), OwnedString(pszOutPath));
    if (const std::optional<int> nStreamed = doc.ConvertLineEndsIntoNewOutput(nMode == 1)) return *nStreamed;
    const int nLoaded = doc.LoadLineEndInput();
    if (nLoaded != QUORLIX_OK) return nLoaded;
    return nMode == 1 ? doc.ConvertLineEndsSkipBlank() : doc.ConvertLineEnds();
  });
}

QUORLIX_API int QUORLIX_CALL CvtDecodeFiling(const char* pszFilingPath, const char* pszTextPath,
                                             const char* pszSchedulePath) {
  return RunExport(QUORLIX_FILING_DECODE_FAILED, [&] {
    CAMFile doc(OwnedString(pszFilingPath), OwnedString(pszTextPath), OwnedString(pszSchedulePath));
    return doc.DecodeFiling();
  });
}

QUORLIX_API int QUORLIX_CALL CvtHTMLtoText(const char* pszInPath, const char* pszOutPath, int nTablesOnly) {
  // Without memory for the two paths the input cannot be read.
  return RunExport(QUORLIX_HTML_INPUT_ERROR, [&] {
    CAMFile doc(OwnedString(pszInPath), OwnedString(pszOutPath), nTablesOnly);
    const int nLoaded = doc.LoadHtmlInput();
    if (nLoaded != QUORLIX_OK) return nLoaded;
    return doc.ConvertHtml();
  });
}

QUORLIX_API int QUORLIX_CALL CvtVerifyFile(const char* pszPath) {
  return RunExport(QUORLIX_VERIFY_FILE_ERROR, [&] {
    const CString strPath = OwnedString(pszPath);
    CAMFile doc(strPath);
    return doc.VerifyByExtension(strPath);
  });
}

QUORLIX_API int QUORLIX_CALL CvtDelimitedFile(const char* pszInPath, const char* pszInRecord, const char* pszInField,
                                              const char* pszOutPath, const char* pszOutField,
                                              const char* pszOutRecord) {
  return RunExport(QUORLIX_DELIMITED_INPUT_ERROR, [&] {
    return ConvertDelimitedFile(OwnedString(pszInPath), OwnedString(pszInRecord), OwnedString(pszInField),
                                OwnedString(pszOutPath), OwnedString(pszOutField), OwnedString(pszOutRecord));
  });
}

}  // extern "C"
