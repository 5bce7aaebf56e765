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
