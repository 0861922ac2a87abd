#pragma once
#include "common/platform_compat.h"

#include <windows.h>

#include "common/outcome.h"
#include "common/wide_string.h"

// What the installer says when the signature is trusted but its signer is not the expected publisher.
inline constexpr wchar_t kPublisherMismatchText[] =
    L"Security check failed: the installer publisher does not match Brimlow AI Labs.";

// What the trust check found.
struct TrustVerdict {
    enum class Kind {
        Trusted,            // trusted, and signed by the expected publisher
        NotTrusted,         // Authenticode or the machine's chain refused the signature
        PublisherMismatch,  // trusted, but signed by someone else (signer names them)
        NoSigner,           // trusted, but no signer's name could be read
    };
    Kind kind = Kind::NotTrusted;
    // WinVerifyTrust's result, or the machine chain's policy error when only that refused; 0 otherwise.
    long trustResult = 0;
    // The name of the signer WinVerifyTrust verified, wherever it was read.
    WideString signer;

    // What the installer says of it: nothing when trusted, else its sentence and, for a refused
    // signature, the refusal's number.
    Outcome ToOutcome() const;
};

// Authenticode through the Windows trust system, on the file held open as lockedFile (the installer's
// lock on path); then the chain of the signer it verified, and of the timestamp's signer where a
// timestamp counts, built again with the local machine's engine at the time it verified at: it must end
// in a root of the machine's stores, with every validity period in force and no certificate but the
// root revoked or of unknown revocation status. Last, that signer's name against both the compiled-in
// and the manifest's publisher.
TrustVerdict VerifyInstallerTrust(HANDLE lockedFile, const WideString& path, const WideString& manifestPublisher);
