#pragma once
// UTF-8 to UTF-16 for the manifest's texts: the platform's own conversion on Windows, a strict decoder
// of ours in native builds. The decoder refuses exactly what the platform's
// MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS) refuses, so the native tests and the fuzzer see the
// same results as the installer. It is compiled on Windows too, so a test can compare the two directly.
#include <cstddef>

#include "common/wide_string.h"

// The UTF-16 text of well-formed UTF-8; empty for anything else, as for empty input.
WideString Utf8ToWide(const Utf8String& bytes);

// True and the UTF-16 text in out when bytes is well-formed UTF-8: no overlong form, no encoded
// surrogate, nothing above U+10FFFF, no truncated sequence and no stray continuation byte. On failure
// out is left empty. Code points above U+FFFF become surrogate pairs.
bool DecodeUtf8Strict(const char* bytes, std::size_t count, WideString& out);
