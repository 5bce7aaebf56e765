// The byte filter of the text conversions: printable ASCII (0x21-0x7E), the space,
// CR and LF are kept; every other byte (TAB, the other control bytes, 0x7F and
// 0x80-0xFF) is dropped.
#pragma once

#include <array>
#include <cstdint>

// Ordered so that the bytes that are text or dropped come first: kind <= kSpace.
enum class ByteKind : std::uint8_t { kDropped, kVisible, kSpace, kCr, kLf };

// Built from the rule above: 0x21-0x7E visible, 0x20 space, 0x0D CR, 0x0A LF, the rest dropped.
inline constexpr std::array<ByteKind, 256> kByteKinds = [] {
  std::array<ByteKind, 256> kinds{};
  for (int b = 0; b < 256; ++b) {
    if (b >= 0x21 && b <= 0x7E) kinds[b] = ByteKind::kVisible;
    else if (b == 0x20) kinds[b] = ByteKind::kSpace;
    else if (b == 0x0D) kinds[b] = ByteKind::kCr;
    else if (b == 0x0A) kinds[b] = ByteKind::kLf;
    else kinds[b] = ByteKind::kDropped;
  }
  return kinds;
}();

inline constexpr ByteKind KindOf(unsigned char b) { return kByteKinds[b]; }
inline constexpr bool IsKeptByte(unsigned char b) { return KindOf(b) != ByteKind::kDropped; }
