// --version: the tool's own version and the commit it was built from, and what the build compiled in, so
// that an engineer can see which host and publisher this tool checks against, and which web setup came
// from the same build.
#include "release_commands.h"

#include "common/build_config.h"
#include "console_output.h"
#include "release_host.h"
#include "tool_build.h"

void PrintBuildFacts() {
    PrintLine(L"quillo-release " + WideString(kToolVersion) + L", built from commit " + kSourceCommit +
              (kSourceDirty ? L" with changes that are in no commit" : L""));
    PrintLine(L"Built for release host " + WideString(kReleaseHost) + L": manifest " + kManifestUrl);
    const WideString hostWarning = UnpublishableHostWarning(kReleaseHost);
    if (!hostWarning.empty()) {
        PrintLine(hostWarning);
    }
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
