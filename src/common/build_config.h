#pragma once
// Settings compiled into each build. They live in one generated translation unit per build variant
// (see build_config.cpp.in), so a test variant with another host or publisher recompiles one file.
#include "common/wide_string.h"

extern const WideChar kReleaseHost[];           // host, optionally with ":port"
extern const WideChar kExpectedPublisher[];     // the Authenticode signer's simple display name
extern const WideChar kPublisherPlaceholder[];  // what kExpectedPublisher holds in an unconfigured build
extern const WideChar kReleaseBaseUrl[];        // "https://" + host + "/download/releases/"
extern const WideChar kManifestUrl[];           // kReleaseBaseUrl + "online-latest.json"

// How long the network may take, in milliseconds. Test builds shorten them to show each limit in
// seconds; the program's own build uses 60,000, 60,000 and 30,000.
extern const unsigned long kManifestTimeLimitMs;  // the whole manifest fetch, request and body
extern const unsigned long kRequestTimeLimitMs;   // a package request, up to its response headers
extern const unsigned long kReceiveTimeoutMs;     // each wait for response data

// False in a build whose expected publisher is still the placeholder: such a build can vouch for nothing.
bool IsPublisherConfigured();
