// The host's ANSI code page to the OEM code page, for the few strings that must
// be matched and written in the OEM set. One backend per platform implements this
// header: Windows asks the system; elsewhere a built-in table serves.
#pragma once

#include <string_view>

#include "platform/platform_string.h"

// The OEM form of an ANSI string, one byte for each byte. A character that the OEM
// set lacks becomes '?'.
CString AnsiToOem(std::string_view strAnsi);
