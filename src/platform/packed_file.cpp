// The packed file through libarchive. libarchive reads from two callbacks of
// ours: the file's bytes (the block already read first, then the source), and
// for a compressed member the outer archive's data. An exception raised inside
// a callback cannot cross libarchive's C frames: it is held, the callback
// reports a failure, and the exception is raised again once libarchive returns.
#include "platform/packed_file.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <new>
#include <span>
#include <utility>

#include "platform/file.h"

namespace {

// ---- Signatures ----

// The first bytes of each compression libarchive is asked to undo.
constexpr std::string_view kCompressionSignatures[] = {
    {"\x1f\x8b", 2},  // gzip
    {"\x1f\x9d", 2},  // compress (.Z)
    {"BZh", 3},       // bzip2
    {"\xfd"
     "7zXZ\x00",
     6},  // xz
};
constexpr std::size_t kLongestSignature = 6;

bool StartsWith(std::span<const unsigned char> head, std::string_view signature) {
  return head.size() >= signature.size() &&
         std::equal(signature.begin(), signature.end(), head.begin(),
                    [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; });
}

bool HasCompressionSignature(std::span<const unsigned char> head) {
  return std::ranges::any_of(kCompressionSignatures, [&](std::string_view s) { return StartsWith(head, s); });
}

// A tar header is 512 bytes whose checksum field (8 bytes at 148) holds an octal
// number after optional blanks: libarchive reads it so and compares it with the
// header's sum, which is never 0.
constexpr std::size_t kTarHeaderBytes = 512;
constexpr std::size_t kTarChecksumAt = 148;

bool MayBeTarHeader(std::span<const unsigned char> head) {
  if (head.size() < kTarHeaderBytes) return false;
  for (std::size_t i = kTarChecksumAt; i < kTarChecksumAt + 8; ++i) {
    if (head[i] == ' ' || head[i] == '\t') continue;
    return head[i] >= '0' && head[i] <= '7';
  }
  return false;
}

// ---- What libarchive is asked to read ----

// Filters undo a compression; bWithArchives adds the archive formats (a member
// is decompressed, never unpacked). The raw format takes a compressed file that
// is no archive, and plain bytes, which are the caller's to read.
void Configure(struct archive* pArchive, bool bWithArchives) {
  archive_read_support_filter_gzip(pArchive);
  archive_read_support_filter_bzip2(pArchive);
  archive_read_support_filter_xz(pArchive);
  archive_read_support_filter_compress(pArchive);
  if (bWithArchives) {
    archive_read_support_format_tar(pArchive);
    archive_read_support_format_zip_streamable(pArchive);
  }
  archive_read_support_format_raw(pArchive);
}

// ---- Words ----

struct FilterWords {
  int nCode;
  std::string_view words;  // before " file" or " tar archive"
};
constexpr FilterWords kFilterWords[] = {
    {ARCHIVE_FILTER_GZIP, "a gzip-compressed"},
    {ARCHIVE_FILTER_BZIP2, "a bzip2-compressed"},
    {ARCHIVE_FILTER_XZ, "an xz-compressed"},
    {ARCHIVE_FILTER_COMPRESS, "a compress (.Z)"},
};

struct FormatWords {
  int nBase;
  std::string_view name;
};
constexpr FormatWords kFormatWords[] = {
    {ARCHIVE_FORMAT_TAR, "tar archive"},
    {ARCHIVE_FORMAT_ZIP, "zip archive"},
};

// The outermost compression libarchive undoes, or none.
const FilterWords* FindCompression(struct archive* pArchive) {
  const int nFilters = archive_filter_count(pArchive);
  for (int i = 0; i < nFilters; ++i) {
    const int nCode = archive_filter_code(pArchive, i);
    const auto* words = std::ranges::find(kFilterWords, nCode, &FilterWords::nCode);
    if (words != std::end(kFilterWords)) return words;
  }
  return nullptr;
}

const FormatWords* FindArchiveFormat(struct archive* pArchive) {
  const int nBase = archive_format(pArchive) & ARCHIVE_FORMAT_BASE_MASK;
  const auto* words = std::ranges::find(kFormatWords, nBase, &FormatWords::nBase);
  return words == std::end(kFormatWords) ? nullptr : words;
}

// A call's result that lets the reading go on: success, or a warning (a name
// that could not be converted, say). ARCHIVE_RETRY is a damaged header that
// libarchive would pass over, and counts as the damage it is.
bool IsGoOn(int nResult) { return nResult == ARCHIVE_OK || nResult == ARCHIVE_WARN; }

std::string LimitWords(std::uint64_t nMostMembers) {
  return "the archive has more than " + std::to_string(nMostMembers) + " members (a limit against decompression bombs)";
}

std::string SizeWords(std::uint64_t nMostBytes) {
  const bool bGiB = nMostBytes % (std::uint64_t{1} << 30) == 0;
  return "is larger than " + std::to_string(bGiB ? nMostBytes >> 30 : nMostBytes) + (bGiB ? " GiB" : " bytes") +
         " decompressed (a limit against decompression bombs)";
}

}  // namespace

bool MayBePacked(const unsigned char* pHead, std::size_t nHead) {
  const std::span<const unsigned char> head(pHead, nHead);
  return HasCompressionSignature(head) || StartsWith(head, "PK") || MayBeTarHeader(head);
}

// ---- Callbacks ----

struct PackedCallbacks {
  // The file's bytes: the block read first, then the source's.
  static la_ssize_t ReadOuter(struct archive* pArchive, void* pContext, const void** ppBuffer) {
    auto& reader = *static_cast<CPackedReader*>(pContext);
    *ppBuffer = reader.m_pBuffer;
    if (reader.m_nHead != 0) {
      const std::size_t nHead = std::exchange(reader.m_nHead, 0);
      return static_cast<la_ssize_t>(nHead);
    }
    try {
      const std::size_t nGot = reader.m_source.Read(reader.m_pBuffer, reader.m_nBufferBytes);
      if (nGot != 0) reader.m_bHeadIntact = false;
      return static_cast<la_ssize_t>(nGot);
    } catch (...) {
      reader.m_pSourceError = std::current_exception();
      archive_set_error(pArchive, EIO, "the file could not be read");
      return -1;
    }
  }

  // A compressed member's bytes: its first block, then the outer archive's.
  static la_ssize_t ReadInner(struct archive* pArchive, void* pContext, const void** ppBuffer) {
    auto& reader = *static_cast<CPackedReader*>(pContext);
    if (!reader.m_bPendingTaken) {
      reader.m_bPendingTaken = true;
      *ppBuffer = reader.m_pPending;
      return static_cast<la_ssize_t>(reader.m_nPending);
    }
    try {
      const unsigned char* pBytes = nullptr;
      const std::size_t nBytes = reader.ReadOuterBlock(pBytes);
      *ppBuffer = pBytes;
      return static_cast<la_ssize_t>(nBytes);
    } catch (...) {
      reader.m_pSourceError = std::current_exception();
      archive_set_error(pArchive, EIO, "the member could not be read");
      return -1;
    }
  }
};

// ---- The reader ----

CPackedReader::CPackedReader(PackedSource& source, unsigned char* pBuffer, std::size_t nBufferBytes, std::size_t nHead,
                             const PackingLimits& limits)
    : m_source(source), m_pBuffer(pBuffer), m_nBufferBytes(nBufferBytes), m_nHead(nHead), m_limits(limits) {
  m_pOuter = archive_read_new();
  if (!m_pOuter) throw std::bad_alloc();
  Configure(m_pOuter, true);
  if (archive_read_open(m_pOuter, this, nullptr, PackedCallbacks::ReadOuter, nullptr) != ARCHIVE_OK) {
    archive_read_free(m_pOuter);  // a constructor that throws gets no destructor
    m_pOuter = nullptr;
    if (m_pSourceError) std::rethrow_exception(m_pSourceError);
    throw CPackedError(CPackedError::Where::kFile, {}, "cannot be opened");
  }
  LearnKind(archive_read_next_header(m_pOuter, &m_pEntry));
}

CPackedReader::~CPackedReader() {
  if (m_pInner) archive_read_free(m_pInner);
  if (m_pOuter) archive_read_free(m_pOuter);
}

// The first header tells the format, or fails (it is raised by NextFile); the
// filters are known once the file is open.
void CPackedReader::LearnKind(int nFirstHeader) {
  m_nFirstHeader = nFirstHeader;
  const FilterWords* compression = FindCompression(m_pOuter);
  const FormatWords* format = FindArchiveFormat(m_pOuter);
  if (format) {
    m_kind.packing = Packing::kArchive;
    m_kind.words = compression ? std::string(compression->words) + " " + std::string(format->name)
                               : "a " + std::string(format->name);
  } else if (compression) {
    m_kind.packing = Packing::kCompressed;
    m_kind.words = std::string(compression->words) + " file";
  }
}

void CPackedReader::Fail(struct archive* pArchive, CPackedError::Where where) {
  if (m_pSourceError) std::rethrow_exception(std::exchange(m_pSourceError, nullptr));
  const char* pszReason = archive_error_string(pArchive);
  throw CPackedError(where, where == CPackedError::Where::kFile ? std::string() : m_member,
                     pszReason && *pszReason ? pszReason : "damaged");
}

bool CPackedReader::NextFile() {
  if (m_bEnded) return false;
  if (m_pInner) {
    archive_read_free(m_pInner);
    m_pInner = nullptr;
  }
  m_bPendingTaken = true;
  m_nFileBytes = 0;
  for (;;) {
    const bool bFirst = !m_bFirstHeaderTaken;
    m_bFirstHeaderTaken = true;
    const int nResult = bFirst ? m_nFirstHeader : archive_read_next_header(m_pOuter, &m_pEntry);
    if (nResult == ARCHIVE_EOF || (!bFirst && m_kind.packing != Packing::kArchive)) {
      m_bEnded = true;
      return false;
    }
    if (!IsGoOn(nResult)) {
      if (m_kind.packing != Packing::kArchive) Fail(m_pOuter, CPackedError::Where::kFile);
      Fail(m_pOuter, CPackedError::Where::kAfterMember);
    }
    if (m_kind.packing != Packing::kArchive) return true;  // the one file of a compressed file
    if (++m_nEntries > m_limits.nMostMembers)
      throw CPackedError(CPackedError::Where::kFile, {}, LimitWords(m_limits.nMostMembers));
    if (archive_entry_filetype(m_pEntry) != AE_IFREG || archive_entry_hardlink(m_pEntry)) continue;
    const char* pszPath = archive_entry_pathname(m_pEntry);
    if (!pszPath) pszPath = archive_entry_pathname_utf8(m_pEntry);
    m_member = pszPath ? pszPath : "";
    ++m_nMembers;
    if (archive_entry_size_is_set(m_pEntry) &&
        static_cast<std::uint64_t>(archive_entry_size(m_pEntry)) > m_limits.nMostFileBytes)
      throw CPackedError(CPackedError::Where::kMember, m_member, SizeWords(m_limits.nMostFileBytes));
    PeekMember();
    return true;
  }
}

// A member's first bytes, to see whether it is compressed: a block of the
// outer archive, which may be short where a member starts near the end of a
// buffer, so a few more are joined to it when it is.
void CPackedReader::PeekMember() {
  m_nPending = ReadOuterBlock(m_pPending);
  if (m_nPending < kLongestSignature && m_nPending != 0) {
    m_peek.assign(reinterpret_cast<const char*>(m_pPending), m_nPending);
    const unsigned char* pMore = nullptr;
    while (m_peek.size() < kLongestSignature) {
      const std::size_t nMore = ReadOuterBlock(pMore);
      if (nMore == 0) break;
      m_peek.append(reinterpret_cast<const char*>(pMore), nMore);
    }
    m_pPending = reinterpret_cast<const unsigned char*>(m_peek.data());
    m_nPending = m_peek.size();
  }
  m_bPendingTaken = m_nPending == 0;
  if (HasCompressionSignature({m_pPending, m_nPending})) OpenInner();
}

void CPackedReader::OpenInner() {
  m_pInner = archive_read_new();
  if (!m_pInner) throw std::bad_alloc();
  Configure(m_pInner, false);
  struct archive_entry* pEntry = nullptr;
  if (archive_read_open(m_pInner, this, nullptr, PackedCallbacks::ReadInner, nullptr) != ARCHIVE_OK ||
      !IsGoOn(archive_read_next_header(m_pInner, &pEntry)))
    Fail(m_pInner, CPackedError::Where::kMember);
}

std::size_t CPackedReader::ReadOuterBlock(const unsigned char*& pBytes) {
  for (;;) {
    const void* pData = nullptr;
    std::size_t nSize = 0;
    la_int64_t nOffset = 0;  // a sparse member's holes are passed over
    const int nResult = archive_read_data_block(m_pOuter, &pData, &nSize, &nOffset);
    if (nResult == ARCHIVE_EOF) return 0;
    if (!IsGoOn(nResult))
      Fail(m_pOuter, m_kind.packing == Packing::kArchive ? CPackedError::Where::kMember : CPackedError::Where::kFile);
    if (nSize == 0) continue;
    pBytes = static_cast<const unsigned char*>(pData);
    return nSize;
  }
}

std::size_t CPackedReader::ReadBlock(const unsigned char*& pBytes) {
  std::size_t nSize = 0;
  if (m_pInner) {
    for (;;) {
      const void* pData = nullptr;
      la_int64_t nOffset = 0;
      const int nResult = archive_read_data_block(m_pInner, &pData, &nSize, &nOffset);
      if (nResult == ARCHIVE_EOF) return 0;
      if (!IsGoOn(nResult)) Fail(m_pInner, CPackedError::Where::kMember);
      if (nSize == 0) continue;
      pBytes = static_cast<const unsigned char*>(pData);
      break;
    }
  } else if (!m_bPendingTaken) {
    m_bPendingTaken = true;
    pBytes = m_pPending;
    nSize = m_nPending;
  } else {
    nSize = ReadOuterBlock(pBytes);
  }
  m_nFileBytes += nSize;
  if (m_nFileBytes > m_limits.nMostFileBytes) {
    const bool bMember = m_kind.packing == Packing::kArchive;
    throw CPackedError(bMember ? CPackedError::Where::kMember : CPackedError::Where::kFile, bMember ? m_member : "",
                       (bMember ? "" : "the file ") + SizeWords(m_limits.nMostFileBytes));
  }
  return nSize;
}

// ---- Telling a file's packing ----

namespace {

class FileSource final : public PackedSource {
 public:
  explicit FileSource(CFile& file) : m_file(file) {}
  std::size_t Read(unsigned char* pBuf, std::size_t nCount) override { return m_file.Read(pBuf, nCount); }

 private:
  CFile& m_file;
};

// A page: more than any signature or header needs, and no more than a plain
// file's answer costs.
constexpr std::size_t kProbeBlockBytes = 4096;

}  // namespace

PackingKind ProbeFilePacking(const CString& strPath) {
  CFile file(strPath, CFile::modeRead);
  unsigned char block[kProbeBlockBytes];
  const std::size_t nHead = file.Read(block, kProbeBlockBytes);
  if (!MayBePacked(block, nHead)) return {};
  FileSource source(file);
  try {
    const CPackedReader reader(source, block, kProbeBlockBytes, nHead);
    return reader.Kind();
  } catch (const CPackedError&) {
    return {};  // libarchive cannot even open it: plain bytes
  }
}
