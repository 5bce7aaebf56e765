// The host's ANSI code page to the OEM code page, for the few strings that must
// be matched and written in the OEM set. One backend per platform implements this
// header: Windows asks the system; elsewhere a built-in table serves.
#pragma once

#include <string_view>

#include "platform/platform_string.h"

// The OEM form of an ANSI string. With single-byte code pages it has one byte for
// each byte; where a code page has multi-byte characters the lengths may differ.
// A character that the OEM set lacks becomes '?' (Windows may pick a look-alike).
CString AnsiToOem(std::string_view strAnsi);
