#include "trust/authenticode.h"

#include <softpub.h>
#include <wintrust.h>

namespace {

// Adds every certificate of a signer's chain, as the trust system built it, to the store.
void AddSignerChain(CRYPT_PROVIDER_SGNR* signer, HCERTSTORE store) {
    for (DWORD i = 0; i < signer->csCertChain; ++i) {
        const CRYPT_PROVIDER_CERT* element = ::WTHelperGetProvCertFromChain(signer, i);
        if (element && element->pCert) {
            ::CertAddCertificateContextToStore(store, element->pCert, CERT_STORE_ADD_USE_EXISTING, nullptr);
        }
    }
}

PCCERT_CONTEXT FirstCertificate(CRYPT_PROVIDER_SGNR* signer) {
    const CRYPT_PROVIDER_CERT* first = signer ? ::WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    return first && first->pCert ? ::CertDuplicateCertificateContext(first->pCert) : nullptr;
}

// One WinVerifyTrust verification. The verify call leaves state behind that only the close call
// releases, whatever the verdict; the destructor makes that close call, so it cannot be left out.
class TrustVerification {
public:
    TrustVerification(HANDLE file, const WideString& path) {
        fileInfo_.cbStruct = sizeof(fileInfo_);
        fileInfo_.pcwszFilePath = path.c_str();
        // The trust system reads the file through this handle, the installer's lock: it verifies the
        // very file that nobody can change while the lock is held, not whatever the path names now.
        fileInfo_.hFile = file;
        fileInfo_.pgKnownSubject = nullptr;

        data_.cbStruct = sizeof(data_);
        data_.pPolicyCallbackData = nullptr;
        data_.pSIPClientData = nullptr;
        data_.dwUIChoice = WTD_UI_NONE;
        data_.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &fileInfo_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        data_.hWVTStateData = nullptr;
        data_.pwszURLReference = nullptr;
        data_.dwProvFlags = WTD_DISABLE_MD2_MD4 | WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
        data_.dwUIContext = WTD_UICONTEXT_EXECUTE;
        data_.pSignatureSettings = nullptr;
    }

    ~TrustVerification() {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        Call();
    }

    TrustVerification(const TrustVerification&) = delete;
    TrustVerification& operator=(const TrustVerification&) = delete;

    LONG Verify() { return Call(); }

    // Copies out of the open state the signer it verified, the time and the timestamp's signer. The
    // certificates are duplicated, so they outlive the state.
    void TakeSigner(VerifiedSigner& out) const {
        CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data_.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signer = provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        out.certificate.Reset(FirstCertificate(signer));
        if (!out.certificate) {
            return;
        }
        out.certificates.Reset(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
        if (out.certificates && provider->hMsg) {
            const UniqueCertStore carried(::CertOpenStore(CERT_STORE_PROV_MSG, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                          0, 0, provider->hMsg));
            for (PCCERT_CONTEXT c = nullptr;
                 carried && (c = ::CertEnumCertificatesInStore(carried.Get(), c)) != nullptr;) {
                ::CertAddCertificateContextToStore(out.certificates.Get(), c, CERT_STORE_ADD_USE_EXISTING, nullptr);
            }
        }
        if (out.certificates) {
            AddSignerChain(signer, out.certificates.Get());
        }
        // A timestamp counts where the trust system verified a counter-signer; then it verified the
        // signature at the timestamp's time. Without one the time is now, whatever the state says.
        CRYPT_PROVIDER_SGNR* timestamp =
            signer->csCounterSigners > 0 ? ::WTHelperGetProvSignerFromChain(provider, 0, TRUE, 0) : nullptr;
        out.timestampSigner.Reset(FirstCertificate(timestamp));
        if (out.timestampSigner) {
            out.verifiedAt = signer->sftVerifyAsOf;
            if (out.certificates) {
                AddSignerChain(timestamp, out.certificates.Get());
            }
        } else {
            ::GetSystemTimeAsFileTime(&out.verifiedAt);
        }
    }

private:
    LONG Call() {
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        // The full structure starts with MinGW's shorter one; cbStruct tells the system the real size.
        return ::WinVerifyTrust(nullptr, &action, reinterpret_cast<WINTRUST_DATA*>(&data_));
    }

    WINTRUST_FILE_INFO fileInfo_{};
    FullWintrustData data_{};
};

}  // namespace

// The verify state is closed before this returns, so nothing of the trust system outlives the verdict.
long VerifyAuthenticode(HANDLE file, const WideString& path, VerifiedSigner* signer) {
    TrustVerification verification(file, path);
    const LONG result = verification.Verify();
    if (result == ERROR_SUCCESS && signer) {
        verification.TakeSigner(*signer);
    }
    return result;
}
