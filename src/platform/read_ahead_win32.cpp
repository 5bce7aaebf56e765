#include <algorithm>

#include "platform/read_ahead.h"

CReadAhead::CReadAhead(CFile& file, std::uint64_t nOffset, std::uint64_t nLength, std::size_t nBlockBytes)
    : m_file(file), m_nOffset(nOffset), m_nLength(nLength), m_nBlockBytes(nBlockBytes) {}

CReadAhead::~CReadAhead() = default;

std::size_t CReadAhead::Next(ByteBuffer& pBlock) {
  if (m_bEnded || m_nDone == m_nLength) return 0;
  const auto nWanted = static_cast<std::size_t>(std::min<std::uint64_t>(m_nBlockBytes, m_nLength - m_nDone));
  m_bEnded = true;  // until the read is whole
  m_file.SeekToOffset(m_nOffset + m_nDone);
  const std::size_t nGot = m_file.Read(pBlock.get(), nWanted);
  m_nDone += nWanted;
  m_bEnded = nGot != nWanted;
  return nGot;
}

void StartReadAhead(std::optional<CReadAhead>& ahead, CFile& file, std::uint64_t nOffset, std::uint64_t nLength,
                    std::size_t nBlockBytes) noexcept {
  ahead.emplace(file, nOffset, nLength, nBlockBytes);
}
