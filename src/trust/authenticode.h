#pragma once
#include "common/platform_compat.h"

#include <windows.h>

#include "common/wide_string.h"
#include "trust/machine_trust.h"

// What WinVerifyTrust verified, taken from its state before that state is closed.
struct VerifiedSigner {
    // The signer whose signature it verified (the primary one; a nested signature plays no part).
    UniqueCertContext certificate;
    // The time it verified the signature at: the timestamp's, where a timestamp counts, else now.
    FILETIME verifiedAt{};
    // The timestamp's signer, where a timestamp counts; null otherwise.
    UniqueCertContext timestampSigner;
    // Every certificate the signature carried and the trust system's chains found: the candidates for
    // the intermediates of the chains built again with the machine's engine.
    UniqueCertStore certificates;
};

// WinVerifyTrust's verdict on the embedded Authenticode signature of the file held open as file (path
// names the same file, as the trust system wants it), with the installer's action, revocation and
// provider flags: 0 when the system trusts it, else the failure it gave. On 0 and when signer is given,
// signer gets what it verified (its certificate stays null when none could be read). The verify state
// is closed before this returns. The installer's trust check starts with it; the benchmark times it.
long VerifyAuthenticode(HANDLE file, const WideString& path, VerifiedSigner* signer);
