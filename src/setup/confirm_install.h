#pragma once
#include "manifest/release_manifest.h"

inline constexpr int kInstallButtonId = 1001;

// Returns kInstallButtonId when the user chose to proceed; any other value means declined.
int ConfirmInstall(const ReleaseManifest& manifest);
