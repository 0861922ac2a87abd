#pragma once
// The process exit code: one value per way a run can end.
enum class SetupResult : int {
    Success = 0,
    ComInitFailed = 1,
    PublisherNotConfigured = 2,
    ManifestFetchFailed = 3,
    ManifestInvalid = 4,
    ReleaseNotPublished = 5,
    DownloadFailed = 6,
    PrepareFailed = 7,
    VerificationFailed = 8,
    LaunchFailed = 9,
    InstallerFailed = 10,
};
