#include "trust/installer_trust.h"

#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "common/build_config.h"
#include "trust/authenticode.h"
#include "trust/machine_trust.h"

namespace {

constexpr wchar_t kUntrustedSignatureText[] =
    L"Security check failed: the downloaded installer does not have a valid trusted Authenticode signature.";

// Reads the certificate's simple display name completely, or not at all.
bool ReadSimpleDisplayName(PCCERT_CONTEXT certificate, WideString& name) {
    const DWORD length = ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    // The length counts the terminating zero: 0 or 1 means there is no name to compare.
    if (length <= 1) {
        return false;
    }
    std::vector<wchar_t> buffer(length);
    if (::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, buffer.data(), length) !=
        length) {
        return false;
    }
    // All n - 1 units, not up to the first zero: a name with a zero inside ("PUBLISHER\0anything") must
    // not shorten into the expected publisher's name.
    if (buffer[length - 1] != L'\0') {
        return false;
    }
    name.assign(buffer.data(), length - 1);
    return true;
}

}  // namespace

Outcome TrustVerdict::ToOutcome() const {
    switch (kind) {
    case Kind::Trusted:
        return {};
    case Kind::NotTrusted:
        return Outcome::Failure(kUntrustedSignatureText, static_cast<std::uint32_t>(trustResult));
    case Kind::PublisherMismatch:
    case Kind::NoSigner:
        break;
    }
    return Outcome::Failure(kPublisherMismatchText);
}

TrustVerdict VerifyInstallerTrust(HANDLE lockedFile, const WideString& path, const WideString& manifestPublisher) {
    static_assert(sizeof(long) == sizeof(LONG));
    TrustVerdict verdict;
    VerifiedSigner signer;
    verdict.trustResult = VerifyAuthenticode(lockedFile, path, &signer);
    if (verdict.trustResult != ERROR_SUCCESS) {
        return verdict;
    }
    verdict.kind = TrustVerdict::Kind::NoSigner;
    if (!signer.certificate) {
        return verdict;
    }
    // WinVerifyTrust builds the chain with the user's engine, which also takes the roots of the user's
    // own store, and judges time and revocation as the user's WinTrust policy flags allow. Built again
    // with the machine's engine, at the time it verified at, the chain must end in a root the machine
    // trusts, be valid then and be revoked nowhere; so must the timestamp's, which set that time.
    DWORD chainError = 0;
    const bool chained =
        ChainsToMachineRoot(signer.certificate.Get(), signer.certificates.Get(), MachineTrustUse::CodeSigning,
                            nullptr, &signer.verifiedAt, chainError) &&
        (!signer.timestampSigner ||
         ChainsToMachineRoot(signer.timestampSigner.Get(), signer.certificates.Get(), MachineTrustUse::TimeStamping,
                             nullptr, &signer.verifiedAt, chainError));
    if (!chained) {
        verdict.kind = TrustVerdict::Kind::NotTrusted;
        verdict.trustResult = static_cast<long>(chainError);
        return verdict;
    }
    if (!ReadSimpleDisplayName(signer.certificate.Get(), verdict.signer)) {
        return verdict;
    }
    // Exact comparison: same length, same code units. No case folding, trimming or normalisation.
    const bool expected = verdict.signer == kExpectedPublisher && verdict.signer == manifestPublisher;
    verdict.kind = expected ? TrustVerdict::Kind::Trusted : TrustVerdict::Kind::PublisherMismatch;
    return verdict;
}
