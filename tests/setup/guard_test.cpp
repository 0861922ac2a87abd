// A build whose expected publisher is still the placeholder stops before any network access.
#include <gtest/gtest.h>

#include "setup/setup_driver.h"

namespace {

int fetches = 0;
std::wstring boxText;
UINT boxStyle = 0;
int uninitialized = 0;

TEST(ConfigurationGuard, ThePlaceholderPublisherStopsWithCodeTwoBeforeTheNetwork) {
    SetupStages stages = kSystemStages;
    stages.coInitializeEx = [](LPVOID, DWORD) -> HRESULT { return S_OK; };
    stages.coUninitialize = [] { ++uninitialized; };
    stages.fetchReleaseManifest = [](Utf8String&, ErrorText&) { ++fetches; return false; };
    stages.showErrorBox = [](const WideString& text, UINT style) { boxText = text; boxStyle = style; };
    EXPECT_EQ(RunSetup(stages), SetupResult::PublisherNotConfigured);
    EXPECT_EQ(fetches, 0);
    EXPECT_EQ(boxText,
              L"This preview online installer is not publishable yet because the Certum publisher certificate has "
              L"not been configured.");
    EXPECT_EQ(boxStyle, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(uninitialized, 1);
}

}  // namespace
