#pragma once
// Whether the host a build was made for can be the release server users reach: the rule of
// cmake/ReleaseHost.cmake, which stops the configuring of such a build unless it is allowed on purpose.
#include <string_view>

#include "common/wide_string.h"

// Empty for a host that can be the release server; otherwise why it cannot, as the end of a sentence
// about it ("is under .example, a name reserved for examples and tests that never resolves"). Names reserved for examples, tests and documentation, and this machine, never can.
WideString ReleaseHostProblem(std::wstring_view host);

// The line make, check and --version print for such a build, naming RELEASE_HOST; empty for a host that
// can be the release server.
WideString UnpublishableHostWarning(std::wstring_view host);

// What a verdict that would say "ready to upload" says instead for such a build: ", but do not publish:
// this tool was built for RELEASE_HOST …, which users cannot reach"; empty for a host that can be the
// release server.
WideString UnpublishableHostVerdict(std::wstring_view host);
