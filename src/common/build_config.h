#pragma once
// Settings compiled into each build. They live in one generated translation unit per build variant
// (see build_config.cpp.in), so a test variant with another host or publisher recompiles one file.
#include "common/wide_string.h"

extern const WideChar kReleaseHost[];           // host, optionally with ":port"
extern const WideChar kExpectedPublisher[];     // the Authenticode signer's simple display name
extern const WideChar kPublisherPlaceholder[];  // what kExpectedPublisher holds in an unconfigured build
extern const WideChar kReleaseBaseUrl[];        // "https://" + host + "/download/releases/"
extern const WideChar kManifestUrl[];           // kReleaseBaseUrl + "online-latest.json"

// False in a build whose expected publisher is still the placeholder: such a build can vouch for nothing.
bool IsPublisherConfigured();
