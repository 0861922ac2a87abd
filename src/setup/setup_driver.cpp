#include "setup/setup_driver.h"

#include "common/build_config.h"
#include "common/win32_handles.h"
#include "setup/progress_window_observer.h"

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
constexpr wchar_t kLaunchFailedText[] = L"The verified installer could not be started.";

constexpr wchar_t kDownloadingStatus[] = L"Downloading the verified installer\u2026";
constexpr wchar_t kDownloadingDetail[] = L"The correct package for this PC is being transferred securely.";
constexpr wchar_t kVerifyingStatus[] = L"Verifying publisher and file integrity\u2026";
constexpr wchar_t kVerifyingDetail[] = L"Checking the SHA-256 hash and trusted Brimlow digital signature.";

SetupResult ShowFailure(const SetupStages& stages, const WideString& text, UINT style, SetupResult result) {
    stages.showErrorBox(text, style);
    return result;
}

const WideString& TextOr(const ErrorText& errorText, const WideString& fallback) {
    return errorText.empty() ? fallback : errorText;
}

// What a run holds once the user has said yes: the progress window and the run's staged files, which
// the StagedRun owns. Every exit gives them back in one order.
class AcceptedRun {
public:
    explicit AcceptedRun(const SetupStages& stages) : stages_(stages) {}
    // The last Destroy finds nothing left where an exit has already closed the window.
    ~AcceptedRun() {
        CloseWindow();
        run.Remove();
    }
    AcceptedRun(const AcceptedRun&) = delete;
    AcceptedRun& operator=(const AcceptedRun&) = delete;

    bool OpenWindow(const WideString& version) {
        windowOpen_ = stages_.createProgress(progress, version);
        return windowOpen_;
    }
    // No window of ours may stand behind a message box or under the installer that is started.
    void CloseWindow() {
        stages_.destroyProgress(progress);
        windowOpen_ = false;
    }

    // The window goes and the files are gone before the box: the user reads it with nothing of the run
    // left on screen or on disk.
    SetupResult Fail(const WideString& text, UINT style, SetupResult result) {
        if (windowOpen_) {
            CloseWindow();
        }
        run.Remove();
        return ShowFailure(stages_, text, style, result);
    }

    ProgressWindow progress;
    StagedRun run;

private:
    const SetupStages& stages_;
    bool windowOpen_ = false;
};

// From the confirmation to the launch.
SetupResult DownloadVerifyAndLaunch(const SetupStages& stages, const ReleaseManifest& manifest,
                                    const PackageEntry& package) {
    AcceptedRun accepted(stages);
    if (!accepted.OpenWindow(manifest.version)) {
        return accepted.Fail(kProgressWindowFailedText, MB_ICONERROR, SetupResult::DownloadFailed);
    }
    stages.showStatus(accepted.progress, kDownloadingStatus, kDownloadingDetail);

    StagedRun& run = accepted.run;
    ErrorText errorText;
    ProgressWindowObserver observer(accepted.progress);
    if (!stages.makeStagingPaths(run)) {
        return accepted.Fail(kDownloadFailedText, MB_ICONERROR, SetupResult::DownloadFailed);
    }
    const HANDLE partialFile = run.CreatePartialFile();
    if (partialFile == INVALID_HANDLE_VALUE) {
        return accepted.Fail(kCreateFailedText, MB_ICONERROR, SetupResult::DownloadFailed);
    }
    if (!stages.downloadPackage(package, partialFile, &observer, errorText)) {
        return accepted.Fail(TextOr(errorText, kDownloadFailedText), MB_ICONERROR, SetupResult::DownloadFailed);
    }

    stages.showStatus(accepted.progress, kVerifyingStatus, kVerifyingDetail);
    stages.updateProgress(accepted.progress, package.size, package.size);

    if (!run.PromotePartialFile()) {
        return accepted.Fail(kPrepareFailedText, MB_ICONERROR, SetupResult::PrepareFailed);
    }
    if (stages.afterRename) {
        stages.afterRename(run.FinalPath());
    }

    if (!run.LockFinalFile()) {
        return accepted.Fail(kLockFailedText, MB_ICONERROR, SetupResult::VerificationFailed);
    }

    // The download's digest was taken while the file was being written; the file has since been closed
    // and renamed. Now that no writer can exist, prove again that this is the file that was hashed.
    if (!stages.lockedFileMatches(run.InstallerLock(), package)) {
        return accepted.Fail(kDigestMismatchText, MB_ICONERROR, SetupResult::VerificationFailed);
    }

    if (!stages.verifyInstallerTrust(run.FinalPath(), manifest.publisher, errorText)) {
        return accepted.Fail(TextOr(errorText, kPublisherMismatchText), MB_ICONERROR,
                             SetupResult::VerificationFailed);
    }

    accepted.CloseWindow();
    std::uint32_t installerExitCode = 1;
    if (!stages.launchInstaller(run.FinalPath(), run.FolderPath(), installerExitCode)) {
        return accepted.Fail(kLaunchFailedText, MB_ICONERROR, SetupResult::LaunchFailed);
    }
    run.Remove();
    return installerExitCode == 0 ? SetupResult::Success : SetupResult::InstallerFailed;
}

// Everything after COM is up; the caller uninitializes COM once this returns, after any box.
SetupResult RunInApartment(const SetupStages& stages) {
    if (!IsPublisherConfigured()) {
        return ShowFailure(stages, kPublisherNotConfiguredText, MB_ICONWARNING, SetupResult::PublisherNotConfigured);
    }

    Utf8String rawManifest;
    ErrorText errorText;
    if (!stages.fetchReleaseManifest(rawManifest, errorText)) {
        return ShowFailure(stages, errorText, MB_ICONERROR, SetupResult::ManifestFetchFailed);
    }

    ReleaseManifest manifest;
    if (!stages.validateReleaseManifest(rawManifest, manifest)) {
        return ShowFailure(stages, kManifestInvalidText, MB_ICONERROR, SetupResult::ManifestInvalid);
    }
    if (!manifest.published) {
        return ShowFailure(stages, kReleaseNotPublishedText, MB_ICONINFORMATION, SetupResult::ReleaseNotPublished);
    }

    const PackageEntry& package = stages.isNative64BitWindows() ? manifest.x64 : manifest.x86;

    if (stages.confirmInstall(manifest) != kInstallButtonId) {
        return SetupResult::Success;
    }
    return DownloadVerifyAndLaunch(stages, manifest, package);
}

}  // namespace

SetupResult RefuseDllRedirection(DllRedirection redirection, const SetupStages& stages) {
    if (redirection == DllRedirection::InForce) {
        return SetupResult::ComInitFailed;
    }
    stages.showPlainErrorBox(kComInitFailedText, MB_ICONERROR);
    return SetupResult::ComInitFailed;
}

SetupResult RunSetup(const SetupStages& stages) {
    if (FAILED(stages.coInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return ShowFailure(stages, kComInitFailedText, MB_ICONERROR, SetupResult::ComInitFailed);
    }
    const SetupResult result = RunInApartment(stages);
    stages.coUninitialize();
    return result;
}
