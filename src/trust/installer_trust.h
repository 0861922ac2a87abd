#pragma once
#include "common/wide_string.h"

// What the installer says when the signature is trusted but its signer is not the expected publisher.
inline constexpr wchar_t kPublisherMismatchText[] =
    L"Security check failed: the installer publisher does not match Brimlow AI Labs.";

// Authenticode through the Windows trust system, the signer's chain built again with the local
// machine's engine (it must end in a root of the machine's stores), then the first signer's name
// against both the compiled-in and the manifest's publisher. error is written only when Authenticode
// or the machine's chain refuses the signature.
bool VerifyInstallerTrust(const WideString& finalPath, const WideString& manifestPublisher, ErrorText& error);
// The same check, also handing back the verdict for a caller that reports it: WinVerifyTrust's result,
// or the machine chain's policy error when only that refused; 0 when both passed, whatever the
// signer's name.
bool VerifyInstallerTrust(const WideString& finalPath, const WideString& manifestPublisher, ErrorText& error,
                          long& trustResult);
bool ExtractSignerName(const WideString& path, WideString& signerName);
