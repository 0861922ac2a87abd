#include "setup/setup_driver.h"

#include <objbase.h>

#include "common/build_config.h"
#include "common/file_cleanup.h"
#include "common/installer_lock.h"
#include "common/win32_handles.h"
#include "setup/confirm_install.h"
#include "transfer/staging_paths.h"

namespace {

constexpr wchar_t kComInitFailedText[] = L"Windows could not initialize the installer.";
constexpr wchar_t kPublisherNotConfiguredText[] =
    L"This preview online installer is not publishable yet because the Certum publisher certificate has not "
    L"been configured.";
constexpr wchar_t kManifestInvalidText[] = L"Release metadata failed strict security validation.";
constexpr wchar_t kReleaseNotPublishedText[] =
    L"The signed online release is not available yet. Please try again later.";
constexpr wchar_t kProgressWindowFailedText[] = L"Windows could not open the secure installation progress window.";
constexpr wchar_t kDownloadFailedText[] = L"The installer could not be downloaded.";
constexpr wchar_t kPrepareFailedText[] = L"Could not prepare the verified installer.";
constexpr wchar_t kLockFailedText[] = L"Could not lock the installer for final security verification.";
constexpr wchar_t kDigestMismatchText[] = L"Security check failed: the installer SHA-256 does not match.";
constexpr wchar_t kPublisherMismatchText[] =
    L"Security check failed: the installer publisher does not match Brimlow AI Labs.";
constexpr wchar_t kLaunchFailedText[] = L"The verified installer could not be started.";

constexpr wchar_t kDownloadingStatus[] = L"Downloading the verified installer\u2026";
constexpr wchar_t kDownloadingDetail[] = L"The correct package for this PC is being transferred securely.";
constexpr wchar_t kVerifyingStatus[] = L"Verifying publisher and file integrity\u2026";
constexpr wchar_t kVerifyingDetail[] = L"Checking the SHA-256 hash and trusted Brimlow digital signature.";

SetupResult Fail(const SetupStages& stages, const WideString& text, UINT style, SetupResult result) {
    stages.showErrorBox(text, style);
    return result;
}

const WideString& TextOr(const ErrorText& errorText, const WideString& fallback) {
    return errorText.empty() ? fallback : errorText;
}

// Deletes one of the run's files, then the run's folder with whatever else is in it.
void RemoveRun(const WideString& file, StagedRun& run) {
    RemoveDownloadedFile(file);
    RemoveRunFolder(run);
}

// The installer lock must be closed before the delete, or the delete fails on our own share mode.
void UnlockAndRemove(UniqueFile& installerLock, StagedRun& run) {
    installerLock.Reset();
    RemoveRun(run.finalPath, run);
}

bool IsPublisherConfigured() {
    return WideString(kExpectedPublisher) != kPublisherPlaceholder;
}

// Everything after COM is up; the caller uninitializes COM once this returns, after any box.
SetupResult RunInApartment(const SetupStages& stages) {
    if (!IsPublisherConfigured()) {
        return Fail(stages, kPublisherNotConfiguredText, MB_ICONWARNING, SetupResult::PublisherNotConfigured);
    }

    Utf8String rawManifest;
    ErrorText errorText;
    if (!stages.fetchReleaseManifest(rawManifest, errorText)) {
        return Fail(stages, errorText, MB_ICONERROR, SetupResult::ManifestFetchFailed);
    }

    ReleaseManifest manifest;
    if (!stages.validateReleaseManifest(rawManifest, manifest)) {
        return Fail(stages, kManifestInvalidText, MB_ICONERROR, SetupResult::ManifestInvalid);
    }
    if (!manifest.published) {
        return Fail(stages, kReleaseNotPublishedText, MB_ICONINFORMATION, SetupResult::ReleaseNotPublished);
    }

    const PackageEntry& package = stages.isNative64BitWindows() ? manifest.x64 : manifest.x86;

    if (stages.confirmInstall(manifest) != kInstallButtonId) {
        return SetupResult::Success;
    }

    ProgressWindow progress{};
    if (!stages.createProgress(progress, manifest.version)) {
        SetupResult result =
            Fail(stages, kProgressWindowFailedText, MB_ICONERROR, SetupResult::DownloadFailed);
        stages.destroyProgress(progress);
        return result;
    }
    stages.showStatus(progress, kDownloadingStatus, kDownloadingDetail);

    StagedRun run;
    if (!stages.makeStagingPaths(run) || !stages.downloadPackage(package, run.partialPath, &progress, errorText)) {
        stages.destroyProgress(progress);
        // A failed download has already deleted its file; the folder is all that is left.
        RemoveRunFolder(run);
        return Fail(stages, TextOr(errorText, kDownloadFailedText), MB_ICONERROR, SetupResult::DownloadFailed);
    }

    stages.showStatus(progress, kVerifyingStatus, kVerifyingDetail);
    stages.updateProgress(progress, package.size, package.size);

    if (!::MoveFileExW(run.partialPath.c_str(), run.finalPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        RemoveRun(run.partialPath, run);
        stages.destroyProgress(progress);
        return Fail(stages, kPrepareFailedText, MB_ICONERROR, SetupResult::PrepareFailed);
    }
    if (stages.afterRename) {
        stages.afterRename(run.finalPath);
    }

    UniqueFile installerLock = OpenInstallerLock(run.finalPath);
    if (!installerLock) {
        RemoveRun(run.finalPath, run);
        stages.destroyProgress(progress);
        return Fail(stages, kLockFailedText, MB_ICONERROR, SetupResult::VerificationFailed);
    }

    // Between the download's digest check and the lock, any process of this user could have replaced the
    // file in the user's own temporary folder, for instance with an older release signed by the same
    // publisher. Now that no writer can exist, prove again that this is the file that was hashed.
    if (!stages.lockedFileMatches(installerLock.Get(), package)) {
        stages.destroyProgress(progress);
        UnlockAndRemove(installerLock, run);
        return Fail(stages, kDigestMismatchText, MB_ICONERROR, SetupResult::VerificationFailed);
    }

    const bool trusted = stages.verifyInstallerTrust(run.finalPath, manifest.publisher, errorText);
    stages.destroyProgress(progress);
    if (!trusted) {
        UnlockAndRemove(installerLock, run);
        return Fail(stages, TextOr(errorText, kPublisherMismatchText), MB_ICONERROR,
                    SetupResult::VerificationFailed);
    }

    std::uint32_t installerExitCode = 1;
    const bool launched = stages.launchInstaller(run.finalPath, run.folderPath, installerExitCode);
    UnlockAndRemove(installerLock, run);
    if (!launched) {
        return Fail(stages, kLaunchFailedText, MB_ICONERROR, SetupResult::LaunchFailed);
    }
    return installerExitCode == 0 ? SetupResult::Success : SetupResult::InstallerFailed;
}

}  // namespace

bool Is64BitArchitecture(WORD processorArchitecture) {
    return processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           processorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
}

bool IsNative64BitWindows() {
    // Reports the machine's own architecture even in a 32-bit process under WOW64.
    SYSTEM_INFO info{};
    ::GetNativeSystemInfo(&info);
    return Is64BitArchitecture(info.wProcessorArchitecture);
}

void ShowErrorBox(const WideString& text, UINT style) {
    ::MessageBoxW(nullptr, text.c_str(), kMessageCaption, style | MB_SETFOREGROUND);
}

SetupResult RefuseDllRedirection(DllRedirection redirection, const SetupStages& stages) {
    if (redirection == DllRedirection::InForce) {
        return SetupResult::ComInitFailed;
    }
    return Fail(stages, kComInitFailedText, MB_ICONERROR, SetupResult::ComInitFailed);
}

SetupResult RunSetup(const SetupStages& stages) {
    if (FAILED(stages.coInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return Fail(stages, kComInitFailedText, MB_ICONERROR, SetupResult::ComInitFailed);
    }
    const SetupResult result = RunInApartment(stages);
    stages.coUninitialize();
    return result;
}
