// Byte buffers for whole files. Large buffers ask the system for huge pages,
// since filling hundreds of megabytes page by page costs more than the
// conversion itself.
#pragma once

#include <cstddef>
#include <memory>

using ByteBuffer = std::unique_ptr<unsigned char[]>;

// A buffer of nBytes uninitialised bytes; raises std::bad_alloc when there is no memory.
ByteBuffer AllocateByteBuffer(std::size_t nBytes);

// The same for a buffer that may be filled in part only: its pages are mapped as
// they are first written, a huge page at a time where the system can.
ByteBuffer AllocateSparseByteBuffer(std::size_t nBytes);

// Gives the memory pages that lie wholly inside the nBytes at p back to the
// system, where it can take them: their bytes must not be read again.
void ReleaseBufferPages(unsigned char* p, std::size_t nBytes) noexcept;
