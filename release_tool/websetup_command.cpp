// check-websetup: the signed web setup to be published, checked as the packages are: its signer is the
// publisher exactly, it is timestamped, and without its signature it is the build's own file.
#include "release_commands.h"

#include <windows.h>

#include <vector>

#include "common/build_config.h"
#include "common/unique_handle.h"
#include "console_output.h"
#include "package_inspection.h"
#include "release_host.h"
#include "signature_removal.h"
#include "tool_build.h"
#include "transfer/sha256_digest.h"

namespace {

void CloseCertStore(HCERTSTORE store) { ::CertCloseStore(store, 0); }
using UniqueCryptMsg = UniqueHandle<NullHandleTraits<HCRYPTMSG, ::CryptMsgClose>>;
using UniqueCertStore = UniqueHandle<NullHandleTraits<HCERTSTORE, CloseCertStore>>;

// Whether the first signer of the file's embedded signature carries a countersignature, the timestamp
// of a certificate authority's timestamp service (RFC 3161, or the older Authenticode form).
bool HasTimestamp(const WideString& path) {
    DWORD encoding = 0;
    DWORD content = 0;
    DWORD format = 0;
    UniqueCertStore store;
    UniqueCryptMsg message;
    if (!::CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                            CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &content, &format, store.Put(),
                            message.Put(), nullptr)) {
        return false;
    }
    DWORD size = 0;
    // No unsigned attributes at all is no timestamp; a size too small for the record fails closed.
    if (!::CryptMsgGetParam(message.Get(), CMSG_SIGNER_UNAUTH_ATTR_PARAM, 0, nullptr, &size) ||
        size < sizeof(CRYPT_ATTRIBUTES)) {
        return false;
    }
    std::vector<BYTE> buffer(size);
    if (!::CryptMsgGetParam(message.Get(), CMSG_SIGNER_UNAUTH_ATTR_PARAM, 0, buffer.data(), &size)) {
        return false;
    }
    const auto* attributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(buffer.data());
    bool found = false;
    for (DWORD i = 0; i < attributes->cAttr; ++i) {
        const char* oid = attributes->rgAttr[i].pszObjId;
        // The RFC 3161 countersignature, or the older Authenticode one.
        if (oid != nullptr &&
            (::lstrcmpA(oid, szOID_RSA_counterSign) == 0 || ::lstrcmpA(oid, "1.3.6.1.4.1.311.3.3.1") == 0)) {
            found = true;
        }
    }
    return found;
}

WideString Sha256Of(const std::vector<unsigned char>& bytes) {
    const TransferCalls calls;
    Sha256 sha(calls);
    WideString digest;
    // Add only reads the bytes; its parameter is not const for the sake of BCryptHashData.
    BYTE* data = const_cast<BYTE*>(bytes.data());
    if (!sha.Start() || (!bytes.empty() && !sha.Add(data, static_cast<DWORD>(bytes.size()))) || !sha.Finish(digest)) {
        return L"";
    }
    return digest;
}

const wchar_t* ArchitectureOf(std::uint16_t machine) {
    return machine == kMachineI386 ? L"i686" : machine == kMachineAmd64 ? L"x86_64" : L"another processor";
}

WideString SignAgainAdvice(const WideString& built) {
    return L" Sign the build's own file again (osslsigncode sign ... -in " + built +
           L" -out <a new file>: osslsigncode does not overwrite an existing file) and check that file.";
}

}  // namespace

bool CheckWebSetup(const WebSetupCheckOptions& options) {
    const WideString publisher(kExpectedPublisher);
    const WideString& path = options.signedFile;
    const WideString builtHint =
        options.builtFile.empty() ? WideString(L"<build>/src/BrimlowAIQuillo-WebSetup.exe") : options.builtFile;
    const WideString hostWarning = UnpublishableHostWarning(kReleaseHost);
    if (!hostWarning.empty()) {
        PrintFailure(hostWarning);
    }
    HeldPackage file;
    if (!file.Open(path, L"FAILED: " + path + L", the signed web setup, cannot be opened.", L"FAILED: " + path)) {
        PrintLine(L"do not publish: the web setup FAILED");
        return false;
    }
    std::vector<unsigned char> bytes;
    if (!file.ReadWhole(bytes)) {
        PrintFailure(L"FAILED: " + path + L" cannot be read whole.");
        PrintLine(L"do not publish: the web setup FAILED");
        return false;
    }
    int failures = 0;
    int warnings = 0;
    const PackageInspection found = file.Inspect(false, &publisher);

    // The signer, exactly.
    const WideString problem = PackageProblem(found, publisher);
    if (problem.empty()) {
        PrintLine(L"OK: " + path + L" is signed by " + publisher + L", and Windows trusts the signature.");
    } else {
        PrintFailure(L"FAILED: " + path + L" " + problem);
        ++failures;
    }

    // A timestamp keeps the signature valid after the certificate expires.
    if (HasTimestamp(path)) {
        PrintLine(L"OK: the signature is timestamped.");
    } else {
        PrintFailure(L"WARNING: the signature has no timestamp, so Windows stops trusting this web setup the day the "
                     L"certificate expires. For a release, sign with your certificate authority's timestamp service "
                     L"(osslsigncode -t URL, signtool /tr URL /td sha256); a dry run does without.");
        ++warnings;
    }

    // Without its signature, the build's own file: the bytes the commit gives.
    std::vector<unsigned char> stripped;
    WideString strippedDigest;
    const Unsigning unsigning = RemoveSignature(bytes, stripped);
    if (unsigning == Unsigning::NotPe) {
        PrintFailure(L"FAILED: " + path + L" is not a Windows program: it has no valid PE headers.");
        ++failures;
    } else if (unsigning == Unsigning::NotSigned) {
        PrintFailure(L"FAILED: " + path + L" carries no signature to remove: sign the build's file first.");
        ++failures;
    } else if (unsigning == Unsigning::TableNotAtEnd) {
        PrintFailure(L"FAILED: the signature of " + path + L" does not end the file, so something was added after "
                     L"signing or the file was signed twice." + SignAgainAdvice(builtHint));
        ++failures;
    } else {
        strippedDigest = Sha256Of(stripped);
    }

    // The build's file: given, or the one built beside this tool, when it is of the same architecture.
    WideString builtDigest;
    WideString builtName;
    bool bytesMatch = false;
    if (!options.builtFile.empty()) {
        HeldPackage built;
        std::vector<unsigned char> builtBytes;
        if (!built.Open(options.builtFile,
                        L"FAILED: " + options.builtFile + L", the build's web setup, cannot be opened.",
                        L"FAILED: " + options.builtFile) ||
            !built.ReadWhole(builtBytes)) {
            ++failures;
        } else {
            builtDigest = Sha256Of(builtBytes);
            builtName = options.builtFile;
            bytesMatch = !strippedDigest.empty() && stripped == builtBytes;
            if (!strippedDigest.empty() && !bytesMatch) {
                std::size_t at = 0;
                while (at < stripped.size() && at < builtBytes.size() && stripped[at] == builtBytes[at]) {
                    ++at;
                }
                PrintFailure(L"FAILED: with its signature removed, " + path + L" is not the build's file " +
                             options.builtFile + L": they differ from byte " + GroupedNumber(at) + L" on (" +
                             GroupedNumber(stripped.size()) + L" and " + GroupedNumber(builtBytes.size()) +
                             L" bytes, SHA-256 " + strippedDigest + L" and " + builtDigest + L")." +
                             SignAgainAdvice(options.builtFile));
                ++failures;
            }
        }
    } else if (kWebSetupSha256[0] != 0 && found.isImage &&
               WideString(ArchitectureOf(found.image.machine)) == kWebSetupArchitecture) {
        builtDigest = kWebSetupSha256;
        builtName = L"the web setup built beside this tool";
        bytesMatch = !strippedDigest.empty() && strippedDigest == builtDigest;
        if (!strippedDigest.empty() && !bytesMatch) {
            PrintFailure(L"FAILED: with its signature removed, " + path + L" has SHA-256 " + strippedDigest +
                         L", not " + builtDigest + L", the web setup built beside this tool." +
                         SignAgainAdvice(builtHint));
            ++failures;
        }
    } else if (!strippedDigest.empty()) {
        const WideString carried = kWebSetupSha256[0] != 0
                                       ? L"the digest of the " + WideString(kWebSetupArchitecture) + L" web setup"
                                       : WideString(L"no web setup's digest");
        PrintFailure(L"FAILED: this tool carries " + carried + L" of its build, and " + path + L" is built for " +
                     ArchitectureOf(found.image.machine) + L": give --built with the build's own file, " + builtHint +
                     L".");
        ++failures;
    }
    if (bytesMatch) {
        PrintLine(L"OK: with its signature removed, it is byte for byte " + builtName + L".");
    }

    // Both digests, each for what it is.
    const WideString signedDigest = Sha256Of(bytes);
    PrintLine(L"Signed web setup, the file users download (" + GroupedNumber(bytes.size()) + L" bytes): SHA-256 " +
              signedDigest);
    if (!builtDigest.empty()) {
        PrintLine(L"Unsigned build, what a rebuild of the commit gives: SHA-256 " + builtDigest);
    }
    if (failures > 0) {
        PrintLine(L"do not publish: the web setup FAILED " + std::to_wstring(failures) +
                  (failures == 1 ? L" check" : L" checks"));
        return false;
    }
    if (!hostWarning.empty()) {
        PrintLine(L"web setup OK" + UnpublishableHostVerdict(kReleaseHost));
    } else {
        PrintLine(L"web setup OK" + (warnings > 0 ? L" with " + std::to_wstring(warnings) + L" warning" : WideString()) +
                  L": ready to upload");
    }
    return true;
}
