#include "setup/setup_driver.h"

#include "common/build_config.h"
#include "common/win32_handles.h"
#include "manifest/release_manifest.h"
#include "setup/architecture.h"
#include "setup/confirm_install.h"
#include "setup/dll_redirection.h"
#include "setup/error_box.h"
#include "setup/installer_launch.h"
#include "setup/progress_window_observer.h"
#include "transfer/manifest_fetch.h"
#include "ui/progress_window.h"

namespace {

constexpr wchar_t kComInitFailedText[] = L"Windows could not initialize the installer.";
constexpr wchar_t kPublisherNotConfiguredText[] =
    L"This preview online installer is not publishable yet because the Certum publisher certificate has not "
    L"been configured.";
constexpr wchar_t kManifestInvalidText[] = L"Release metadata failed strict security validation.";
constexpr wchar_t kReleaseNotPublishedText[] =
    L"The signed online release is not available yet. Please try again later.";
constexpr wchar_t kProgressWindowFailedText[] = L"Windows could not open the secure installation progress window.";

constexpr wchar_t kDownloadingStatus[] = L"Downloading the verified installer\u2026";
constexpr wchar_t kDownloadingDetail[] = L"The correct package for this PC is being transferred securely.";
constexpr wchar_t kVerifyingStatus[] = L"Verifying publisher and file integrity\u2026";
constexpr wchar_t kVerifyingDetail[] = L"Checking the SHA-256 hash and trusted Brimlow digital signature.";

// The progress window's part of the stages.
bool CreateProgress(ProgressWindow& progress, const WideString& version) { return progress.Create(version); }
void ShowStatus(ProgressWindow& progress, const WideString& status, const WideString& detail) {
    progress.ShowStatus(status, detail);
}
void ShowProgress(ProgressWindow& progress, std::uint64_t received, std::uint64_t total) {
    progress.ShowProgress(received, total);
}
void DestroyProgress(ProgressWindow& progress) { progress.Destroy(); }
Outcome OpenRunFolder(StagedRun& run) { return run.Open(); }
Outcome PromotePartialFile(StagedRun& run) { return run.Promote(); }

SetupResult ShowFailure(const SetupStages& stages, const WideString& text, UINT style, SetupResult result) {
    stages.showErrorBox(text, style);
    return result;
}

// What a run holds once the user has said yes: the progress window and the run's staged files, which
// the StagedRun owns. Every exit gives them back in one order.
class AcceptedRun {
public:
    explicit AcceptedRun(const SetupStages& stages) : run(RunFolderPlace::MachineTemp, stages.staging), stages_(stages) {}
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
    SetupResult Fail(const Outcome& outcome, SetupResult result) {
        return Fail(outcome.Text(), MB_ICONERROR, result);
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
    ProgressWindowObserver observer(accepted.progress);
    if (const Outcome opened = stages.openRunFolder(run); !opened) {
        return accepted.Fail(opened, SetupResult::DownloadFailed);
    }
    if (const Outcome downloaded = run.Download(package, &observer); !downloaded) {
        return accepted.Fail(downloaded, SetupResult::DownloadFailed);
    }

    stages.showStatus(accepted.progress, kVerifyingStatus, kVerifyingDetail);
    stages.updateProgress(accepted.progress, package.size, package.size);

    if (const Outcome promoted = stages.promotePartialFile(run); !promoted) {
        return accepted.Fail(promoted, SetupResult::PrepareFailed);
    }
    if (const Outcome sealed = run.Seal(package); !sealed) {
        return accepted.Fail(sealed, SetupResult::VerificationFailed);
    }
    std::optional<VerifiedInstaller> installer;
    if (const Outcome trusted = run.Verify(manifest.publisher, installer); !trusted) {
        return accepted.Fail(trusted, SetupResult::VerificationFailed);
    }

    accepted.CloseWindow();
    std::uint32_t installerExitCode = 1;
    if (const Outcome launched = stages.launchInstaller(*installer, installerExitCode); !launched) {
        return accepted.Fail(launched, SetupResult::LaunchFailed);
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
    if (const Outcome fetched = stages.fetchReleaseManifest(rawManifest); !fetched) {
        return ShowFailure(stages, fetched.Text(), MB_ICONERROR, SetupResult::ManifestFetchFailed);
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

const SetupStages kSystemStages = {
    .coInitializeEx = ::CoInitializeEx,
    .coUninitialize = ::CoUninitialize,
    .fetchReleaseManifest = FetchReleaseManifest,
    .validateReleaseManifest = ValidateReleaseManifest,
    .isNative64BitWindows = IsNative64BitWindows,
    .confirmInstall = ConfirmInstall,
    .createProgress = CreateProgress,
    .showStatus = ShowStatus,
    .updateProgress = ShowProgress,
    .destroyProgress = DestroyProgress,
    .staging = {},
    .openRunFolder = OpenRunFolder,
    .promotePartialFile = PromotePartialFile,
    .launchInstaller = LaunchInstaller,
    .showErrorBox = ShowErrorBox,
    .showPlainErrorBox = ShowPlainErrorBox,
};

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
