#pragma once
#include <cstdint>

#include "common/wide_string.h"

// Runs the verified installer with no arguments and waits for it without limit. exitCode is written
// only when it was read.
bool LaunchInstaller(const WideString& finalPath, std::uint32_t& exitCode);
