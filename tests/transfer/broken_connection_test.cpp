// A connection that breaks in the middle of the body (tests/transfer/broken_server.py), for the manifest
// fetch and the package download alike. This program is built with the broken server as its release host.
#include <gtest/gtest.h>

#include "harness/test_support.h"
#include "transfer/manifest_fetch.h"
#include "transfer/package_download.h"
#include "transfer/transfer_test_util.h"

namespace {

TEST(BrokenConnection, AManifestCutMidBodyIsAReadFailure) {
    Utf8String body;
    EXPECT_STREQ(FetchReleaseManifest(body).Text(), L"Could not read release information.");
}

TEST(BrokenConnection, APackageCutMidBodyIsAnInterruptedDownloadAndLeavesNoFile) {
    const std::wstring partial = test_support::MakeScratchFolder(L"transfer-broken") + L"\\BrimlowAIQuillo-Setup-CUT.exe.part";
    const std::string bytes = transfer_test::Generated(50000);
    const PackageEntry package{
        transfer_test::LocalUrl(transfer_test::EnvPort("TRANSFER_PORT_BASE") + 4, "/transfer/broken/package"),
        transfer_test::Widen(transfer_test::Sha256Hex(bytes)), 50000};
    EXPECT_STREQ(transfer_test::DownloadPackage(package, partial, nullptr).Text(), L"The installer download was interrupted.");
    EXPECT_FALSE(test_support::FileExists(partial));
}

}  // namespace
