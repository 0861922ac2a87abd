// A build whose expected publisher is still the placeholder stops before any network access; the same
// text in other letter case is a publisher like any other. Built once per configuration.
#include <gtest/gtest.h>

#include "setup/setup_driver.h"
#include "ui/run_observer.h"

namespace {

int fetches = 0;
std::wstring boxText;
UINT boxStyle = 0;
int uninitialized = 0;

SetupStages StagesThatStopAtTheFetch() {
    SetupStages stages = kSystemStages;
    stages.coInitializeEx = [](LPVOID, DWORD) -> HRESULT { return S_OK; };
    stages.coUninitialize = [] { ++uninitialized; };
    stages.fetchReleaseManifest = [](Utf8String&) {
        ++fetches;
        return Outcome::Failure(L"Could not read release information.");
    };
    return stages;
}

// Keeps the box; nothing else of the run is shown before the fetch.
class BoxOnly final : public RunObserver {
public:
    bool Open(const WideString&) override { return false; }
    void ShowStatus(const WideString&, const WideString&) override {}
    void Close() override {}
    void ShowFailure(const WideString& text, UINT style) override {
        boxText = text;
        boxStyle = style;
    }
    void ShowFailureWithoutCommonControls(const WideString& text, UINT style) override { ShowFailure(text, style); }
    bool ContinueDownload() override { return true; }
    void BlockReceived(std::uint64_t, std::uint64_t) override {}
};
BoxOnly face;

#ifndef GUARD_PLACEHOLDER_IN_OTHER_CASE
TEST(ConfigurationGuard, ThePlaceholderPublisherStopsWithCodeTwoBeforeTheNetwork) {
    EXPECT_EQ(RunSetup(face, StagesThatStopAtTheFetch()), SetupResult::PublisherNotConfigured);
    EXPECT_EQ(fetches, 0);
    EXPECT_EQ(boxText,
              L"This preview online installer is not publishable yet because the Certum publisher certificate has "
              L"not been configured.");
    EXPECT_EQ(boxStyle, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(uninitialized, 1);
}
#else
TEST(ConfigurationGuard, ThePlaceholderInOtherLetterCasePassesTheGuard) {
    EXPECT_EQ(RunSetup(face, StagesThatStopAtTheFetch()), SetupResult::ManifestFetchFailed);
    EXPECT_EQ(fetches, 1);
    EXPECT_EQ(boxText, L"Could not read release information.");
}
#endif

}  // namespace
