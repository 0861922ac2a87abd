#pragma once
#include <windows.h>
#include <commctrl.h>

#include "manifest/release_manifest.h"

inline constexpr int kInstallButtonId = 1001;

// What the prompt calls where no real condition can make it fail or vary: the task dialog (which tests
// make fail to reach the fallback box) and the architecture test (which tests flip to see both lines).
struct PromptApi {
    HRESULT(WINAPI* taskDialogIndirect)(const TASKDIALOGCONFIG* config, int* button, int* radioButton,
                                        BOOL* verificationChecked);
    bool (*isNative64BitWindows)();
};

extern const PromptApi kSystemPromptApi;

// Returns kInstallButtonId when the user chose to proceed; any other value means declined.
int ConfirmInstall(const ReleaseManifest& manifest);
int ConfirmInstall(const ReleaseManifest& manifest, const PromptApi& api);
