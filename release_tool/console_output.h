#pragma once
// Lines for the release engineer. Every result goes to standard output, in one style: "OK:", "FAILED:"
// and "WARNING:" after the architecture where a line is about one package, and one verdict line at the
// end. Only a wrong command line goes to standard error. A console gets the text as UTF-16; a pipe or a
// file gets UTF-8, so scripts and logs read it the same everywhere.
#include <cstdint>

#include "common/wide_string.h"

void PrintLine(const WideString& line);
// A failure or warning line: to standard output like every result; the caller writes its label.
void PrintFailure(const WideString& line);
// A wrong command line, to standard error.
void PrintUsageError(const WideString& line);

// 1234567 as "1,234,567".
WideString GroupedNumber(std::uint64_t value);
// "1 package", "2 packages".
WideString PackageCount(int count);

// A sentence about a failed system call with the system's own number after it, which is what support
// looks up, and what the number means: "... (error 12007: the host name could not be resolved …)" for a
// Win32 or WinHTTP error, "... (WinVerifyTrust 0x800B0100: the file has no signature …)" for a trust
// result. A sentence whose number is 0 (none was reported) is returned as it is.
WideString WithSystemError(const WideString& sentence, std::uint32_t error);
WideString WithTrustResult(const WideString& sentence, long trustResult);
