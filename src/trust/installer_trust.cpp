#include "trust/installer_trust.h"

// Placeholder until the trust check lands.
bool VerifyInstallerTrust(const WideString&, const WideString&, ErrorText&) { return false; }
bool ExtractSignerName(const WideString&, WideString&) { return false; }
