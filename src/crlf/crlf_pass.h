// The line-ending pass on its own, apart from files: the input whole in memory or
// read a piece at a time, the output handed out a piece at a time, so that no
// output buffer of the whole file's size is ever filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Input bytes converted per piece; a piece of output is at most twice as long.
inline constexpr std::size_t kLineEndPieceBytes = std::size_t{1} << 16;

// Takes the output a piece at a time, in order.
using LineEndWriter = std::function<void(const unsigned char*, std::size_t)>;
// Fills pBuf with exactly nCount more bytes of the input, or raises.
using LineEndReader = std::function<void(unsigned char*, std::size_t)>;

// Converts the nLen bytes at pIn (every line break becomes CR LF, only kept bytes
// survive; bSkipBlank also drops empty lines), nPieceBytes (at least 1) of input
// at a time, and calls put(bytes, count) with each piece of output, in order.
// pScratch holds 2 * nPieceBytes bytes. Returns the output's length.
std::uint64_t ConvertLineEndPieces(const unsigned char* pIn, std::uint32_t nLen, bool bSkipBlank,
                                   std::size_t nPieceBytes, unsigned char* pScratch, const LineEndWriter& put);

// The same output from an input of nLen bytes that read delivers up to
// nPieceBytes at a time: pWindow holds nPieceBytes + 2 bytes, pScratch
// 2 * (nPieceBytes + 1). Whatever read or put raises goes to the caller.
std::uint64_t ConvertLineEndStream(std::uint64_t nLen, bool bSkipBlank, std::size_t nPieceBytes, unsigned char* pWindow,
                                   unsigned char* pScratch, const LineEndReader& read, const LineEndWriter& put);

// The length ConvertLineEndPieces gives, without handing anything out; the
// arguments as there.
std::uint64_t MeasureLineEndOutput(const unsigned char* pIn, std::uint32_t nLen, bool bSkipBlank,
                                   std::size_t nPieceBytes, unsigned char* pScratch);
