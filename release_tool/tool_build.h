#pragma once
// What the build knows of the web setup it made beside this tool, from the same sources and settings.
// Generated at build time (cmake/WebSetupDigest.cmake) from the linked web setup itself.

// Its SHA-256 in lower-case hexadecimal; empty for a test build of the tool that has no web setup.
extern const wchar_t kWebSetupSha256[];
// The processor it was built for, "i686" (the shipped one) or "x86_64".
extern const wchar_t kWebSetupArchitecture[];
