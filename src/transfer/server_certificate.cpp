#include "transfer/server_certificate.h"

#include "trust/machine_trust.h"

bool VerifyServerCertificate(HINTERNET request, const WideString& host, DWORD& refusal) {
    DWORD error = ERROR_SUCCESS;
    PCCERT_CONTEXT received = nullptr;
    DWORD size = sizeof(received);
    if (!::WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &received, &size)) {
        error = ::GetLastError();
    }
    // The context's own store holds the certificates the server sent with it: the intermediates.
    const UniqueCertContext certificate(received);
    const bool trusted = certificate && ChainsToMachineRoot(certificate.Get(), certificate.Get()->hCertStore,
                                                            MachineTrustUse::Server, host.c_str(), nullptr, error);
    if (!trusted) {
        refusal = error;
    }
    return trusted;
}
