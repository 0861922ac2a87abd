#pragma once
// Words for the numbers the system reports, so that a failure line says what the number means and, where
// there is one, what to do about it; the number stays beside them for support to look up.
#include <cstdint>

#include "common/wide_string.h"

// "the file was not found" for 2, "the host name could not be resolved …" for 12007, and so on: the
// errors a release engineer meets, in our own words; any other number in the system's own words, or
// empty when the system has none.
WideString SystemErrorWords(std::uint32_t error);

// What a WinVerifyTrust result means, with the next step where there is one; empty for an unknown one.
WideString TrustResultWords(long trustResult);
