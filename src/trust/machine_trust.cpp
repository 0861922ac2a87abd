#include "trust/machine_trust.h"

namespace {

using UniqueChain = UniqueHandle<NullHandleTraits<PCCERT_CHAIN_CONTEXT, ::CertFreeCertificateChain>>;

// A chain that the policy might excuse but that does not end in one of the machine's roots is refused
// all the same.
constexpr DWORD kNotAnchoredInTheMachine = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN;

}  // namespace

bool ChainsToMachineRoot(PCCERT_CONTEXT certificate, HCERTSTORE extraStore, MachineTrustUse use,
                         const wchar_t* serverName, DWORD& policyError) {
    const bool server = use == MachineTrustUse::Server;
    LPSTR usage = const_cast<LPSTR>(server ? szOID_PKIX_KP_SERVER_AUTH : szOID_PKIX_KP_CODE_SIGNING);
    CERT_CHAIN_PARA chainPara = {};
    chainPara.cbSize = sizeof(chainPara);
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = &usage;

    // No revocation here: WinVerifyTrust has checked it for the package, and the request's own check
    // for the server. This pass is about which root the chain ends in.
    UniqueChain chain;
    if (!::CertGetCertificateChain(HCCE_LOCAL_MACHINE, certificate, nullptr, extraStore, &chainPara, 0, nullptr,
                                   chain.Put())) {
        policyError = ::GetLastError();
        return false;
    }

    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
    ssl.cbSize = sizeof(ssl);
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = 0;
    ssl.pwszServerName = const_cast<wchar_t*>(serverName);
    CERT_CHAIN_POLICY_PARA policyPara = {};
    policyPara.cbSize = sizeof(policyPara);
    // A signature made while the publisher's certificate was valid stays valid: WinVerifyTrust judged
    // the periods against the signature's timestamp.
    policyPara.dwFlags = server ? 0 : CERT_CHAIN_POLICY_IGNORE_ALL_NOT_TIME_VALID_FLAGS;
    policyPara.pvExtraPolicyPara = server ? &ssl : nullptr;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof(status);
    if (!::CertVerifyCertificateChainPolicy(server ? CERT_CHAIN_POLICY_SSL : CERT_CHAIN_POLICY_BASE, chain.Get(),
                                            &policyPara, &status)) {
        policyError = ::GetLastError();
        return false;
    }
    if (status.dwError != 0) {
        policyError = status.dwError;
        return false;
    }
    if ((chain.Get()->TrustStatus.dwErrorStatus & kNotAnchoredInTheMachine) != 0) {
        policyError = static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
        return false;
    }
    policyError = 0;
    return true;
}
