#pragma once
// The run: every stage once, in one fixed order, on the only thread; the exit code names the outcome.
#include <windows.h>

#include <cstdint>

#include "common/setup_result.h"
#include "common/wide_string.h"
#include "manifest/release_manifest.h"
#include "setup/dll_redirection.h"
#include "transfer/staging_paths.h"
#include "ui/progress_window.h"

inline constexpr wchar_t kMessageCaption[] = L"Brimlow AI Quillo";

bool IsNative64BitWindows();
bool Is64BitArchitecture(WORD processorArchitecture);
void ShowErrorBox(const WideString& text, UINT style);

// What the driver calls. The program runs with kSystemStages; tests substitute stand-ins for stages
// whose faults no real condition produces, and observe the order of clean-up.
struct SetupStages {
    HRESULT (*coInitializeEx)(LPVOID reserved, DWORD flags);
    void (*coUninitialize)();
    bool (*fetchReleaseManifest)(Utf8String& body, ErrorText& error);
    bool (*validateReleaseManifest)(const Utf8String& text, ReleaseManifest& manifest);
    bool (*isNative64BitWindows)();
    int (*confirmInstall)(const ReleaseManifest& manifest);
    bool (*createProgress)(ProgressWindow& progress, const WideString& version);
    void (*showStatus)(ProgressWindow& progress, const WideString& status, const WideString& detail);
    void (*updateProgress)(ProgressWindow& progress, std::uint64_t received, std::uint64_t total);
    void (*destroyProgress)(ProgressWindow& progress);
    bool (*makeStagingPaths)(StagedRun& run);
    bool (*downloadPackage)(const PackageEntry& package, const WideString& partialPath, ProgressWindow* progress,
                            ErrorText& error);
    // Reads the locked final file again: it must still be exactly the package that was downloaded.
    bool (*lockedFileMatches)(HANDLE installerLock, const PackageEntry& package);
    bool (*verifyInstallerTrust)(const WideString& finalPath, const WideString& manifestPublisher,
                                 ErrorText& error);
    bool (*launchInstaller)(const WideString& finalPath, const WideString& runFolder, std::uint32_t& exitCode);
    void (*showErrorBox)(const WideString& text, UINT style);
    // Runs between the rename and the installer lock; null in the program. Lets a test act in the
    // window an attacker would use.
    void (*afterRename)(const WideString& finalPath);
};

extern const SetupStages kSystemStages;

SetupResult RunSetup(const SetupStages& stages);

// Ends a run that started with DLL redirection beside the program, before anything else happens. Where
// redirection is in force no box is shown: drawing one would load Common Controls through it.
SetupResult RefuseDllRedirection(DllRedirection redirection, const SetupStages& stages);
