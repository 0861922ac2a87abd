#pragma once
// What the build knows of the web setup it made beside this tool, from the same sources and settings,
// and of the sources themselves. Generated at build time: cmake/WebSetupDigest.cmake from the linked web
// setup, cmake/SourceState.cmake from git.

// Its SHA-256 in lower-case hexadecimal; empty for a test build of the tool that has no web setup.
extern const wchar_t kWebSetupSha256[];
// The processor it was built for, "i686" (the shipped one) or "x86_64".
extern const wchar_t kWebSetupArchitecture[];
// The tool's own version, such as "1.0.5".
extern const wchar_t kToolVersion[];
// The commit the build was made from (40 hexadecimal digits), or "unknown" outside a git checkout; and
// whether the tree had changes that are in no commit.
extern const wchar_t kSourceCommit[];
extern const bool kSourceDirty;
