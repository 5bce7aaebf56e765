// CAMFile: the document object of one conversion call. It holds the paths, the
// input and output buffers with their lengths, the status of the last step and
// the HTML tag texts. Each conversion adds its routines to this one class; the
// shared steps here read an input file whole (LoadInput) and write the output
// buffer to a new file (SaveOutput).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/archive.h"
#include "platform/byte_buffer.h"
#include "platform/failure_record.h"
#include "platform/file.h"
#include "platform/object.h"
#include "platform/platform_string.h"
#include "quorlix.h"
#include "scan/scan_level.h"

class CReadAhead;
class InputRelease;
struct FilingCopyFlags;
struct FilingStream;

// Statuses of the shared file steps. Each stands for the public statuses of the
// exports that give it unchanged, asserted below, so that quorlix.h stays the one
// place where a status has a number.
inline constexpr int kStatusOk = QUORLIX_OK;
inline constexpr int kStatusInputError = QUORLIX_CRLF_INPUT_ERROR;
inline constexpr int kStatusInputNotFound = QUORLIX_CRLF_INPUT_NOT_FOUND;
inline constexpr int kStatusOutputNotFound = QUORLIX_CRLF_OUTPUT_NOT_FOUND;
inline constexpr int kStatusOutputError = QUORLIX_CRLF_OUTPUT_ERROR;
inline constexpr int kStatusTooManyFiles = QUORLIX_CRLF_TOO_MANY_FILES;

static_assert(kStatusInputError == QUORLIX_CRLF_INPUT_ERROR && kStatusInputError == QUORLIX_HTML_INPUT_ERROR &&
              kStatusInputError == QUORLIX_VERIFY_FILE_ERROR);
static_assert(kStatusInputNotFound == QUORLIX_CRLF_INPUT_NOT_FOUND &&
              kStatusInputNotFound == QUORLIX_HTML_INPUT_NOT_FOUND && kStatusInputNotFound == QUORLIX_VERIFY_NOT_FOUND);
static_assert(kStatusOutputNotFound == QUORLIX_CRLF_OUTPUT_NOT_FOUND &&
              kStatusOutputNotFound == QUORLIX_HTML_OUTPUT_NOT_FOUND);
static_assert(kStatusOutputError == QUORLIX_CRLF_OUTPUT_ERROR && kStatusOutputError == QUORLIX_HTML_OUTPUT_ERROR);
static_assert(kStatusTooManyFiles == QUORLIX_CRLF_TOO_MANY_FILES &&
              kStatusTooManyFiles == QUORLIX_HTML_TOO_MANY_FILES &&
              kStatusTooManyFiles == QUORLIX_VERIFY_TOO_MANY_FILES);

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
  CAMFile();                                                                                 // dynamic creation only
  explicit CAMFile(const CString& strPath);                                                  // verification
  CAMFile(const CString& strInPath, const CString& strOutPath);                              // line endings
  CAMFile(const CString& strInPath, const CString& strOutPath, int bTablesOnly);             // HTML
  CAMFile(const CString& strInPath, const CString& strOutPath, const CString& strOutPath2);  // filing
  ~CAMFile() override;
  CAMFile(const CAMFile&) = delete;
  CAMFile& operator=(const CAMFile&) = delete;

  const CRuntimeClass* GetRuntimeClass() const override;

  // ---- Shared file steps ----
  // Reads m_strInPath whole into a new m_pInBuf: kStatusOk, or kStatusInputNotFound,
  // kStatusTooManyFiles, kStatusInputError (any other failure: no memory, a file that
  // is not a regular file, a file of 4 GiB or more). A file that measures more than
  // nLongestBytes (and less than 4 GiB) gives nTooLongStatus before a byte is read.
  // A file that measures 0 is read until its end, as /proc files must be, and gives
  // nTooLongStatus then when it proved longer than nLongestBytes.
  // takerWords name what the limit is of, for the failure record ("the line-end
  // conversion takes").
  int LoadInput(std::uint32_t nLongestBytes = 0xFFFFFFFF, int nTooLongStatus = kStatusInputError,
                std::string_view takerWords = kWholeInputTaker);
  static constexpr std::string_view kWholeInputTaker = "the library reads whole";
  // Writes m_nOutLen bytes of m_pOutBuf to m_strOutPath and releases the buffer:
  // kStatusOk, or kStatusOutputNotFound, kStatusTooManyFiles, kStatusOutputError
  // (any other failure). The output is created or truncated, unless it is the
  // input: then the same file is overwritten in place, after its new length was
  // reserved (see CFile::ReserveLength).
  int SaveOutput();
  // Loading fills m_pInBuf with m_nInLen bytes; storing writes m_nOutLen bytes of
  // m_pOutBuf and then releases it. Nothing but the bytes is read or written.
  void Serialize(CArchive& ar) override;
  // When set, storing calls it instead of writing m_pOutBuf: a conversion that
  // writes its output as it makes it, m_nOutLen bytes in all, the buffer its scratch.
  void (*m_pfnStoreOutput)(CAMFile& doc, CArchive& ar) = nullptr;

  // ---- Line endings ----
  // The output buffer is twice the input, and its length a 32-bit field.
  // The one place this limit and its words are written: the tool and the Python
  // package read them from the failure record.
  static constexpr std::uint32_t kLongestLineEndInputBytes = 0x7FFFFFFF;
  static constexpr std::string_view kLineEndTaker = "the line-end conversion takes";
  // LoadInput, but an input too long for the pass gives 18 before it is read.
  int LoadLineEndInput();
  int ConvertLineEnds();
  int ConvertLineEndsSkipBlank();
  // The whole conversion, input to output, when the output does not exist yet:
  // it is created at once and written as the input is read, a piece at a time,
  // with nothing held of the whole file. An input that fails part way removes it
  // again, so every status leaves the files as loading the input whole first
  // would. Gives no value, having done nothing, for any other output (one that
  // exists, such as the input itself, or one that cannot be created) and for an
  // input that measures 0 or too long: those go through LoadLineEndInput.
  std::optional<int> ConvertLineEndsIntoNewOutput(bool bSkipBlank);

  // ---- HTML to text ----
  // Both names right: kHtmlNamesRight, which the load then replaces, so no export
  // returns it. Otherwise the QUORLIX_HTML_*_WRONG status that says which is wrong.
  static constexpr int kHtmlNamesRight = 9;
  int CheckHtmlNames(const CString& strInPath, const CString& strOutPath);
  int LoadHtmlInput();
  int ConvertHtml();
  int RenderBody();
  // One form per scan level (html_table.cpp instantiates those the build has).
  template <ScanLevel L>
  int ConvertTable(const unsigned char* pIn, unsigned char* pOut, std::uint32_t& nOut, std::uint32_t& nPos,
                   InputRelease& release);
  int ConvertRow(const unsigned char* pIn, unsigned char* pOut, std::uint32_t& nOut, std::uint32_t& nPos);

  // ---- Filing decoder ----
  // Decodes the filing m_strInPath into the text output m_strOutPath and the
  // schedule output m_strOutPath2, block by block as one stream: QUORLIX_OK or a
  // QUORLIX_FILING_* status; FILE_ERROR also for an output that is the filing and
  // for both outputs in one file.
  int DecodeFiling();
  // Reads the next block of the open filing into m_pInBuf (m_nBlockLen bytes).
  // A filing read ahead comes from pAhead instead, block by block in the same order.
  int ReadBlock(CFile& fileIn, CReadAhead* pAhead = nullptr);
  // Decodes nLen bytes of m_pInBuf onto the stream; bEndsFiling also writes the
  // line left open at the end. QUORLIX_OK, a file status of QUORLIX_FILING_* when
  // writing failed, or QUORLIX_FILING_DECODE_FAILED (no memory).
  int DecodeBlock(FilingStream& stream, std::uint32_t nLen, bool bEndsFiling);
  // The line end: classifies the stream's current line by its tag and finishes it.
  void EndFilingLine(FilingStream& stream);
  // Looks strTag (in capitals) up in the filing tag table, applies its effect to
  // the flags, and gives what becomes of strRest, the line's remainder: strRest
  // itself, "<NUL>" when the line is dropped, or a schedule row made in strRow.
  std::string_view ClassifyFilingTag(std::string_view strTag, std::string_view strRest, CString& strRow,
                                     FilingCopyFlags& flags);
  // A schedule row: the label in 20 columns, then the value (with its line end)
  // right-aligned in 20 columns, or 21 when it holds a ')'.
  CString FormatScheduleRow(std::string_view strLabel, std::string_view strValue);

  // ---- File verification ----
  // The status of strPath's contents against its suffix: QUORLIX_OK when they agree,
  // QUORLIX_VERIFY_MISMATCH when not, QUORLIX_VERIFY_UNKNOWN_SUFFIX (the file is not
  // touched), or the status of a file error.
  int VerifyByExtension(const CString& strPath);
  // Runs the content test of a type code (0-15) on m_strInPath; stores and returns the status.
  int VerifyContents(int nTypeCode);
  // Scan m_strInPath in blocks for a CR LF pair / a tag opening with "<HTML":
  // QUORLIX_OK, QUORLIX_VERIFY_MISMATCH, or the status of a file error.
  int FindCRLF();
  int FindHtmlTag();

  // ---- Fields, in their declared order ----
  // Numbers start at 0 whatever the constructor, so no flow can read an unset one.
  // Some fields keep the object's shape only: they are set, but no routine reads
  // them. These are m_strTableTag, m_strTableEndTag, m_strRowTag, m_strRowEndTag,
  // m_nBlockPos, and m_nInLen while a filing is decoded (the 64-bit block below
  // drives the reading). m_strCellTag and m_strCellEndTag are read by no routine
  // either: the table's tag rules write "<TD" and "</TD" out, because the same
  // rules hold the header cell tags, which have no field, and are fixed at compile
  // time.
  ByteBuffer m_pInBuf;         // the input (its length lives in m_nInLen), or the filing block being decoded
  ByteBuffer m_pOutBuf;        // the output of a conversion routine
  std::uint32_t m_nInLen = 0;  // bytes in m_pInBuf; filing: bytes not yet read, saturated
  CString m_strInPath;
  CString m_strOutPath;                // output; filing: the text output
  CString m_strOutPath2;               // filing: the schedule output
  CString m_strHtmlTag;                // "<HTML>", sought by the HTML verification
  std::uint32_t m_nBodyStart = 0;      // index of the '>' of the last body start tag; 0 = none
  std::uint32_t m_nBodyEnd = 0;        // index of the '>' of the last body end tag; 0 = none
  std::uint32_t m_nOutLen = 0;         // bytes of m_pOutBuf to write
  std::uint32_t m_nBlockLen = 0;       // filing: bytes in the block in m_pInBuf
  std::uint32_t m_nBlockPos = 0;       // filing: file offset of the next block, saturated
  std::int32_t m_nStatus = kStatusOk;  // status of the last step
  std::int32_t m_bTablesOnly = 0;      // HTML: 1 = only tables produce output
  CString m_strBodyTag;                // "<BODY>"
  CString m_strBodyEndTag;             // "</BODY>"
  CString m_strTag;                    // text of the tag being scanned
  CString m_strTableTag;               // "<TABLE>"
  CString m_strTableEndTag;            // "</TABLE>"
  CString m_strRowTag;                 // "<TR>"
  CString m_strRowEndTag;              // "</TR>"
  CString m_strCellTag;                // "<TD>"
  CString m_strCellEndTag;             // "</TD>"

  // ---- Filing reading position, in 64 bits ----
  // Not among the fields above: a filing may be larger than their 32 bits can
  // count. m_nInLen and m_nBlockPos mirror these, saturated at their 32-bit limit.
  std::uint64_t m_nFilingLeft = 0;  // bytes of the filing not yet read
  std::uint64_t m_nFilingNext = 0;  // file offset of the next block
};
