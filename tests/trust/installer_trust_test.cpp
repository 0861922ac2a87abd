// The trust check as a table over real files signed at test time (make_trust_files.sh), under the
// harness's Wine prefix, which trusts the test root and nothing else of the test PKI.
#include <windows.h>
#include <softpub.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/win32_handles.h"
#include "harness/test_support.h"
#include "staging/installer_lock.h"
#include "trust/installer_trust.h"
#include "trust/machine_trust.h"

namespace {

// The trust check as a run makes it: through the installer lock held on the file.
TrustVerdict VerifyLocked(const std::wstring& path, const std::wstring& publisher) {
    const UniqueFile lock = OpenInstallerLock(path);
    return VerifyInstallerTrust(lock ? lock.Get() : nullptr, path, publisher);
}

constexpr wchar_t kPublisher[] = L"BRIMLOW AI LABS PRIVATE LIMITED";
constexpr wchar_t kUntrustedText[] =
    L"Security check failed: the downloaded installer does not have a valid trusted Authenticode signature.";

enum class Verdict { Trusted, Untrusted, PublisherMismatch };

// Wine 8's Authenticode policy never reaches the certificate chain: it asks for the signer
// certificate's CERT_SIGNATURE_HASH_PROP_ID, which its crypt32 does not provide, and then ends with
// S_FALSE but error 0, so WinVerifyTrust returns 0 for any intact signature, whoever issued it, revoked
// or expired. The installer's own chains, built with the machine's engine, refuse those there as on
// Windows: Wine's engine fetches the CRL over HTTP and judges validity at the time it is given.
// Wine's WinVerifyTrust dates a signature by its timestamp (sftVerifyAsOf) but reports no counter-signer,
// so no timestamp's signer can be chained there: the installer then judges the chain now, and a
// signature whose certificate has lapsed since is refused under Wine, though Windows takes it.
constexpr char kWineReportsNoTimestampSigner[] = "Wine reports no timestamp signer, so the time is now";

struct TrustCase {
    const char* why;
    const char* file;
    Verdict verdict;
    Verdict wineVerdict;
    const char* wineReason;

    TrustCase(const char* why, const char* file, Verdict verdict)
        : why(why), file(file), verdict(verdict), wineVerdict(verdict), wineReason(nullptr) {}
    TrustCase(const char* why, const char* file, Verdict verdict, Verdict wineVerdict, const char* wineReason)
        : why(why), file(file), verdict(verdict), wineVerdict(wineVerdict), wineReason(wineReason) {}
};

bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

std::wstring TrustFile(const char* name) { return test_support::HarnessPath(std::string("trust/files/") + name); }

void PrintTo(const TrustCase& c, std::ostream* os) { *os << c.file; }

// Wine keeps a revoked certificate's status as "not revoked" once it has seen it (test_support.h).
class TrustTable : public testing::TestWithParam<TrustCase> {
protected:
    void SetUp() override { test_support::ForgetWineRevocationStatus(); }
};

TEST_P(TrustTable, VerdictAndErrorTextMatchTheFile) {
    const TrustCase& c = GetParam();
    const std::wstring path = TrustFile(c.file);
    ASSERT_TRUE(test_support::FileExists(path)) << c.file;

    Verdict expected = c.verdict;
    if (RunningUnderWine() && c.wineReason) {
        expected = c.wineVerdict;
        std::printf("  %s: under Wine: %s\n", c.file, c.wineReason);
    }

    const TrustVerdict verdict = VerifyLocked(path, kPublisher);
    const Outcome outcome = verdict.ToOutcome();
    switch (expected) {
    case Verdict::Trusted:
        EXPECT_EQ(verdict.kind, TrustVerdict::Kind::Trusted) << c.why;
        EXPECT_TRUE(outcome) << c.why;
        EXPECT_EQ(verdict.signer, kPublisher) << c.why;
        break;
    case Verdict::Untrusted:
        EXPECT_EQ(verdict.kind, TrustVerdict::Kind::NotTrusted) << c.why;
        EXPECT_STREQ(outcome.Text(), kUntrustedText) << c.why;
        break;
    case Verdict::PublisherMismatch:
        // A signer whose name can be read is named; either way the installer says the publisher differs.
        EXPECT_TRUE(verdict.kind == TrustVerdict::Kind::PublisherMismatch
                        ? !verdict.signer.empty() && verdict.signer != kPublisher
                        : verdict.kind == TrustVerdict::Kind::NoSigner && verdict.signer.empty())
            << c.why;
        EXPECT_STREQ(outcome.Text(), kPublisherMismatchText) << c.why;
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    SignedFiles, TrustTable,
    testing::Values(
        TrustCase{"signed by the expected publisher under the trusted root", "valid.exe", Verdict::Trusted},
        TrustCase{"a signed DLL under an .exe name is still validly signed", "signed-library.exe", Verdict::Trusted},
        TrustCase{"no signature at all", "unsigned.exe", Verdict::Untrusted},
        // Wine's own WinVerifyTrust accepts these three; the chain built again with the machine's engine
        // refuses them, under Wine as on Windows.
        TrustCase{"self-signed: its own root is not trusted", "self-signed.exe", Verdict::Untrusted},
        TrustCase{"signed under a CA the machine does not trust", "untrusted-ca.exe", Verdict::Untrusted},
        TrustCase{"signed under a root that only the user's own Root store holds", "user-root-only.exe",
                  Verdict::Untrusted},
        TrustCase{"signing certificate revoked in the CRL its distribution point names", "revoked.exe",
                  Verdict::Untrusted},
        TrustCase{"the publisher's certificate revoked in the harness's CRL of the root",
                  "revoked-publisher.exe", Verdict::Untrusted},
        TrustCase{"the publisher's certificate names a CRL nobody serves: revocation status unknown",
                  "offline-crl.exe", Verdict::Untrusted},
        TrustCase{"the publisher's certificate expired yesterday; no timestamp", "expired.exe", Verdict::Untrusted},
        TrustCase{"the publisher's certificate lapsed yesterday; no timestamp", "lapsed.exe", Verdict::Untrusted},
        TrustCase{"timestamped 30 days ago, while the lapsed certificate was valid", "lapsed-timestamped.exe",
                  Verdict::Trusted, Verdict::Untrusted, kWineReportsNoTimestampSigner},
        TrustCase{"timestamped while valid, but by an authority under a root nobody trusts",
                  "lapsed-stranger-timestamp.exe", Verdict::Untrusted},
        TrustCase{"one byte of code changed after signing", "tampered.exe", Verdict::Untrusted},
        TrustCase{"signer name differs only in letter case", "name-case.exe", Verdict::PublisherMismatch},
        TrustCase{"signer name has a trailing blank", "name-trailing-blank.exe", Verdict::PublisherMismatch},
        TrustCase{"signer name is the publisher's, a zero, then more", "name-embedded-nul.exe",
                  Verdict::PublisherMismatch},
        TrustCase{"signer certificate has no name at all", "name-empty.exe", Verdict::PublisherMismatch},
        TrustCase{"trusted, but by another signer", "other-signer.exe", Verdict::PublisherMismatch},
        TrustCase{"the publisher signs first; a nested signature by another signer is ignored",
                  "nested-publisher-first.exe", Verdict::Trusted},
        TrustCase{"another signer signs first; the publisher's nested signature does not count",
                  "nested-other-first.exe", Verdict::PublisherMismatch}),
    [](const testing::TestParamInfo<TrustCase>& info) {
        std::string name;
        for (const char* p = info.param.file; *p && *p != '.'; ++p) {
            name += (*p == '-') ? '_' : *p;
        }
        return name;
    });

// What the user's own WinTrust policy flags tell WinVerifyTrust to overlook, any process of the user can
// set: expiry (WTPF_IGNOREEXPIRATION), revocation (WTPF_IGNOREREVOKATION), a revocation server that
// cannot be reached (WTPF_OFFLINEOK_*). The verdicts stay what they are without them.
TEST(InstallerTrust, TheUsersWinTrustPolicyFlagsChangeNothing) {
    struct FlagCase {
        const char* file;
        TrustVerdict::Kind kind;
    };
    for (const DWORD state : {DWORD{0x23c00}, DWORD{0x23c00 | WTPF_IGNOREEXPIRATION | WTPF_IGNOREREVOKATION},
                              DWORD{0x3ff00}}) {
        const test_support::UserWinTrustFlags flags(state);
        for (const FlagCase& c : {FlagCase{"revoked-publisher.exe", TrustVerdict::Kind::NotTrusted},
                                  FlagCase{"revoked.exe", TrustVerdict::Kind::NotTrusted},
                                  FlagCase{"expired.exe", TrustVerdict::Kind::NotTrusted},
                                  FlagCase{"valid.exe", TrustVerdict::Kind::Trusted}}) {
            test_support::ForgetWineRevocationStatus();
            const TrustVerdict verdict = VerifyLocked(TrustFile(c.file), kPublisher);
            EXPECT_EQ(verdict.kind, c.kind) << c.file << " with State 0x" << std::hex << state;
            if (c.kind == TrustVerdict::Kind::NotTrusted) {
                EXPECT_STREQ(verdict.ToOutcome().Text(), kUntrustedText) << c.file;
            }
        }
    }
}

// The refusals name what the machine's chain found, as the installer's log of the failure.
TEST(InstallerTrust, TheMachinesChainNamesWhatItRefused) {
    struct RefusalCase {
        const char* file;
        long result;
    };
    for (const RefusalCase& c : {RefusalCase{"revoked-publisher.exe", static_cast<long>(CRYPT_E_REVOKED)},
                                 RefusalCase{"expired.exe", static_cast<long>(CERT_E_EXPIRED)}}) {
        test_support::ForgetWineRevocationStatus();
        EXPECT_EQ(VerifyLocked(TrustFile(c.file), kPublisher).trustResult, c.result) << c.file;
    }
}

UniqueCertContext HarnessCertificate(const char* name) {
    const std::string der = test_support::ReadWholeFile(test_support::HarnessPath(std::string("pki/") + name + ".der"));
    return UniqueCertContext(::CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
}

FILETIME DaysAgo(int days) {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= static_cast<ULONGLONG>(days) * 24 * 3600 * 10000000ULL;
    return FILETIME{t.LowPart, t.HighPart};
}

// The chain the installer builds after WinVerifyTrust, at the time it verified at: a certificate that has
// lapsed since is good at the timestamp's time and not now; the timestamp's signer must be good for time
// stamping, the publisher's for code signing; a revoked certificate, or one whose revocation status
// cannot be determined, is refused. The server's chain, built now, refuses only the revoked one.
TEST(MachineChain, IsJudgedAtTheTimeGivenAndForTheUseGiven) {
    struct ChainCase {
        const char* certificate;
        MachineTrustUse use;
        int daysAgo;  // -1: now
        DWORD result;
    };
    for (const ChainCase& c : {
             ChainCase{"publisher", MachineTrustUse::CodeSigning, -1, 0},
             ChainCase{"publisher-lapsed", MachineTrustUse::CodeSigning, 30, 0},
             ChainCase{"publisher-lapsed", MachineTrustUse::CodeSigning, -1, static_cast<DWORD>(CERT_E_EXPIRED)},
             ChainCase{"publisher-lapsed", MachineTrustUse::CodeSigning, 100, static_cast<DWORD>(CERT_E_EXPIRED)},
             ChainCase{"tsa", MachineTrustUse::TimeStamping, 30, 0},
             ChainCase{"publisher", MachineTrustUse::TimeStamping, -1, static_cast<DWORD>(CERT_E_WRONG_USAGE)},
             ChainCase{"tsa", MachineTrustUse::CodeSigning, 30, static_cast<DWORD>(CERT_E_WRONG_USAGE)},
             ChainCase{"publisher-revoked", MachineTrustUse::CodeSigning, -1, static_cast<DWORD>(CRYPT_E_REVOKED)},
             ChainCase{"publisher-offline-crl", MachineTrustUse::CodeSigning, -1,
                       static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE)},
             // A server's certificate: revoked is refused, an unknown status passes.
             ChainCase{"tls-localhost", MachineTrustUse::Server, -1, 0},
             ChainCase{"tls-revoked", MachineTrustUse::Server, -1, static_cast<DWORD>(CRYPT_E_REVOKED)},
             ChainCase{"tls-offline-crl", MachineTrustUse::Server, -1, 0},
         }) {
        test_support::ForgetWineRevocationStatus();
        const UniqueCertContext certificate = HarnessCertificate(c.certificate);
        ASSERT_TRUE(certificate) << c.certificate;
        const FILETIME when = DaysAgo(c.daysAgo < 0 ? 0 : c.daysAgo);
        DWORD result = 1;
        const bool server = c.use == MachineTrustUse::Server;
        const bool trusted = ChainsToMachineRoot(certificate.Get(), nullptr, c.use, server ? L"localhost" : nullptr,
                                                 server ? nullptr : &when, result);
        EXPECT_EQ(result, c.result) << c.certificate << " " << c.daysAgo << " days ago";
        EXPECT_EQ(trusted, c.result == 0) << c.certificate;
    }
}

TEST(InstallerTrust, ManifestPublisherMustMatchExactlyToo) {
    const std::wstring path = TrustFile("valid.exe");
    for (const wchar_t* manifestPublisher :
         {L"Brimlow AI Labs Private Limited", L"BRIMLOW AI LABS PRIVATE LIMITED ", L"BRIMLOW AI LABS", L""}) {
        const TrustVerdict verdict = VerifyLocked(path, manifestPublisher);
        EXPECT_EQ(verdict.kind, TrustVerdict::Kind::PublisherMismatch) << manifestPublisher;
        EXPECT_EQ(verdict.signer, kPublisher);
    }
}

// The trust system reads the file held open by the lock, not whatever the path names by then: the path
// is given only because the call wants one.
TEST(InstallerTrust, TheFileVerifiedIsTheOneTheLockHolds) {
    struct HeldCase {
        const char* held;
        const char* named;
        TrustVerdict::Kind kind;
    };
    for (const HeldCase& c : {HeldCase{"valid.exe", "unsigned.exe", TrustVerdict::Kind::Trusted},
                              HeldCase{"unsigned.exe", "valid.exe", TrustVerdict::Kind::NotTrusted},
                              HeldCase{"other-signer.exe", "valid.exe", TrustVerdict::Kind::PublisherMismatch}}) {
        const UniqueFile lock = OpenInstallerLock(TrustFile(c.held));
        ASSERT_TRUE(lock) << c.held;
        EXPECT_EQ(VerifyInstallerTrust(lock.Get(), TrustFile(c.named), kPublisher).kind, c.kind)
            << "holding " << c.held << ", naming " << c.named;
    }
}

TEST(InstallerTrust, AMissingFileFailsAsAnUntrustedSignature) {
    const TrustVerdict verdict = VerifyLocked(TrustFile("does-not-exist.exe"), kPublisher);
    EXPECT_EQ(verdict.kind, TrustVerdict::Kind::NotTrusted);
    EXPECT_NE(verdict.trustResult, 0);
    EXPECT_STREQ(verdict.ToOutcome().Text(), kUntrustedText);
}

// After a passing verify call the trust system holds the file open, shared for reading only, until the
// close call. So a file that can be opened exclusively right after the check shows that its state was
// closed. (Wine lets go of the file by itself when the verify call fails, so failures show nothing here.)
bool CanOpenExclusively(const std::wstring& path) {
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.IsValid();
}

TEST(InstallerTrust, TheVerifyStateIsClosedWhetherOrNotThePublisherMatches) {
    // First show that a verification left open is visible this way.
    const std::wstring probe = TrustFile("valid.exe");
    WINTRUST_FILE_INFO fileInfo{sizeof(fileInfo), probe.c_str(), nullptr, nullptr};
    FullWintrustData data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    EXPECT_EQ(::WinVerifyTrust(nullptr, &action, reinterpret_cast<WINTRUST_DATA*>(&data)), 0);
    EXPECT_FALSE(CanOpenExclusively(probe)) << "an open verify state no longer holds the file";
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(nullptr, &action, reinterpret_cast<WINTRUST_DATA*>(&data));
    ASSERT_TRUE(CanOpenExclusively(probe));

    for (const char* file : {"valid.exe", "name-case.exe"}) {
        (void)VerifyLocked(TrustFile(file), kPublisher);
        EXPECT_TRUE(CanOpenExclusively(TrustFile(file))) << file;
    }
}

TEST(SignerName, TheVerdictNamesTheFirstSignersCommonNameInFull) {
    struct NameCase {
        const char* file;
        WideString name;
    };
    for (const NameCase& c : {NameCase{"valid.exe", L"BRIMLOW AI LABS PRIVATE LIMITED"},
                              NameCase{"name-embedded-nul.exe",
                                       WideString(L"BRIMLOW AI LABS PRIVATE LIMITED\0more", 36)},
                              NameCase{"name-trailing-blank.exe", L"BRIMLOW AI LABS PRIVATE LIMITED "},
                              NameCase{"name-case.exe", L"Brimlow AI Labs Private Limited"},
                              NameCase{"nested-publisher-first.exe", L"BRIMLOW AI LABS PRIVATE LIMITED"},
                              NameCase{"nested-other-first.exe", L"Other Signer Test Ltd"}}) {
        EXPECT_EQ(VerifyLocked(TrustFile(c.file), kPublisher).signer, c.name) << c.file;
    }
}

TEST(SignerName, NoNameWhereNoneCanBeRead) {
    for (const char* file : {"unsigned.exe", "name-empty.exe", "does-not-exist.exe"}) {
        const TrustVerdict verdict = VerifyLocked(TrustFile(file), kPublisher);
        EXPECT_TRUE(verdict.signer.empty()) << file;
        EXPECT_NE(verdict.kind, TrustVerdict::Kind::Trusted) << file;
        EXPECT_NE(verdict.kind, TrustVerdict::Kind::PublisherMismatch) << file;
    }
}

}  // namespace
