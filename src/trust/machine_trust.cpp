#include "trust/machine_trust.h"

namespace {

using UniqueChain = UniqueHandle<NullHandleTraits<PCCERT_CHAIN_CONTEXT, ::CertFreeCertificateChain>>;

// A chain that the policy might excuse but that does not end in one of the machine's roots is refused
// all the same.
constexpr DWORD kNotAnchoredInTheMachine = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN;
// SECURITY_FLAG_IGNORE_REVOCATION of wininet.h, which the SSL policy's checks take: Wine's SSL policy
// refuses a revocation status it could not determine unless told so here, whatever dwFlags says.
constexpr DWORD kSslIgnoreRevocation = 0x00000080;
// A revocation status that could not be determined: no distribution point, or none that answered.
constexpr DWORD kRevocationUnknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

LPSTR UsageOf(MachineTrustUse use) {
    switch (use) {
    case MachineTrustUse::Server:
        return const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
    case MachineTrustUse::TimeStamping:
        return const_cast<LPSTR>(szOID_PKIX_KP_TIMESTAMP_SIGNING);
    case MachineTrustUse::CodeSigning:
        break;
    }
    return const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING);
}

// What the chain's own status refuses, whatever the policy said of it: Wine's policies pass a revoked
// chain, and the code-signing chains refuse what the policy is not asked about.
DWORD RefusalInStatus(DWORD status, MachineTrustUse use) {
    if ((status & CERT_TRUST_IS_REVOKED) != 0) {
        return static_cast<DWORD>(CRYPT_E_REVOKED);
    }
    if ((status & kNotAnchoredInTheMachine) != 0) {
        return static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
    }
    if (use == MachineTrustUse::Server) {
        return 0;
    }
    if ((status & CERT_TRUST_IS_NOT_TIME_VALID) != 0) {
        return static_cast<DWORD>(CERT_E_EXPIRED);
    }
    if ((status & kRevocationUnknown) != 0) {
        return static_cast<DWORD>((status & CERT_TRUST_IS_OFFLINE_REVOCATION) != 0 ? CRYPT_E_REVOCATION_OFFLINE
                                                                                  : CRYPT_E_NO_REVOCATION_CHECK);
    }
    return 0;
}

}  // namespace

bool ChainsToMachineRoot(PCCERT_CONTEXT certificate, HCERTSTORE extraStore, MachineTrustUse use,
                         const wchar_t* serverName, const FILETIME* time, DWORD& policyError) {
    const bool server = use == MachineTrustUse::Server;
    LPSTR usage = UsageOf(use);
    CERT_CHAIN_PARA chainPara = {};
    chainPara.cbSize = sizeof(chainPara);
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = &usage;

    UniqueChain chain;
    if (!::CertGetCertificateChain(HCCE_LOCAL_MACHINE, certificate, const_cast<FILETIME*>(time), extraStore,
                                   &chainPara, CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT, nullptr,
                                   chain.Put())) {
        policyError = ::GetLastError();
        return false;
    }

    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
    ssl.cbSize = sizeof(ssl);
    ssl.dwAuthType = AUTHTYPE_SERVER;
    // The server's chain passes with a revocation status that could not be determined, as browsers let it,
    // so that a revocation server that cannot be reached does not stop every installation. A revoked
    // certificate is refused below from the chain's own status, whatever the policy says.
    ssl.fdwChecks = kSslIgnoreRevocation;
    ssl.pwszServerName = const_cast<wchar_t*>(serverName);
    CERT_CHAIN_POLICY_PARA policyPara = {};
    policyPara.cbSize = sizeof(policyPara);
    // Validity periods always count.
    policyPara.dwFlags = server ? CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS : 0;
    policyPara.pvExtraPolicyPara = server ? &ssl : nullptr;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof(status);
    if (!::CertVerifyCertificateChainPolicy(server ? CERT_CHAIN_POLICY_SSL : CERT_CHAIN_POLICY_BASE, chain.Get(),
                                            &policyPara, &status)) {
        policyError = ::GetLastError();
        return false;
    }
    const DWORD refusal = RefusalInStatus(chain.Get()->TrustStatus.dwErrorStatus, use);
    if (refusal != 0) {
        policyError = refusal;
        return false;
    }
    if (status.dwError != 0) {
        policyError = status.dwError;
        return false;
    }
    policyError = 0;
    return true;
}
