#pragma once
// Text types shared by every subsystem. WideString is UTF-16 on every platform, so lengths are
// always counted in UTF-16 code units: wchar_t on Windows, char16_t in native (Linux) builds of the
// Win32-free code (manifest scanner, validation, release tooling, fuzzer).
#include <string>

#ifdef _WIN32
using WideChar = wchar_t;
#define WIDE(text) L##text
#else
using WideChar = char16_t;
#define WIDE(text) u##text
#endif

static_assert(sizeof(WideChar) == 2, "WideString must hold UTF-16 code units");

using WideString = std::basic_string<WideChar>;

// Byte count authoritative; zero bytes are ordinary bytes.
using Utf8String = std::string;
