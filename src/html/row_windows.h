// The windowed table reader (row_windows.cpp), one form per level above the
// portable one.
#pragma once

#include <cstdint>

#include "html/html_read.h"

// The table's rules from the byte after its start tag at nPos, in
// windows of 64 bytes. Gives QUORLIX_OK with nOut and nPos set past the table, or
// the status of the step that failed.
int ReadTableSsse3(const unsigned char* pIn, std::uint32_t nLast, unsigned char* pOut, std::uint32_t nOutCapacity,
                   std::uint32_t& nOut, std::uint32_t& nPos, InputRelease& release);
int ReadTableAvx2(const unsigned char* pIn, std::uint32_t nLast, unsigned char* pOut, std::uint32_t nOutCapacity,
                  std::uint32_t& nOut, std::uint32_t& nPos, InputRelease& release);
