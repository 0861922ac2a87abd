#pragma once
#include "common/platform_compat.h"

#include "manifest/release_manifest.h"
#include "setup/architecture.h"

inline constexpr int kInstallButtonId = 1001;

// What the prompt calls where no real condition can make it fail or vary: the task dialog (which tests
// make fail to reach the fallback box) and the architecture test (which tests flip to see both lines).
struct PromptCalls {
    decltype(&CallTaskDialogIndirect) taskDialogIndirect = CallTaskDialogIndirect;
    bool (*isNative64BitWindows)() = IsNative64BitWindows;
};

// Returns kInstallButtonId when the user chose to proceed; any other value means declined.
int ConfirmInstall(const ReleaseManifest& manifest);

namespace setup_internal {
// The same prompt with the calls a test gives.
int ConfirmInstall(const ReleaseManifest& manifest, const PromptCalls& calls);
}  // namespace setup_internal
