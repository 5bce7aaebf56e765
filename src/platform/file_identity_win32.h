// What the Win32 file layer knows of a file's identity, and when two identities
// are one file. Apart from the file layer, so that the decision can be tested with
// identifiers that no local volume hands out.
#pragma once

#include <cstdint>

struct FileIdentity {
  std::uint32_t nVolumeSerial = 0;  // with nFileIndex, from GetFileInformationByHandle
  std::uint64_t nFileIndex = 0;
  bool bHasFileId = false;  // the system gave the 128-bit identifier below
  std::uint64_t nIdVolumeSerial = 0;
  unsigned char fileId[16] = {};
};

// True only when both identities are known and equal: the 128-bit identifiers
// decide when both files have one, the volume serial number and 64-bit index
// otherwise. An identifier or index of zero is unknown and never the same.
bool IsSameFileIdentity(const FileIdentity& a, const FileIdentity& b) noexcept;
