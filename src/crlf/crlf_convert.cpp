// Line-ending conversion: every line break (CR LF, lone LF, lone CR) becomes
// CR LF and only kept bytes survive. One pass from the input buffer into an
// output buffer of twice the input's size, which no input byte can overflow:
// the worst case is a lone CR or LF, which becomes two bytes.
#include <cassert>
#include <cstdint>
#include <limits>
#include <new>

#include "document/am_file.h"
#include "document/byte_filter.h"
#include "quorlix.h"

namespace {

// Allocates the output, runs the pass, releases the input and saves the output.
// PassFn(in, nIn, out) returns the number of bytes written to out.
template <typename PassFn>
int RunLineEndPass(CAMFile& doc, PassFn pass) {
  try {
    const std::uint64_t nCapacity = 2 * std::uint64_t{doc.m_nInLen};
    if (nCapacity > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();  // a doubled length that does not fit
    doc.m_pOutBuf = AllocateByteBuffer(nCapacity);
    const std::uint32_t nWritten = pass(doc.m_pInBuf.get(), doc.m_nInLen, doc.m_pOutBuf.get());
    assert(nWritten <= nCapacity);
    doc.m_nOutLen = nWritten;
  } catch (...) {
    doc.m_pInBuf.reset();
    doc.m_pOutBuf.reset();
    return doc.m_nStatus = QUORLIX_CRLF_PASS_FAILED;
  }
  doc.m_nStatus = QUORLIX_OK;
  doc.m_pInBuf.reset();
  return doc.SaveOutput();
}

// The neighbour tests look at raw input bytes, dropped ones included.
bool FollowsCr(const unsigned char* pIn, std::uint32_t i) { return i > 0 && pIn[i - 1] == '\r'; }
bool PrecedesLf(const unsigned char* pIn, std::uint32_t nLen, std::uint32_t i) {
  return i + 1 < nLen && pIn[i + 1] == '\n';
}

// Text bytes are stored unconditionally and counted only when kept, so the
// common case has no branch that depends on the data; only CR and LF branch.
std::uint32_t ConvertAllLines(const unsigned char* pIn, std::uint32_t nLen, unsigned char* pOut) {
  std::uint32_t j = 0;
  for (std::uint32_t i = 0; i < nLen; ++i) {
    const unsigned char b = pIn[i];
    const ByteKind kind = KindOf(b);
    if (kind <= ByteKind::kSpace) {
      pOut[j] = b;
      j += kind != ByteKind::kDropped;
    } else if (kind == ByteKind::kLf) {
      if (!FollowsCr(pIn, i)) pOut[j++] = '\r';
      pOut[j++] = '\n';
    } else {
      pOut[j++] = '\r';
      if (!PrecedesLf(pIn, nLen, i)) pOut[j++] = '\n';
    }
  }
  return j;
}

// A line break is written only after a line that holds a visible character, so
// empty lines vanish; spaces never clear bLineEmpty, so a line of spaces alone
// loses its break and its spaces lead the next line.
std::uint32_t ConvertNonEmptyLines(const unsigned char* pIn, std::uint32_t nLen, unsigned char* pOut) {
  std::uint32_t j = 0;
  bool bLineEmpty = true;
  for (std::uint32_t i = 0; i < nLen; ++i) {
    const unsigned char b = pIn[i];
    switch (KindOf(b)) {
      case ByteKind::kVisible:
        bLineEmpty = false;
        pOut[j++] = b;
        break;
      case ByteKind::kSpace:
        pOut[j++] = b;
        break;
      case ByteKind::kLf:
        if (bLineEmpty) break;
        if (!FollowsCr(pIn, i)) pOut[j++] = '\r';
        pOut[j++] = '\n';
        bLineEmpty = true;
        break;
      case ByteKind::kCr:
        if (bLineEmpty) break;
        pOut[j++] = '\r';
        if (PrecedesLf(pIn, nLen, i)) break;  // the LF completes the pair and ends the line
        pOut[j++] = '\n';
        bLineEmpty = true;
        break;
      case ByteKind::kDropped:
        break;
    }
  }
  return j;
}

}  // namespace

// The length is checked as measured, so an input the pass cannot take costs no load.
int CAMFile::LoadLineEndInput() { return LoadInput(kLongestLineEndInputBytes, QUORLIX_CRLF_PASS_FAILED); }

int CAMFile::ConvertLineEnds() { return RunLineEndPass(*this, ConvertAllLines); }

int CAMFile::ConvertLineEndsSkipBlank() { return RunLineEndPass(*this, ConvertNonEmptyLines); }
