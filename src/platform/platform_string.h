// The platform's counted 8-bit string. Paths, tag texts and lines are plain byte
// strings; no code-page conversion happens on them.
#pragma once

#include <string>

using CString = std::string;
