// The real stages, wired into the driver for the program itself.
#include <objbase.h>

#include "manifest/release_manifest.h"
#include "setup/confirm_install.h"
#include "setup/installer_launch.h"
#include "setup/setup_driver.h"
#include "transfer/manifest_fetch.h"
#include "transfer/package_download.h"
#include "transfer/staging_paths.h"
#include "trust/installer_trust.h"
#include "ui/progress.h"

const SetupStages kSystemStages = {
    [](LPVOID reserved, DWORD flags) { return ::CoInitializeEx(reserved, flags); },
    [] { ::CoUninitialize(); },
    FetchReleaseManifest,
    ValidateReleaseManifest,
    IsNative64BitWindows,
    ConfirmInstall,
    Create,
    ShowStatus,
    UpdateProgress,
    Destroy,
    [](StagedRun& run) { return MakeStagingPaths(run); },
    DownloadPackage,
    FileMatchesPackage,
    VerifyInstallerTrust,
    LaunchInstaller,
    ShowErrorBox,
    nullptr,
};
