#pragma once
#include "common/wide_string.h"

// Authenticode through the Windows trust system, then the first signer's name against both the
// compiled-in and the manifest's publisher. error is written only when Authenticode itself fails.
bool VerifyInstallerTrust(const WideString& finalPath, const WideString& manifestPublisher, ErrorText& error);
bool ExtractSignerName(const WideString& path, WideString& signerName);
