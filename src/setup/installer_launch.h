#pragma once
#include <cstdint>

#include "common/outcome.h"
#include "common/wide_string.h"

class VerifiedInstaller;

// Runs the verified installer with no arguments, in its run folder as its current directory and with an
// environment of the machine's, not the user's, choosing; waits for it without limit. exitCode is
// written only when it was read.
Outcome LaunchInstaller(const VerifiedInstaller& installer, std::uint32_t& exitCode);

namespace setup_internal {
// The environment block the installer starts with: the variables of environment (a block as
// GetEnvironmentStringsW gives it) with TEMP and TMP set to tempFolder, PATH to the system's own
// folders, SystemRoot and windir to windowsFolder; every other variable as it is. Sorted by name, as
// the system keeps a block; empty when the system folders cannot be read.
WideString MakeInstallerEnvironment(const wchar_t* environment, const WideString& tempFolder,
                                    const WideString& windowsFolder, const WideString& systemFolder);
}  // namespace setup_internal
