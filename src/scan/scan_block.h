// A block of bytes in one vector register, with the same compares and bit masks
// at 16 bytes (SSSE3) and 32 (AVX2), so that a kernel is written once over the
// block type and compiled at each width. Every method carries its level's target
// and inlines into a loop of that level.
#pragma once

#include <cstdint>

#include "scan/line_scan.h"
#include "scan/scan_level.h"

#ifdef QUORLIX_HAS_VECTOR_SCAN
struct Ssse3Block {
  static constexpr unsigned kBytes = 16;
  __m128i v;

  QUORLIX_SSSE3_TARGET static Ssse3Block Load(const unsigned char* p) {
    return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))};
  }
  // p is 16-byte aligned.
  QUORLIX_SSSE3_TARGET static Ssse3Block LoadAligned(const unsigned char* p) {
    return {_mm_load_si128(reinterpret_cast<const __m128i*>(p))};
  }
  QUORLIX_SSSE3_TARGET Ssse3Block operator==(Ssse3Block b) const { return {_mm_cmpeq_epi8(v, b.v)}; }
  QUORLIX_SSSE3_TARGET Ssse3Block operator&(Ssse3Block b) const { return {_mm_and_si128(v, b.v)}; }
  QUORLIX_SSSE3_TARGET Ssse3Block operator|(Ssse3Block b) const { return {_mm_or_si128(v, b.v)}; }
  QUORLIX_SSSE3_TARGET Ssse3Block operator+(Ssse3Block b) const { return {_mm_add_epi8(v, b.v)}; }
  // Each byte of this block and not of b.
  QUORLIX_SSSE3_TARGET Ssse3Block AndNot(Ssse3Block b) const { return {_mm_andnot_si128(b.v, v)}; }
  // Each byte where this block's is above b's, both taken as signed.
  QUORLIX_SSSE3_TARGET Ssse3Block SignedAbove(Ssse3Block b) const { return {_mm_cmpgt_epi8(v, b.v)}; }
  // One bit per byte, from its top bit.
  QUORLIX_SSSE3_TARGET std::uint64_t Mask() const {
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(v)));
  }
  // Ssse3LineScan::StoreSelected, compiled for this level.
  QUORLIX_SSSE3_TARGET static std::size_t StoreSelected(const unsigned char* p, unsigned nMask, unsigned char* pOut) {
    return Ssse3LineScan::StoreSelected(p, nMask, pOut);
  }
};

struct Avx2Block {
  static constexpr unsigned kBytes = 32;
  __m256i v;

  QUORLIX_AVX2_TARGET static Avx2Block Load(const unsigned char* p) {
    return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))};
  }
  // p is 32-byte aligned.
  QUORLIX_AVX2_TARGET static Avx2Block LoadAligned(const unsigned char* p) {
    return {_mm256_load_si256(reinterpret_cast<const __m256i*>(p))};
  }
  QUORLIX_AVX2_TARGET Avx2Block operator==(Avx2Block b) const { return {_mm256_cmpeq_epi8(v, b.v)}; }
  QUORLIX_AVX2_TARGET Avx2Block operator&(Avx2Block b) const { return {_mm256_and_si256(v, b.v)}; }
  QUORLIX_AVX2_TARGET Avx2Block operator|(Avx2Block b) const { return {_mm256_or_si256(v, b.v)}; }
  QUORLIX_AVX2_TARGET Avx2Block operator+(Avx2Block b) const { return {_mm256_add_epi8(v, b.v)}; }
  QUORLIX_AVX2_TARGET Avx2Block AndNot(Avx2Block b) const { return {_mm256_andnot_si256(b.v, v)}; }
  QUORLIX_AVX2_TARGET Avx2Block SignedAbove(Avx2Block b) const { return {_mm256_cmpgt_epi8(v, b.v)}; }
  QUORLIX_AVX2_TARGET std::uint64_t Mask() const {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(v)));
  }
  QUORLIX_AVX2_TARGET static std::size_t StoreSelected(const unsigned char* p, unsigned nMask, unsigned char* pOut) {
    return Ssse3LineScan::StoreSelected(p, nMask, pOut);
  }
};

// The block type of a level above the portable one.
template <ScanLevel L>
using BlockAt = std::conditional_t<L == ScanLevel::kAvx2, Avx2Block, Ssse3Block>;
#endif
