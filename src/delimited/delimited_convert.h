// Rewriting a delimited file with other delimiters: the body of CvtDelimitedFile.
#pragma once

#include <cstddef>

#include "platform/platform_string.h"

// Bytes asked of the input per read. Records, fields and delimiters of any length
// pass through: a delimiter cut by the end of a read waits for the next one.
inline constexpr std::size_t kDelimitedReadBytes = std::size_t{1} << 20;

// Cuts the input into records at strInRecord and each record into fields at
// strInField, and writes every field followed by strOutField, the last one of a
// record by strOutRecord instead. The four delimiters are ANSI text, matched and
// written in their OEM form. Returns QUORLIX_OK or a QUORLIX_DELIMITED_* status;
// raises only std::bad_alloc. nReadBytes (at least 1) exists so that tests can cut
// the input at every possible place.
int ConvertDelimitedFile(const CString& strInPath, const CString& strInRecord, const CString& strInField,
                         const CString& strOutPath, const CString& strOutField, const CString& strOutRecord,
                         std::size_t nReadBytes = kDelimitedReadBytes);
