// --version: what the build compiled in, so that an engineer can see which host and publisher this tool
// checks against, and which web setup came from the same build.
#include "release_commands.h"

#include "common/build_config.h"
#include "console_output.h"
#include "tool_build.h"

void PrintBuildFacts() {
    PrintLine(L"Built for release host " + WideString(kReleaseHost) + L": manifest " + kManifestUrl);
    if (IsPublisherConfigured()) {
        PrintLine(L"Expected publisher: " + WideString(kExpectedPublisher));
    } else {
        PrintLine(L"Expected publisher: " + WideString(kExpectedPublisher) +
                  L", the placeholder: this build is unconfigured, so its web setup refuses to run and this tool "
                  L"refuses every command.");
    }
    if (kWebSetupSha256[0] != 0) {
        PrintLine(L"Web setup of the same build (" + WideString(kWebSetupArchitecture) + L"): SHA-256 " +
                  kWebSetupSha256);
    } else {
        PrintLine(L"Web setup of the same build: none (this is a test build of the tool).");
    }
}
