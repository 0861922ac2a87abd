#include "release_commands.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string_view>
#include <utility>
#include <vector>

#include "common/build_config.h"
#include "common/file_cleanup.h"
#include "common/installer_lock.h"
#include "common/win32_handles.h"
#include "console_output.h"
#include "manifest/release_manifest.h"
#include "manifest_fault_text.h"
#include "package_image.h"
#include "transfer/https_request.h"
#include "transfer/manifest_fetch.h"
#include "transfer/package_download.h"
#include "transfer/sha256_digest.h"
#include "transfer/staging_paths.h"
#include "trust/installer_trust.h"

namespace {

// ---------------------------------------------------------------------------------------------------
// Small owners and file helpers.

// A file this tool is writing: removed when it goes out of scope unless it was kept.
class PendingFile {
public:
    explicit PendingFile(WideString path) : path_(std::move(path)) {}
    ~PendingFile() {
        if (!kept_) {
            ::DeleteFileW(path_.c_str());
        }
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    const WideString& Path() const { return path_; }
    void Keep() { kept_ = true; }

private:
    WideString path_;
    bool kept_ = false;
};

// A fresh folder of our own under the temporary directory, removed (empty) when it goes out of scope.
class TempFolder {
public:
    TempFolder() = default;
    ~TempFolder() {
        if (!path_.empty()) {
            ::RemoveDirectoryW(path_.c_str());
        }
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // On false, systemError holds the failed call's error number, or 0 when there is none.
    bool Create(DWORD& systemError) {
        systemError = 0;
        WideString folder;
        if (!GetTempDirectory(folder)) {
            systemError = ::GetLastError();
            return false;
        }
        folder += L"quillo-release-";
        if (!MakeRunTag(folder)) {
            return false;
        }
        if (!::CreateDirectoryW(folder.c_str(), nullptr)) {
            systemError = ::GetLastError();
            return false;
        }
        path_ = std::move(folder);
        return true;
    }
    const WideString& Path() const { return path_; }

private:
    WideString path_;
};

// Reads at most limit bytes; a longer file yields its first limit bytes. On false, systemError holds
// the failed call's error number.
bool ReadFilePrefix(const WideString& path, std::size_t limit, Utf8String& bytes, DWORD& systemError) {
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        systemError = ::GetLastError();
        return false;
    }
    Utf8String content;
    std::vector<char> buffer(kManifestBlockSize);
    while (content.size() < limit) {
        DWORD bytesRead = 0;
        if (!::ReadFile(file.Get(), buffer.data(), kManifestBlockSize, &bytesRead, nullptr)) {
            systemError = ::GetLastError();
            return false;
        }
        if (bytesRead == 0) {
            break;
        }
        content.append(buffer.data(), bytesRead);
    }
    if (content.size() > limit) {
        content.resize(limit);
    }
    bytes = std::move(content);
    return true;
}

// On false, systemError holds the failed call's error number, or 0 for a write that fell short.
bool WriteWholeFile(const WideString& path, const Utf8String& bytes, DWORD& systemError) {
    systemError = 0;
    const UniqueFile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        systemError = ::GetLastError();
        return false;
    }
    DWORD written = 0;
    if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        systemError = ::GetLastError();
        return false;
    }
    if (!::FlushFileBuffers(file.Get())) {
        systemError = ::GetLastError();
        return false;
    }
    return written == bytes.size();
}

// A digest in lower-case hexadecimal, as manifests are usually written.
WideString LowerCase(WideString digestText) {
    for (auto& unit : digestText) {
        if (unit >= L'A' && unit <= L'F') {
            unit = static_cast<wchar_t>(unit - L'A' + L'a');
        }
    }
    return digestText;
}

// SHA-256 of an open file from its current position to its end, in lower case, and the number of bytes
// it covered: the installer's own hashing.
bool HashOpenFileLowerCase(HANDLE file, WideString& digestText, std::uint64_t& size) {
    WideString digest;
    if (!HashOpenFile(file, UINT64_MAX, digest, size)) {
        return false;
    }
    digestText = LowerCase(digest);
    return true;
}

// The UTF-8 form of a text that came from the command line; false for a lone surrogate.
bool ToUtf8(const WideString& text, Utf8String& bytes) {
    if (text.empty()) {
        bytes.clear();
        return true;
    }
    const int length = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return false;
    }
    Utf8String out(static_cast<std::size_t>(length), '\0');
    if (::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(),
                              length, nullptr, nullptr) != length) {
        return false;
    }
    bytes = std::move(out);
    return true;
}

// ---------------------------------------------------------------------------------------------------
// make

// Characters that mean the same thing in a URL path, a JSON text and a file name, so that nothing
// needs escaping anywhere on the way.
bool IsUrlSafe(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' ||
           c == L'-' || c == L'_' || c == L'~';
}

bool IsSafeSegment(std::wstring_view segment) {
    // A name made only of dots is left to IsContainedPackagePath, the validation's own rule.
    if (segment.empty() || !IsContainedPackagePath(segment)) {
        return false;
    }
    for (const wchar_t c : segment) {
        if (!IsUrlSafe(c)) {
            return false;
        }
    }
    return true;
}

// One or more safe segments separated by single slashes; "..", or any name made only of dots, could
// leave the release folder.
bool IsSafeReleasePath(const WideString& path) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find(L'/', start);
        const std::wstring_view segment =
            std::wstring_view(path).substr(start, slash == WideString::npos ? WideString::npos : slash - start);
        if (!IsSafeSegment(segment)) {
            return false;
        }
        if (slash == WideString::npos) {
            return true;
        }
        start = slash + 1;
    }
}

// The scanner reads a string up to the next quotation mark and refuses backslashes, so a version holding
// one would read back as something else or not at all; the rest is the validation's own rule, which also
// refuses a lone surrogate.
bool IsWritableVersion(const WideString& version) {
    return version.find_first_of(L"\"\\") == WideString::npos && IsShowableVersion(version);
}

WideString FileNameOf(const WideString& path) {
    const std::size_t at = path.find_last_of(L"\\/");
    return at == WideString::npos ? path : path.substr(at + 1);
}

struct PackageFacts {
    WideString fullPath;
    WideString fileName;
    PackageEntry entry;  // what the manifest will say of the package
    bool isImage = false;  // the file has PE headers; image holds what they say
    PackageImage image;
};

// Reads the package's headers through the handle held on it, so the bytes inspected are the bytes
// hashed and trust-checked.
bool InspectOpenPackage(HANDLE file, PackageImage& image) {
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart < 0) {
        return false;
    }
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
    return ReadPackageImage(static_cast<std::uint64_t>(size.QuadPart), read, image);
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

// A warning when the package's product version and the release's version disagree or cannot be
// compared; empty when they agree. subject names the package, source the version it is compared with.
WideString VersionWarning(const WideString& subject, bool isImage, const PackageImage& image,
                          const WideString& source, const WideString& version) {
    if (!isImage) {
        return subject + L" is not a Windows program, so it has no product version to compare with " + source +
               L" " + version + L".";
    }
    if (!image.hasVersion) {
        return subject + L" has no version resource, so its product version cannot be compared with " + source +
               L" " + version + L".";
    }
    switch (CompareProductVersion(version, image)) {
        case VersionMatch::Same:
            return L"";
        case VersionMatch::Differs:
            return subject + L" has product version " + ProductVersionText(image) + L", which differs from " +
                   source + L" " + version + L".";
        case VersionMatch::NotComparable:
            break;
    }
    return source + L" " + version + L" does not start with a version number such as 2.3.1, so it cannot be "
                                     L"compared with the product version " +
           ProductVersionText(image) + L" of " + subject + L".";
}

// What one inspection of a package file found. make, check and verify run the same inspection, so a
// package that passes one passes them all.
struct PackageInspection {
    bool isImage = false;  // the file has PE headers; image holds what they say
    PackageImage image;
    WideString x86Problem;  // why it could not start on 32-bit x86 Windows, when that was asked; else empty
    bool signatureChecked = false;
    bool trusted = false;   // Authenticode passed and the signer is the publisher
    WideString trustError;  // the installer's own text, when Authenticode itself failed
    long trustResult = 0;   // WinVerifyTrust's result, for support
    WideString signer;      // the signer found when it is not the publisher; empty when it cannot be read
};

// Reads the package's headers and, when publisher is given, puts it through the installer's own trust
// check against that publisher. The caller holds lock, the installer's read lock on path, so the bytes
// inspected are the bytes it hashed.
void InspectPackage(HANDLE lock, const WideString& path, bool mustRunOnX86, const WideString* publisher,
                    PackageInspection& found) {
    found.isImage = InspectOpenPackage(lock, found.image);
    if (mustRunOnX86) {
        found.x86Problem = X86Problem(found.isImage, found.image);
    }
    if (publisher == nullptr) {
        return;
    }
    found.signatureChecked = true;
    const TrustVerdict verdict = VerifyInstallerTrust(path, *publisher);
    found.trusted = verdict.kind == TrustVerdict::Kind::Trusted;
    found.trustResult = verdict.trustResult;
    if (verdict.kind == TrustVerdict::Kind::NotTrusted) {
        found.trustError = verdict.ToOutcome().Text();
    } else if (verdict.kind == TrustVerdict::Kind::PublisherMismatch) {
        found.signer = verdict.signer;
    }
}

// A signer's name that differs from the publisher's only in letter case is easy to read past (a
// certificate ordered with another spelling), while the installer compares the names exactly: say so.
WideString CaseNote(const WideString& signer, const WideString& publisher) {
    if (signer.size() != publisher.size() || signer == publisher ||
        ::CompareStringOrdinal(signer.c_str(), static_cast<int>(signer.size()), publisher.c_str(),
                               static_cast<int>(publisher.size()), TRUE) != CSTR_EQUAL) {
        return L"";
    }
    return L" The names differ only in letter case, and the installer compares them exactly.";
}

// What keeps a local package file (make, check) from passing the trust check, as the end of a sentence
// about it; empty when nothing does.
WideString SignatureProblem(const PackageInspection& found, const WideString& publisher) {
    if (!found.signatureChecked || found.trusted) {
        return L"";
    }
    if (!found.trustError.empty()) {
        return WithTrustResult(L"does not have a valid, trusted Authenticode signature.", found.trustResult);
    }
    if (found.signer.empty()) {
        return L"does not name its signer; it must be signed by \"" + publisher + L"\".";
    }
    return L"is signed by \"" + found.signer + L"\", not by \"" + publisher + L"\"." +
           CaseNote(found.signer, publisher);
}

// Opens a package as the installer holds its file, writers kept out, and reads its size. On failure
// prints openFailure, or subject followed by " cannot be read.", with the system's error number.
bool OpenHeldPackage(const WideString& path, const WideString& openFailure, const WideString& subject,
                     UniqueFile& lock, std::uint64_t& size) {
    UniqueFile opened = OpenInstallerLock(path);
    if (!opened) {
        const DWORD openError = ::GetLastError();
        PrintFailure(WithSystemError(openFailure, openError));
        return false;
    }
    LARGE_INTEGER fileSize = {};
    if (!::GetFileSizeEx(opened.Get(), &fileSize)) {
        const DWORD sizeError = ::GetLastError();
        PrintFailure(WithSystemError(subject + L" cannot be read.", sizeError));
        return false;
    }
    lock = std::move(opened);
    size = static_cast<std::uint64_t>(fileSize.QuadPart);
    return true;
}

// Hashes one package and inspects it as make requires. The file is held against writers throughout, so
// the bytes hashed are the bytes verified.
bool ReadPackage(const wchar_t* arch, const WideString& file, const WideString& releasePath, bool mustRunOnX86,
                 bool checkSignature, PackageFacts& facts) {
    const WideString label = WideString(L"The ") + arch + L" package ";
    wchar_t full[MAX_PATH * 4] = {};
    const DWORD fullLength = ::GetFullPathNameW(file.c_str(), MAX_PATH * 4, full, nullptr);
    // A path too long for the buffer is no system error: the length is then the size it would need.
    const DWORD pathError = fullLength == 0 ? ::GetLastError() : 0;
    if (fullLength == 0 || fullLength >= MAX_PATH * 4) {
        PrintFailure(WithSystemError(label + file + L" is not a usable file path.", pathError));
        return false;
    }
    const WideString fullPath(full);
    const WideString fileName = FileNameOf(fullPath);
    if (!IsSafeSegment(fileName)) {
        PrintFailure(label + L"file name \"" + fileName +
                     L"\" can hold only letters, digits, \".\", \"-\", \"_\" and \"~\", as it becomes part of the "
                     L"download URL.");
        return false;
    }
    UniqueFile lock;
    std::uint64_t fileSize = 0;
    if (!OpenHeldPackage(fullPath, label + fullPath + L" cannot be opened for reading.", label + fullPath, lock,
                         fileSize)) {
        return false;
    }
    if (fileSize > kMaxPackageSize) {
        PrintFailure(label + fileName + L" is larger than " + GroupedNumber(kMaxPackageSize) +
                     L" bytes, the most the installer accepts.");
        return false;
    }
    if (!HashOpenFileLowerCase(lock.Get(), facts.entry.sha256, facts.entry.size)) {
        PrintFailure(label + fullPath + L" cannot be read and hashed.");
        return false;
    }
    const WideString publisher(kExpectedPublisher);
    PackageInspection found;
    InspectPackage(lock.Get(), fullPath, mustRunOnX86, checkSignature ? &publisher : nullptr, found);
    if (!found.x86Problem.empty()) {
        PrintFailure(label + fileName + L" " + found.x86Problem);
        return false;
    }
    const WideString signatureProblem = SignatureProblem(found, publisher);
    if (!signatureProblem.empty()) {
        PrintFailure(label + fileName + L" " + signatureProblem);
        return false;
    }
    facts.isImage = found.isImage;
    facts.image = found.image;
    facts.fullPath = fullPath;
    facts.fileName = fileName;
    facts.entry.url = kReleaseBaseUrl + releasePath + L"/" + fileName;
    return true;
}

// The worked layout of the manifest: two-space indentation, one member a line.
Utf8String ManifestText(bool published, const Utf8String& version, const Utf8String& publisher,
                        const Utf8String& x64, const Utf8String& x86) {
    return "{\n"
           "  \"schemaVersion\": 1,\n"
           "  \"published\": " + Utf8String(published ? "true" : "false") + ",\n"
           "  \"version\": \"" + version + "\",\n"
           "  \"publisher\": \"" + publisher + "\",\n"
           "  \"x64\": " + x64 + ",\n"
           "  \"x86\": " + x86 + "\n"
           "}\n";
}

Utf8String PackageText(const PackageFacts& facts) {
    Utf8String url;
    Utf8String sha256;
    ToUtf8(facts.entry.url, url);
    ToUtf8(facts.entry.sha256, sha256);
    return "{\n"
           "    \"url\": \"" + url + "\",\n"
           "    \"sha256\": \"" + sha256 + "\",\n"
           "    \"size\": " + std::to_string(facts.entry.size) + "\n"
           "  }";
}

bool SamePackage(const PackageEntry& a, const PackageEntry& b) {
    return a.url == b.url && a.sha256 == b.sha256 && a.size == b.size;
}

// One package of a manifest, as make and check report it.
WideString PackageLine(const wchar_t* arch, const PackageEntry& entry) {
    return WideString(arch) + L": " + GroupedNumber(entry.size) + L" bytes, SHA-256 " + entry.sha256 + L", " +
           entry.url;
}

// ---------------------------------------------------------------------------------------------------
// verify

// The size and SHA-256 of the file the server has at url, read whole: at most one byte more than the
// installer accepts (tooLarge then says so and the digest stays empty).
bool MeasureServedFile(const WideString& url, std::uint64_t& size, WideString& digestText, bool& tooLarge) {
    HttpsRequest request;
    {
        const TransferDeadline deadline(kRequestTimeLimitMs);
        if (!OpenHttpsGet(url, request, kReadBlockSize, RequestWait{&deadline, nullptr})) {
            return false;
        }
    }
    const TransferCalls calls;
    Sha256 sha(calls);
    if (!sha.Start()) {
        return false;
    }
    std::uint64_t received = 0;
    for (;;) {
        DWORD bytesRead = 0;
        if (!request.Read(kReadBlockSize, bytesRead, {})) {
            return false;
        }
        if (bytesRead == 0) {
            break;
        }
        received += bytesRead;
        if (received > kMaxPackageSize) {
            size = received;
            tooLarge = true;
            return true;
        }
        if (!sha.Add(request.Data(), bytesRead)) {
            return false;
        }
    }
    WideString digest;
    if (!sha.Finish(digest)) {
        return false;
    }
    size = received;
    digestText = LowerCase(digest);
    tooLarge = false;
    return true;
}

// After a download whose size or digest did not match: the manifest's figures beside the server's. The
// installer stops at the first byte beyond the manifest's size, so its verdict alone cannot say which
// of the two is wrong; the file is fetched once more and measured whole. Empty when that fetch fails too.
WideString ServedFileFacts(const PackageEntry& entry) {
    std::uint64_t size = 0;
    WideString digest;
    bool tooLarge = false;
    if (!MeasureServedFile(entry.url, size, digest, tooLarge)) {
        return L"";
    }
    const WideString served = tooLarge ? L"more than " + GroupedNumber(kMaxPackageSize) + L" bytes"
                                       : GroupedNumber(size) + L" bytes with SHA-256 " + digest;
    return L" The manifest says " + GroupedNumber(entry.size) + L" bytes with SHA-256 " + entry.sha256 +
           L"; the file at " + entry.url + L" is " + served +
           L" (fetched again to measure it). If that file is the package you meant, make the manifest again "
           L"from it; if not, upload the package the manifest describes.";
}

// Downloads one package as the installer would, inspects it as make does, and deletes it again.
bool VerifyPackage(const wchar_t* arch, const PackageEntry& entry, const ReleaseManifest& manifest,
                   bool mustRunOnX86, const TempFolder& folder) {
    const WideString& publisher = manifest.publisher;
    const WideString label = WideString(arch) + L": ";
    const WideString path = folder.Path() + L"\\setup-" + arch + L".exe";
    if (const Outcome downloaded = DownloadPackage(entry, path, nullptr); !downloaded) {
        // A body that arrived but did not match: the size or the digest, or a server that answered with
        // something else than the file. A failed system call has its number instead.
        const WideString facts = downloaded.SystemError() == 0 ? ServedFileFacts(entry) : WideString();
        PrintFailure(WithSystemError(label + L"FAILED: " + downloaded.Text(), downloaded.SystemError()) + facts);
        return false;
    }
    PackageInspection found;
    {
        // The same read lock the installer holds: nothing can swap the file while it is checked.
        const UniqueFile lock = OpenInstallerLock(path);
        if (lock) {
            InspectPackage(lock.Get(), path, mustRunOnX86, &publisher, found);
        } else {
            const DWORD openError = ::GetLastError();
            found.trustError = WithSystemError(
                L"The downloaded package could not be opened for the signature check.", openError);
        }
    }
    RemoveDownloadedFile(path);
    if (!found.trusted) {
        // The installer's own text first, then what the tool found.
        WideString line = WithTrustResult(found.trustError, found.trustResult);
        if (found.trustError.empty()) {
            line = WideString(kPublisherMismatchText) +
                   (found.signer.empty() ? L" Its signer's name cannot be read; it must be \"" + publisher + L"\"."
                                         : L" It is signed by \"" + found.signer + L"\", not by \"" + publisher +
                                               L"\"." + CaseNote(found.signer, publisher));
        }
        PrintFailure(label + L"FAILED: " + line);
        return false;
    }
    if (!found.x86Problem.empty()) {
        PrintFailure(label + L"FAILED: The package " + found.x86Problem);
        return false;
    }
    PrintLine(label + L"OK: " + GroupedNumber(entry.size) + L" bytes, SHA-256 matches, signed by " + publisher +
              L", from " + entry.url);
    const WideString warning =
        VersionWarning(L"the package", found.isImage, found.image, L"the manifest's version", manifest.version);
    if (!warning.empty()) {
        PrintFailure(label + L"warning: " + warning);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------
// check --release-dir

// The file under the release folder that a package URL will be served from: the part after the release
// base URL, up to a query or fragment, percent-decoded, with "/" between its names. Only the characters
// make writes are taken, so the name means the same as a URL path and as a file path; false for anything
// else.
bool ReleaseFileOf(const WideString& url, WideString& relative) {
    const std::size_t baseLength = std::wstring_view(kReleaseBaseUrl).size();
    if (url.compare(0, baseLength, kReleaseBaseUrl) != 0) {
        return false;
    }
    const WideString path = url.substr(baseLength, url.find_first_of(L"?#", baseLength) - baseLength);
    const auto hexValue = [](wchar_t c) {
        return c >= L'0' && c <= L'9'   ? c - L'0'
               : c >= L'a' && c <= L'f' ? c - L'a' + 10
               : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                        : -1;
    };
    WideString decoded;
    for (std::size_t at = 0; at < path.size(); ++at) {
        wchar_t c = path[at];
        if (c == L'%' && at + 2 < path.size() && hexValue(path[at + 1]) >= 0 && hexValue(path[at + 2]) >= 0) {
            c = static_cast<wchar_t>(hexValue(path[at + 1]) * 16 + hexValue(path[at + 2]));
            at += 2;
        }
        if (!IsUrlSafe(c) && c != L'/') {
            return false;
        }
        decoded += c;
    }
    // The validation has refused names made of dots already; this keeps the folder's files the only ones.
    if (decoded.empty() || !IsContainedPackagePath(std::wstring_view(url).substr(baseLength))) {
        return false;
    }
    relative = std::move(decoded);
    return true;
}

// Compares one package in the release folder with the manifest's entry for it, then inspects it as make
// does: what verify would find after publishing, found before.
bool CheckPackageFile(const wchar_t* arch, const PackageEntry& entry, const WideString& version,
                      const WideString& folder, bool mustRunOnX86) {
    const WideString label = WideString(arch) + L": FAILED: ";
    WideString relative;
    if (!ReleaseFileOf(entry.url, relative)) {
        PrintFailure(label + L"the URL " + entry.url + L" does not name a file that can be looked for in " +
                     folder + L": after the release base URL it can hold only letters, digits, \".\", \"-\", "
                     L"\"_\", \"~\" and \"/\".");
        return false;
    }
    // Written with the separator the folder was given with, so that the path reads as the engineer wrote it.
    const bool slashes = folder.find(L'\\') == WideString::npos && folder.find(L'/') != WideString::npos;
    const wchar_t separator = slashes ? L'/' : L'\\';
    std::replace(relative.begin(), relative.end(), L'/', separator);
    const bool endsInSeparator = !folder.empty() && (folder.back() == L'\\' || folder.back() == L'/');
    const WideString path = folder + (endsInSeparator ? WideString() : WideString(1, separator)) + relative;
    UniqueFile lock;
    std::uint64_t size = 0;
    if (!OpenHeldPackage(path, label + path + L", the file to publish as " + entry.url + L", cannot be opened.",
                         label + path, lock, size)) {
        return false;
    }
    if (size != entry.size) {
        PrintFailure(label + path + L" is " + GroupedNumber(size) + L" bytes, but the manifest says " +
                     GroupedNumber(entry.size) + L" bytes.");
        return false;
    }
    WideString digest;
    std::uint64_t hashed = 0;
    if (!HashOpenFileLowerCase(lock.Get(), digest, hashed) || hashed != size) {
        PrintFailure(label + path + L" cannot be read and hashed.");
        return false;
    }
    if (!DigestMatches(entry.sha256, digest)) {
        PrintFailure(label + path + L" has SHA-256 " + digest + L", but the manifest says " + entry.sha256 + L".");
        return false;
    }
    const WideString publisher(kExpectedPublisher);
    PackageInspection found;
    InspectPackage(lock.Get(), path, mustRunOnX86, &publisher, found);
    const WideString problem = !found.x86Problem.empty() ? found.x86Problem : SignatureProblem(found, publisher);
    if (!problem.empty()) {
        PrintFailure(label + path + L" " + problem);
        return false;
    }
    PrintLine(WideString(arch) + L": OK: " + path + L": " + GroupedNumber(size) +
              L" bytes, SHA-256 matches, signed by " + publisher + L".");
    const WideString warning =
        VersionWarning(L"the package", found.isImage, found.image, L"the manifest's version", version);
    if (!warning.empty()) {
        PrintFailure(WideString(arch) + L": warning: " + warning);
    }
    return true;
}

WideString Summary(const ReleaseManifest& manifest) {
    return L"Version " + manifest.version +
           (manifest.published ? WideString(L", published")
                               : WideString(L", not published: the installer tells users the release is not "
                                            L"available yet")) +
           L"; publisher " + manifest.publisher + L".";
}

}  // namespace

bool MakeManifest(const MakeOptions& options) {
    if (!IsSafeReleasePath(options.path)) {
        PrintFailure(L"--path must be one or more folder names made of letters, digits, \".\", \"-\", \"_\" and "
                     L"\"~\", none of them only dots, separated by \"/\" (for example 2.3.1).");
        return false;
    }
    Utf8String version;
    if (!IsWritableVersion(options.version) || !ToUtf8(options.version, version)) {
        PrintFailure(L"--version cannot hold a quotation mark, a backslash, a control, format or separator character "
                     L"(such as a tab, a right-to-left override or a zero-width space; the blank is fine) or broken "
                     L"Unicode.");
        return false;
    }
    PackageFacts x64;
    PackageFacts x86;
    if (!ReadPackage(L"x64", options.x64File, options.path, false, !options.skipSignatureCheck, x64) ||
        !ReadPackage(L"x86", options.x86File, options.path, true, !options.skipSignatureCheck, x86)) {
        return false;
    }
    // One URL can serve both architectures only if it is one and the same package.
    if (x64.entry.url == x86.entry.url && !SamePackage(x64.entry, x86.entry)) {
        PrintFailure(L"The x64 and x86 packages are different files with the same name \"" + x64.fileName +
                     L"\", so they would share one download URL.");
        return false;
    }
    // The manifest replaces --out at the end: it must not be one of the packages it describes.
    wchar_t outFull[MAX_PATH * 4] = {};
    const DWORD outLength = ::GetFullPathNameW(options.out.c_str(), MAX_PATH * 4, outFull, nullptr);
    if (outLength == 0 || outLength >= MAX_PATH * 4 || ::lstrcmpiW(outFull, x64.fullPath.c_str()) == 0 ||
        ::lstrcmpiW(outFull, x86.fullPath.c_str()) == 0) {
        PrintFailure(L"--out must name a file of its own, not one of the packages.");
        return false;
    }
    Utf8String publisher;
    if (!ToUtf8(kExpectedPublisher, publisher)) {
        PrintFailure(L"The compiled-in publisher name is not valid Unicode text.");
        return false;
    }
    const Utf8String text = ManifestText(options.published, version, publisher, PackageText(x64), PackageText(x86));

    // Written beside the target first, then read back and validated as the installer would read it; the
    // target is replaced only by a manifest that passed. The partial file never outlives a failure.
    PendingFile pending(options.out + L".partial");
    Utf8String written;
    DWORD systemError = 0;
    if (!WriteWholeFile(pending.Path(), text, systemError) ||
        !ReadFilePrefix(pending.Path(), kMaxManifestBytes + 1, written, systemError)) {
        PrintFailure(WithSystemError(L"Could not write " + pending.Path() + L".", systemError));
        return false;
    }
    ReleaseManifest manifest;
    ManifestFault fault;
    if (!ValidateReleaseManifest(written, manifest, fault)) {
        PrintFailure(L"Refused: the manifest would not pass the installer's validation: " +
                     ManifestFaultText(fault, manifest));
        return false;
    }
    // The values the installer reads must be the ones meant.
    if (manifest.published != options.published || manifest.version != options.version ||
        !SamePackage(manifest.x64, x64.entry) || !SamePackage(manifest.x86, x86.entry)) {
        PrintFailure(L"Refused: the manifest does not read back as it was written.");
        return false;
    }
    if (!::MoveFileExW(pending.Path().c_str(), options.out.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD moveError = ::GetLastError();
        PrintFailure(WithSystemError(L"Could not write " + options.out + L".", moveError));
        return false;
    }
    pending.Keep();
    PrintLine(L"Wrote " + options.out + L". " + Summary(manifest));
    PrintLine(PackageLine(L"x64", x64.entry));
    PrintLine(PackageLine(L"x86", x86.entry));
    if (options.skipSignatureCheck) {
        PrintLine(L"The packages' signatures were not checked: sign them before publishing, then run make again.");
    }
    // Warnings only: a package may carry its own numbering, but most often this is the wrong build.
    for (const auto& [arch, facts] : {std::pair{L"x64", &x64}, std::pair{L"x86", &x86}}) {
        const WideString warning = VersionWarning(WideString(L"the ") + arch + L" package " + facts->fileName,
                                                  facts->isImage, facts->image, L"--version", options.version);
        if (!warning.empty()) {
            PrintFailure(L"Warning: " + warning);
        }
    }
    return true;
}

bool CheckManifest(const WideString& file, const WideString& releaseFolder) {
    Utf8String text;
    DWORD systemError = 0;
    // One byte past the cap is enough to see that the size rule fails.
    if (!ReadFilePrefix(file, kMaxManifestBytes + 1, text, systemError)) {
        PrintFailure(WithSystemError(L"Could not read " + file + L".", systemError));
        return false;
    }
    ReleaseManifest manifest;
    ManifestFault fault;
    if (!ValidateReleaseManifest(text, manifest, fault)) {
        PrintFailure(file + L" is not a valid release manifest: " + ManifestFaultText(fault, manifest));
        return false;
    }
    PrintLine(file + L" is a valid release manifest. " + Summary(manifest));
    PrintLine(PackageLine(L"x64", manifest.x64));
    PrintLine(PackageLine(L"x86", manifest.x86));
    if (releaseFolder.empty()) {
        PrintLine(L"Checked the text only: the packages were not compared with it. Give --release-dir with the "
                  L"folder you will publish as " + WideString(kReleaseBaseUrl) +
                  L" to compare their sizes, SHA-256 digests, signer and program type before publishing.");
        return true;
    }
    // Both packages are checked, so one report names every problem of the release.
    const bool x64 = CheckPackageFile(L"x64", manifest.x64, manifest.version, releaseFolder, false);
    const bool x86 = CheckPackageFile(L"x86", manifest.x86, manifest.version, releaseFolder, true);
    return x64 && x86;
}

bool VerifyRelease(const WideString& url) {
    const WideString source = url.empty() ? WideString(kManifestUrl) : url;
    Utf8String body;
    // The installer's own fetch of kManifestUrl, or the same for the given url.
    if (const Outcome fetched = FetchManifestAt(source, body); !fetched) {
        PrintFailure(WithSystemError(L"Could not fetch the manifest from " + source + L": " + fetched.Text(),
                                     fetched.SystemError()));
        return false;
    }
    ReleaseManifest manifest;
    ManifestFault fault;
    if (!ValidateReleaseManifest(body, manifest, fault)) {
        PrintFailure(L"The manifest at " + source + L" is not valid: " + ManifestFaultText(fault, manifest));
        return false;
    }
    PrintLine(L"Manifest " + source + L" is valid. " + Summary(manifest));
    TempFolder folder;
    DWORD systemError = 0;
    if (!folder.Create(systemError)) {
        PrintFailure(WithSystemError(L"Could not create a temporary folder for the downloads.", systemError));
        return false;
    }
    // Both packages are checked, so one report names every problem of the release.
    const bool x64 = VerifyPackage(L"x64", manifest.x64, manifest, false, folder);
    const bool x86 = VerifyPackage(L"x86", manifest.x86, manifest, true, folder);
    return x64 && x86;
}
