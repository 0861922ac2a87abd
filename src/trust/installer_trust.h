#pragma once
#include "common/wide_string.h"

// What the installer says when the signature is trusted but its signer is not the expected publisher.
inline constexpr wchar_t kPublisherMismatchText[] =
    L"Security check failed: the installer publisher does not match Brimlow AI Labs.";

// Authenticode through the Windows trust system, then the first signer's name against both the
// compiled-in and the manifest's publisher. error is written only when Authenticode itself fails.
bool VerifyInstallerTrust(const WideString& finalPath, const WideString& manifestPublisher, ErrorText& error);
// The same check, also handing back WinVerifyTrust's result for a caller that reports it: 0 when
// Authenticode passed, whatever the signer's name.
bool VerifyInstallerTrust(const WideString& finalPath, const WideString& manifestPublisher, ErrorText& error,
                          long& trustResult);
bool ExtractSignerName(const WideString& path, WideString& signerName);
