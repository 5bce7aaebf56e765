// One input of the table, read once through the reader: a plain file in
// blocks, a compressed file or an archive through libarchive (one file, or
// every regular member, in archive order). Each file is first judged by its
// first bytes (filing/filing_sniff.h): a file that is no filing is read no
// further and gives no rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/byte_buffer.h"
#include "platform/file.h"
#include "platform/packed_file.h"
#include "platform/platform_string.h"
#include "schedules/schedule_reader.h"

// The block in which an input is read (the compressed bytes, for a packed one).
inline constexpr std::size_t kScheduleBlockBytes = std::size_t{1} << 18;

// What reading one input found; the counts hold what was read, also when the
// read failed part way.
struct InputReading {
  int status = 0;                // QUORLIX_OK or a QUORLIX_FILING_* status
  std::uint64_t nBytesRead = 0;  // of the input itself (compressed, for a packed one)
  Packing packing = Packing::kPlain;
  std::uint64_t nMembers = 0;               // an archive's regular members read
  std::uint64_t nFilings = 0;               // files read (the input, or members) that are filings
  std::uint64_t nFilingsWithSchedules = 0;  // of those, the ones that gave a schedule
  // With QUORLIX_FILING_FILE_ERROR for a damaged packed file, or one past a
  // limit: what is wrong, naming the member ("member 'a.txt': ...").
  std::string problem;
  bool bPassedOver = false;  // the gate passed the file over: nothing was read
};

// Decides, once an input's file is open, whether it is read: the run reads a
// file once, however many inputs name it.
class FileGate {
 public:
  // The open file's key (when the platform tells it); false passes it over.
  virtual bool TakeFile(const FileKey& key) = 0;

 protected:
  ~FileGate() = default;
};

// Reads the input at strPath into reader, file by file (Start, Feed, Finish),
// in pBlock (kScheduleBlockBytes). The status: QUORLIX_OK; not found, too many
// open files, or any other file error (a file that is no regular file, one that
// ends before its measured length, a damaged packed file or one past limits,
// with the problem); or no memory. A file that measures 0 (/proc) is read to
// its end. Only exceptions that are no std::exception (a stop of the run,
// raised by the sink) pass out. pGate, when given, hears of the file once it is
// open, before a byte of it is read.
void ReadScheduleInput(const CString& strPath, ScheduleReader& reader, ByteBuffer& pBlock, InputReading& reading,
                       FileGate* pGate = nullptr, const PackingLimits& limits = {});

// The same for an input whose bytes come from source (the fuzz target's memory),
// in pBlock of nBlockBytes, at least kLeastBlockBytes: a first block that short
// shows any signature and tar header a packed file begins with.
inline constexpr std::size_t kLeastBlockBytes = 512;
void ReadScheduleSource(PackedSource& source, ScheduleReader& reader, unsigned char* pBlock, std::size_t nBlockBytes,
                        InputReading& reading, const PackingLimits& limits = {});
