// CAMFile: the document object of one conversion call. It holds the paths, the
// input and output buffers with their lengths, the status of the last step and
// the HTML tag texts. Each conversion adds its routines to this one class; the
// shared steps here read an input file whole (LoadInput) and write the output
// buffer to a new file (SaveOutput).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/archive.h"
#include "platform/byte_buffer.h"
#include "platform/file.h"
#include "platform/object.h"
#include "platform/platform_string.h"

struct FilingCopyFlags;
struct FilingStream;

// Statuses of the shared file steps; each export documents them in quorlix.h.
inline constexpr int kStatusOk = 0;
inline constexpr int kStatusInputError = 2;
inline constexpr int kStatusInputNotFound = 3;
inline constexpr int kStatusOutputNotFound = 5;
inline constexpr int kStatusOutputError = 6;
inline constexpr int kStatusTooManyFiles = 7;

// How one step turns the cause of a file failure into its status.
struct FileStatusMap {
  int nNotFound;
  int nTooManyFiles;
  int nOther;
};
inline constexpr FileStatusMap kInputFileStatuses{kStatusInputNotFound, kStatusTooManyFiles, kStatusInputError};
inline constexpr FileStatusMap kOutputFileStatuses{kStatusOutputNotFound, kStatusTooManyFiles, kStatusOutputError};

int StatusFromFileException(const CFileException& e, const FileStatusMap& statuses) noexcept;

class CAMFile : public CObject {
 public:
  static const CRuntimeClass classCAMFile;
  static constexpr unsigned kSchema = 1;

  // ---- Construction: one constructor per conversion ----
  CAMFile();  // dynamic creation only
  explicit CAMFile(const CString& strPath);                                  // verification
  CAMFile(const CString& strInPath, const CString& strOutPath);             // line endings
  CAMFile(const CString& strInPath, const CString& strOutPath, int bTablesOnly);  // HTML
  CAMFile(const CString& strInPath, const CString& strOutPath, const CString& strOutPath2);  // filing
  ~CAMFile() override;
  CAMFile(const CAMFile&) = delete;
  CAMFile& operator=(const CAMFile&) = delete;

  const CRuntimeClass* GetRuntimeClass() const override;

  // ---- Shared file steps ----
  // Reads m_strInPath whole into a new m_pInBuf: 0, or 3 (not found), 7 (too many
  // open files), 2 (any other failure, a file of 4 GiB or more included).
  int LoadInput();
  // Writes m_nOutLen bytes of m_pOutBuf to a created or truncated m_strOutPath and
  // releases the buffer: 0, or 5 (not found), 7 (too many open files), 6 (other).
  int SaveOutput();
  // Loading fills m_pInBuf with m_nInLen bytes; storing writes m_nOutLen bytes of
  // m_pOutBuf and then releases it. Nothing but the bytes is read or written.
  void Serialize(CArchive& ar) override;
  // When set, storing calls it instead of writing m_pOutBuf: a conversion that
  // writes its output as it makes it, m_nOutLen bytes in all, the buffer its scratch.
  void (*m_pfnStoreOutput)(CAMFile& doc, CArchive& ar) = nullptr;

  // ---- Line endings ----
  int ConvertLineEnds();
  int ConvertLineEndsSkipBlank();

  // ---- HTML to text ----
  int CheckHtmlNames(const CString& strInPath, const CString& strOutPath);
  int LoadHtmlInput();
  int ConvertHtml();
  int RenderBody();
  int ConvertTable(const unsigned char* pIn, unsigned char* pOut, std::uint32_t& nOut, std::uint32_t& nPos);
  int ConvertRow(const unsigned char* pIn, unsigned char* pOut, std::uint32_t& nOut, std::uint32_t& nPos);

  // ---- Filing decoder ----
  // Decodes the filing m_strInPath into the text output m_strOutPath and the
  // schedule output m_strOutPath2, block by block as one stream: 0, or 2 (a file
  // error, an output that is the filing, both outputs one file), 3, 7, 18.
  int DecodeFiling();
  // Reads the next block of the open filing into m_pInBuf (m_nBlockLen bytes).
  int ReadBlock(CFile& fileIn);
  // Decodes nLen bytes of m_pInBuf onto the stream; bEndsFiling also writes the
  // line left open at the end. 0, or 2, 3, 7 (writing failed), 18 (no memory).
  int DecodeBlock(FilingStream& stream, std::uint32_t nLen, bool bEndsFiling);
  // The line end: classifies stream.strLine by its tag, writes it, empties it.
  void EndFilingLine(FilingStream& stream);
  // Looks strTag (in capitals) up in the filing tag table and applies its action
  // to strLine and the flags; strLine becomes "<NUL>" when the line is dropped.
  int ClassifyFilingTag(const CString& strTag, CString& strLine, FilingCopyFlags& flags);
  // A schedule row: the label in 20 columns, then the value (with its line end)
  // right-aligned in 20 columns, or 21 when it holds a ')'.
  CString FormatScheduleRow(CString strLabel, CString strValue);
  // Where the block reading stands, in 64 bits so that no filing is too large;
  // m_nInLen and m_nBlockPos mirror them, saturated at their 32-bit limit.
  std::uint64_t m_nFilingLeft = 0;  // bytes of the filing not yet read
  std::uint64_t m_nFilingNext = 0;  // file offset of the next block

  // ---- File verification ----
  // The status of strPath's contents against its suffix: 0 agree, 18 disagree,
  // 17 no known suffix (the file is not touched), or 2/3/7 for a file error.
  int VerifyByExtension(const CString& strPath);
  // Runs the content test of a type code (0-15) on m_strInPath; stores and returns the status.
  int VerifyContents(int nTypeCode);
  // Scan the loaded m_pInBuf for a CR LF pair / a tag opening with "<HTML"; 0 or
  // 18. Both release m_pInBuf.
  int FindCRLF();
  int FindHtmlTag();

  // ---- Fields, in their declared order ----
  // Numbers start at 0 whatever the constructor, so no flow can read an unset one.
  ByteBuffer m_pInBuf;          // the input (its length lives in m_nInLen), or the filing block being decoded
  ByteBuffer m_pOutBuf;         // the output of a conversion routine
  std::uint32_t m_nInLen = 0;       // bytes in m_pInBuf; filing: bytes not yet read
  CString m_strInPath;
  CString m_strOutPath;         // output; filing: the text output
  CString m_strOutPath2;        // filing: the schedule output
  CString m_strHtmlTag;         // "<HTML>", sought by the HTML verification
  std::uint32_t m_nBodyStart = 0;   // index of the '>' of the last body start tag; 0 = none
  std::uint32_t m_nBodyEnd = 0;     // index of the '>' of the last body end tag; 0 = none
  std::uint32_t m_nOutLen = 0;      // bytes of m_pOutBuf to write
  std::uint32_t m_nBlockLen = 0;    // filing: bytes in the block in m_pInBuf
  std::uint32_t m_nBlockPos = 0;    // filing: file offset of the next block
  std::int32_t m_nStatus = 0;       // status of the last step; 0 = success
  std::int32_t m_bTablesOnly = 0;   // HTML: 1 = only tables produce output
  CString m_strBodyTag;         // "<BODY>"
  CString m_strBodyEndTag;      // "</BODY>"
  CString m_strTag;             // text of the tag being scanned
  CString m_strTableTag;        // "<TABLE>"
  CString m_strTableEndTag;     // "</TABLE>"
  CString m_strRowTag;          // "<TR>"
  CString m_strRowEndTag;       // "</TR>"
  CString m_strCellTag;         // "<TD>"
  CString m_strCellEndTag;      // "</TD>"
};
