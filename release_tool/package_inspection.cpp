#include "package_inspection.h"

#include <algorithm>
#include <cwchar>
#include <utility>

#include "staging/installer_lock.h"
#include "console_output.h"
#include "transfer/sha256_digest.h"

namespace {

// Reads the package's headers through the handle held on it.
bool ReadHeldImage(HANDLE file, std::uint64_t size, PackageImage& image) {
    const ReadFileAt read = [file](std::uint64_t offset, std::size_t count, unsigned char* out) {
        while (count > 0) {
            OVERLAPPED at = {};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 20));
            DWORD got = 0;
            if (!::ReadFile(file, out, chunk, &got, &at) || got == 0) {
                return false;
            }
            offset += got;
            out += got;
            count -= got;
        }
        return true;
    };
    return ReadPackageImage(size, read, image);
}

WideString HexWord(std::uint16_t value) {
    wchar_t text[8] = {};
    ::swprintf(text, 8, L"0x%04X", static_cast<unsigned>(value));
    return text;
}

WideString ProductVersionText(const PackageImage& image) {
    return std::to_wstring(image.productVersion[0]) + L"." + std::to_wstring(image.productVersion[1]) + L"." +
           std::to_wstring(image.productVersion[2]) + L"." + std::to_wstring(image.productVersion[3]);
}

// What keeps a package from starting on 32-bit x86 Windows, as the end of a sentence about it; empty
// when nothing does. A 64-bit setup program, a DLL or a driver given as the x86 package would pass every
// other check and then fail on every 32-bit machine.
WideString X86Problem(bool isImage, const PackageImage& image) {
    if (!isImage) {
        return L"is not a Windows program: it has no valid PE headers.";
    }
    switch (CheckX86Program(image)) {
        case X86Fit::Program:
            return L"";
        case X86Fit::OtherMachine: {
            const WideString machine = image.machine == kMachineAmd64   ? L"x64"
                                       : image.machine == kMachineArm64 ? L"ARM64"
                                       : image.machine == kMachineArm   ? L"ARM"
                                                                        : L"another processor";
            return L"is built for " + machine + L" (machine type " + HexWord(image.machine) +
                   L"), not for 32-bit x86, so it could never start on 32-bit Windows.";
        }
        case X86Fit::NotPe32:
            return L"has a 64-bit (PE32+) optional header, not a 32-bit (PE32) one, so it could never start on "
                   L"32-bit Windows.";
        case X86Fit::Dll:
            return L"is a DLL, not a program, so it could never start as a setup program on 32-bit Windows.";
        case X86Fit::OtherSubsystem:
            return L"has subsystem " + std::to_wstring(image.subsystem) +
                   L", not a Windows GUI (2) or console (3) program, so it could never start on 32-bit Windows.";
    }
    return L"could not be classified as a 32-bit x86 program.";
}

// What to do about a signer other than the publisher. A name that differs from the publisher's only in
// letter case is easy to read past (a certificate ordered with another spelling), while the installer
// compares the names exactly: say so, and which of the two to change.
WideString SignerAdvice(const WideString& signer, const WideString& publisher) {
    if (signer.size() != publisher.size() || signer == publisher ||
        ::CompareStringOrdinal(signer.c_str(), static_cast<int>(signer.size()), publisher.c_str(),
                               static_cast<int>(publisher.size()), TRUE) != CSTR_EQUAL) {
        return L" Sign it with the certificate issued to \"" + publisher + L"\".";
    }
    return L" The names differ only in letter case, and the installer compares them exactly: sign it with a "
           L"certificate issued to exactly \"" + publisher + L"\", or, if \"" + signer +
           L"\" is your certificate's name, build with -DEXPECTED_PUBLISHER=\"" + signer +
           L"\" and make the release again with that build.";
}

}  // namespace

bool HeldPackage::Open(const WideString& path, const WideString& openFailure, const WideString& subject,
                       const WideString& nextStep) {
    UniqueFile opened = OpenInstallerLock(path);
    if (!opened) {
        const DWORD openError = ::GetLastError();
        PrintFailure(WithSystemError(openFailure, openError) + nextStep);
        return false;
    }
    LARGE_INTEGER fileSize = {};
    if (!::GetFileSizeEx(opened.Get(), &fileSize)) {
        const DWORD sizeError = ::GetLastError();
        PrintFailure(WithSystemError(subject + L" cannot be read.", sizeError) + nextStep);
        return false;
    }
    path_ = path;
    lock_ = std::move(opened);
    size_ = static_cast<std::uint64_t>(fileSize.QuadPart);
    return true;
}

bool HeldPackage::ReadWhole(std::vector<unsigned char>& bytes) const {
    constexpr std::uint64_t kMostInMemory = 256u << 20;
    if (size_ > kMostInMemory) {
        return false;
    }
    bytes.assign(static_cast<std::size_t>(size_), 0);
    std::uint64_t offset = 0;
    while (offset < size_) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::uint64_t>(size_ - offset, 1u << 20));
        if (!::ReadFile(lock_.Get(), bytes.data() + offset, chunk, &got, &at) || got == 0) {
            return false;
        }
        offset += got;
    }
    return true;
}

bool HeldPackage::Hash(WideString& sha256) const {
    std::uint64_t hashed = 0;
    return HashOpenFile(lock_.Get(), UINT64_MAX, sha256, hashed) && hashed == size_;
}

PackageInspection HeldPackage::Inspect(bool mustRunOnX86, const WideString* publisher) const {
    PackageInspection found;
    found.isImage = ReadHeldImage(lock_.Get(), size_, found.image);
    if (mustRunOnX86) {
        found.x86Problem = X86Problem(found.isImage, found.image);
    }
    if (publisher == nullptr) {
        return found;
    }
    found.signatureChecked = true;
    found.trust = VerifyInstallerTrust(lock_.Get(), path_, *publisher);
    return found;
}

WideString PackageProblem(const PackageInspection& found, const WideString& publisher) {
    if (!found.x86Problem.empty()) {
        return found.x86Problem + L" The x86 package must be the 32-bit x86 build of the setup program.";
    }
    if (!found.signatureChecked) {
        return L"";
    }
    const TrustVerdict& trust = found.trust;
    switch (trust.kind) {
        case TrustVerdict::Kind::Trusted:
            return L"";
        case TrustVerdict::Kind::NotTrusted:
            return WithTrustResult(L"does not have a valid, trusted Authenticode signature.", trust.trustResult);
        case TrustVerdict::Kind::PublisherMismatch:
            return L"is signed by \"" + trust.signer + L"\", not by \"" + publisher + L"\"." +
                   SignerAdvice(trust.signer, publisher);
        case TrustVerdict::Kind::NoSigner:
            break;
    }
    return L"does not name its signer; it must be signed by \"" + publisher + L"\". Sign it with the certificate "
           L"issued to that name.";
}

WideString TrustFailure(const PackageInspection& found, const WideString& publisher) {
    const TrustVerdict& trust = found.trust;
    const Outcome outcome = trust.ToOutcome();
    switch (trust.kind) {
        case TrustVerdict::Kind::Trusted:
            return L"";
        case TrustVerdict::Kind::NotTrusted:
            return WithTrustResult(outcome.Text(), trust.trustResult);
        case TrustVerdict::Kind::PublisherMismatch:
            return outcome.Text() + (L" It is signed by \"" + trust.signer + L"\", not by \"" + publisher + L"\".") +
                   SignerAdvice(trust.signer, publisher);
        case TrustVerdict::Kind::NoSigner:
            break;
    }
    return outcome.Text() + (L" Its signer's name cannot be read; it must be \"" + publisher + L"\".");
}

WideString VersionWarning(const WideString& subject, const PackageInspection& found, const WideString& source,
                          const WideString& version) {
    if (!found.isImage) {
        return subject + L" is not a Windows program, so it has no product version to compare with " + source +
               L" " + version + L".";
    }
    if (!found.image.hasVersion) {
        return subject + L" has no version resource, so its product version cannot be compared with " + source +
               L" " + version + L".";
    }
    switch (CompareProductVersion(version, found.image)) {
        case VersionMatch::Same:
            return L"";
        case VersionMatch::Differs:
            return subject + L" has product version " + ProductVersionText(found.image) + L", which differs from " +
                   source + L" " + version + L".";
        case VersionMatch::NotComparable:
            break;
    }
    return source + L" " + version + L" does not start with a version number such as 2.3.1, so it cannot be "
                                     L"compared with the product version " +
           ProductVersionText(found.image) + L" of " + subject + L".";
}
