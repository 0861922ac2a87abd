#pragma once
// Lines for the release engineer: reports to standard output, failures to standard error. A console
// gets the text as UTF-16; a pipe or a file gets UTF-8, so scripts and logs read it the same everywhere.
#include <cstdint>

#include "common/wide_string.h"

void PrintLine(const WideString& line);
void PrintFailure(const WideString& line);

// 1234567 as "1,234,567".
WideString GroupedNumber(std::uint64_t value);

// A sentence about a failed system call with the system's own number after it, which is what support
// looks up: "... (error 12007)" for a Win32 or WinHTTP error, "... (WinVerifyTrust 0x800B0100)" for a
// trust result. A sentence whose number is 0 (none was reported) is returned as it is.
WideString WithSystemError(const WideString& sentence, std::uint32_t error);
WideString WithTrustResult(const WideString& sentence, long trustResult);
