// Files taken by their content, not their name: plain, compressed (gzip, one
// member or several, bzip2, xz, compress), or an archive (tar or zip, plain or
// compressed), read through libarchive. An archive's regular members are its
// files; a member that is itself compressed is decompressed, one level. A
// compressed file that is no archive is one file, its decompressed bytes.
// libquorlix.so only (QUORLIX.dll depends on the system's own libraries alone).
//
// What a file's packing is, and its words, is decided here alone: by
// libarchive's own tests of the bytes, after a test of the first bytes
// (MayBePacked) that lets every plain file pass without starting libarchive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "platform/platform_string.h"

struct archive;
struct archive_entry;

enum class Packing : unsigned char {
  kPlain,       // its bytes are its content
  kCompressed,  // one compressed file
  kArchive,     // a tar or zip archive, plain or compressed
};

struct PackingKind {
  Packing packing = Packing::kPlain;
  // "a gzip-compressed file", "a tar archive", "a gzip-compressed tar archive",
  // "a zip archive", ...; empty for a plain file.
  std::string words;
};

// A packed file that cannot be read on: damaged (libarchive's reason), or past a
// limit. The member it concerns is named where there is one.
class CPackedError : public std::exception {
 public:
  enum class Where : unsigned char {
    kFile,         // the file as a whole
    kMember,       // in member
    kAfterMember,  // the header after member (empty: the first header)
  };
  CPackedError(Where where, std::string member, std::string reason)
      : m_where(where), m_member(std::move(member)), m_reason(std::move(reason)) {}
  Where GetWhere() const noexcept { return m_where; }
  const std::string& Member() const noexcept { return m_member; }
  const std::string& Reason() const noexcept { return m_reason; }
  const char* what() const noexcept override { return m_reason.c_str(); }

 private:
  Where m_where;
  std::string m_member;
  std::string m_reason;
};

// Where a packed file's bytes come from.
class PackedSource {
 public:
  // Reads up to nCount bytes into pBuf; fewer only at the end. Raises what the
  // file raises (CFileException).
  virtual std::size_t Read(unsigned char* pBuf, std::size_t nCount) = 0;

 protected:
  ~PackedSource() = default;
};

// Limits against decompression bombs.
struct PackingLimits {
  std::uint64_t nMostFileBytes = std::uint64_t{4} << 30;  // decompressed: a member, or a compressed file
  std::uint64_t nMostMembers = 1000000;                   // an archive's entries, of any kind
};

// False when a file beginning with these bytes (its first nHead, or all of it)
// is plain for sure: no compression's signature, no zip signature, and no tar
// header (whose checksum field holds octal digits). True leaves it to libarchive.
bool MayBePacked(const unsigned char* pHead, std::size_t nHead);

// Reads one packed file. Not for plain files: Kind() then says kPlain, and the
// caller reads the bytes itself.
class CPackedReader {
 public:
  // Starts reading the stream whose first nHead bytes are at pBuffer (read
  // already); its later bytes are read from source into pBuffer (nBufferBytes),
  // which the reader uses until it is destroyed. Learns the packing, reading
  // what that takes. Raises CFileException from the source, CPackedError when
  // the start is damaged, std::bad_alloc.
  CPackedReader(PackedSource& source, unsigned char* pBuffer, std::size_t nBufferBytes, std::size_t nHead,
                const PackingLimits& limits = {});
  ~CPackedReader();
  CPackedReader(const CPackedReader&) = delete;
  CPackedReader& operator=(const CPackedReader&) = delete;

  const PackingKind& Kind() const noexcept { return m_kind; }

  // Moves to the next file: a compressed file's one, an archive's next regular
  // member. False at the end. Raises CPackedError (a damaged header, too many
  // members, a member over the size limit) and CFileException.
  bool NextFile();
  // The member's path as the archive holds it (its bytes); empty for a compressed file.
  std::string_view MemberPath() const noexcept { return m_member; }
  // Points pBytes at the file's next bytes, valid until the next call; returns
  // their count, 0 at the file's end. Raises CPackedError and CFileException.
  std::size_t ReadBlock(const unsigned char*& pBytes);
  // Regular members read so far.
  std::uint64_t MembersRead() const noexcept { return m_nMembers; }
  // True while the bytes read first are still at the buffer: libarchive has
  // read nothing more from the source.
  bool IsHeadIntact() const noexcept { return m_bHeadIntact; }

 private:
  friend struct PackedCallbacks;  // libarchive's read callbacks

  [[noreturn]] void Fail(struct archive* pArchive, CPackedError::Where where);
  void LearnKind(int nFirstHeader);
  void PeekMember();
  void OpenInner();
  std::size_t ReadOuterBlock(const unsigned char*& pBytes);

  PackedSource& m_source;
  unsigned char* const m_pBuffer;
  const std::size_t m_nBufferBytes;
  std::size_t m_nHead;  // bytes at m_pBuffer not yet handed to libarchive
  bool m_bHeadIntact = true;
  const PackingLimits m_limits;
  std::exception_ptr m_pSourceError;  // raised in a callback, raised again once libarchive returns

  struct archive* m_pOuter = nullptr;
  struct archive* m_pInner = nullptr;  // a compressed member, decompressed
  struct archive_entry* m_pEntry = nullptr;
  PackingKind m_kind;
  int m_nFirstHeader = 0;            // what reading the first header gave
  bool m_bFirstHeaderTaken = false;  // NextFile has taken it
  bool m_bEnded = false;
  std::string m_member;
  std::uint64_t m_nMembers = 0;
  std::uint64_t m_nEntries = 0;
  std::uint64_t m_nFileBytes = 0;  // of the file being read, as delivered
  // A member's first bytes, read to look for a compression's signature.
  const unsigned char* m_pPending = nullptr;
  std::size_t m_nPending = 0;
  bool m_bPendingTaken = true;
  std::string m_peek;  // where a short first block is joined to the next
};

// The packing of a file, told from its content as CPackedReader reads it.
// Raises CFileException (not found, too many open files, any other: a file that
// is no regular file); a damaged packed file is told by what could be read.
PackingKind ProbeFilePacking(const CString& strPath);
