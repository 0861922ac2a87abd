#include "trust/installer_trust.h"

#include <windows.h>
#include <wincrypt.h>

#include <utility>
#include <vector>

#include "common/build_config.h"
#include "common/unique_handle.h"
#include "trust/authenticode.h"
#include "trust/machine_trust.h"

namespace {

constexpr wchar_t kUntrustedSignatureText[] =
    L"Security check failed: the downloaded installer does not have a valid trusted Authenticode signature.";

void CloseCertStore(HCERTSTORE store) { ::CertCloseStore(store, 0); }
using UniqueCryptMsg = UniqueHandle<NullHandleTraits<HCRYPTMSG, ::CryptMsgClose>>;
using UniqueCertStore = UniqueHandle<NullHandleTraits<HCERTSTORE, CloseCertStore>>;

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

// The embedded signature's store and message, and its first signer's certificate. Declared in this
// order so that the certificate goes first, then the message, then the store.
struct FirstSigner {
    UniqueCertStore store;
    UniqueCryptMsg message;
    UniqueCertContext certificate;
};

// Finds the first signer's certificate in the signature's own store by issuer and serial number.
bool ReadFirstSigner(const WideString& path, FirstSigner& signer) {
    DWORD encodingType = 0;
    DWORD contentType = 0;
    DWORD formatType = 0;
    if (!::CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                            CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encodingType, &contentType, &formatType,
                            signer.store.Put(), signer.message.Put(), nullptr)) {
        return false;
    }
    DWORD size = 0;
    // A size too small to hold the record would have us read past the buffer: fail closed.
    if (!::CryptMsgGetParam(signer.message.Get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) ||
        size < sizeof(CMSG_SIGNER_INFO)) {
        return false;
    }
    std::vector<BYTE> signerBuffer(size);
    if (!::CryptMsgGetParam(signer.message.Get(), CMSG_SIGNER_INFO_PARAM, 0, signerBuffer.data(), &size)) {
        return false;
    }
    const auto* signerInfo = reinterpret_cast<const CMSG_SIGNER_INFO*>(signerBuffer.data());

    CERT_INFO wanted{};
    wanted.Issuer = signerInfo->Issuer;
    wanted.SerialNumber = signerInfo->SerialNumber;
    signer.certificate.Reset(::CertFindCertificateInStore(signer.store.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                          0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
    return static_cast<bool>(signer.certificate);
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

TrustVerdict VerifyInstallerTrust(HANDLE lockedFile, const WideString& finalPath, const WideString& manifestPublisher) {
    static_assert(sizeof(long) == sizeof(LONG));
    TrustVerdict verdict;
    verdict.trustResult = VerifyAuthenticode(lockedFile, finalPath);
    if (verdict.trustResult != ERROR_SUCCESS) {
        return verdict;
    }
    verdict.kind = TrustVerdict::Kind::NoSigner;
    FirstSigner signer;
    if (!ReadFirstSigner(finalPath, signer)) {
        return verdict;
    }
    // WinVerifyTrust builds the chain with the user's engine, which also takes the roots of the user's
    // own store. Built again with the machine's, it must end in a root the machine trusts.
    DWORD chainError = 0;
    if (!ChainsToMachineRoot(signer.certificate.Get(), signer.store.Get(), MachineTrustUse::CodeSigning, nullptr,
                             chainError)) {
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
