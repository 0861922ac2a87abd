#pragma once
// The run: every stage once, in one fixed order, on the only thread; the exit code names the outcome.
#include <windows.h>
#include <objbase.h>

#include <cstdint>

#include "common/setup_result.h"
#include "common/wide_string.h"
#include "manifest/release_manifest.h"
#include "setup/architecture.h"
#include "setup/confirm_install.h"
#include "setup/dll_redirection.h"
#include "setup/error_box.h"
#include "setup/installer_launch.h"
#include "transfer/manifest_fetch.h"
#include "transfer/package_download.h"
#include "transfer/staging_paths.h"
#include "trust/installer_trust.h"
#include "ui/progress_window.h"

// What the driver calls, each member starting as the real stage. Tests replace stages whose faults no
// real condition produces, and observe the order of clean-up.
struct SetupStages {
    decltype(&::CoInitializeEx) coInitializeEx = ::CoInitializeEx;
    decltype(&::CoUninitialize) coUninitialize = ::CoUninitialize;
    bool (*fetchReleaseManifest)(Utf8String& body, ErrorText& error) = FetchReleaseManifest;
    bool (*validateReleaseManifest)(const Utf8String& text, ReleaseManifest& manifest) =
        [](const Utf8String& text, ReleaseManifest& manifest) { return ValidateReleaseManifest(text, manifest); };
    bool (*isNative64BitWindows)() = IsNative64BitWindows;
    int (*confirmInstall)(const ReleaseManifest& manifest) = [](const ReleaseManifest& manifest) {
        return ConfirmInstall(manifest);
    };
    bool (*createProgress)(ProgressWindow& progress, const WideString& version) =
        [](ProgressWindow& progress, const WideString& version) { return progress.Create(version); };
    void (*showStatus)(ProgressWindow& progress, const WideString& status, const WideString& detail) =
        [](ProgressWindow& progress, const WideString& status, const WideString& detail) {
            progress.ShowStatus(status, detail);
        };
    void (*updateProgress)(ProgressWindow& progress, std::uint64_t received, std::uint64_t total) =
        [](ProgressWindow& progress, std::uint64_t received, std::uint64_t total) {
            progress.ShowProgress(received, total);
        };
    void (*destroyProgress)(ProgressWindow& progress) = [](ProgressWindow& progress) { progress.Destroy(); };
    bool (*makeStagingPaths)(StagedRun& run) = [](StagedRun& run) { return MakeStagingPaths(run); };
    bool (*downloadPackage)(const PackageEntry& package, HANDLE partialFile, DownloadObserver* observer,
                            ErrorText& error) = [](const PackageEntry& package, HANDLE partialFile,
                                                   DownloadObserver* observer, ErrorText& error) {
        return DownloadPackageInto(package, partialFile, observer, error);
    };
    // Reads the locked final file again: it must still be exactly the package that was downloaded.
    bool (*lockedFileMatches)(HANDLE installerLock, const PackageEntry& package) = FileMatchesPackage;
    bool (*verifyInstallerTrust)(const WideString& finalPath, const WideString& manifestPublisher,
                                 ErrorText& error) = [](const WideString& finalPath,
                                                        const WideString& manifestPublisher, ErrorText& error) {
        return VerifyInstallerTrust(finalPath, manifestPublisher, error);
    };
    bool (*launchInstaller)(const WideString& finalPath, const WideString& runFolder, std::uint32_t& exitCode) =
        LaunchInstaller;
    void (*showErrorBox)(const WideString& text, UINT style) = ShowErrorBox;
    // Runs between the rename and the installer lock; nothing in the program. Lets a test act in the
    // window an attacker would use.
    void (*afterRename)(const WideString& finalPath) = nullptr;
    // The refusal's box, shown before Common Controls may load.
    void (*showPlainErrorBox)(const WideString& text, UINT style) = ShowPlainErrorBox;
};

SetupResult RunSetup(const SetupStages& stages = {});

// Ends a run that found DLL redirection beside the program, before anything else happens. Its box draws
// no Common Controls; where redirection is in force no box is shown at all: any DLL a box loads could
// come through it.
SetupResult RefuseDllRedirection(DllRedirection redirection, const SetupStages& stages = {});
