#pragma once
#include <cstdint>

#include "common/outcome.h"
#include "common/wide_string.h"

// Runs the verified installer with no arguments, in runFolder as its current directory, and waits for
// it without limit. exitCode is written only when it was read.
Outcome LaunchInstaller(const WideString& finalPath, const WideString& runFolder, std::uint32_t& exitCode);
