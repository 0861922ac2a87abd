// make: writes the manifest for two package files, refusing anything the installer would refuse.
#include "release_commands.h"

#include <windows.h>

#include <utility>

#include "common/build_config.h"
#include "console_output.h"
#include "manifest/release_manifest.h"
#include "manifest_fault_text.h"
#include "manifest_report.h"
#include "package_inspection.h"
#include "release_host.h"
#include "release_paths.h"
#include "utf8_form.h"

namespace {

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
    PackageInspection found;
};

// Hashes one package and inspects it as make requires, and reports it in one line. The file is held
// against writers throughout, so the bytes hashed are the bytes verified.
bool ReadPackage(const wchar_t* arch, const WideString& file, const WideString& releasePath, bool mustRunOnX86,
                 bool checkSignature, PackageFacts& facts) {
    const WideString label = WideString(arch) + L": FAILED: ";
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
    if (!IsSafeFileName(fileName)) {
        PrintFailure(label + L"the file name \"" + fileName +
                     L"\" can hold only letters, digits, \".\", \"-\", \"_\" and \"~\", as it becomes part of the "
                     L"download URL: rename the file.");
        return false;
    }
    HeldPackage package;
    if (!package.Open(fullPath, label + fullPath + L" cannot be opened for reading.", label + fullPath)) {
        return false;
    }
    if (package.Size() > kMaxPackageSize) {
        PrintFailure(label + fileName + L" is larger than " + GroupedNumber(kMaxPackageSize) +
                     L" bytes, the most the installer accepts.");
        return false;
    }
    if (!package.Hash(facts.entry.sha256)) {
        PrintFailure(label + fullPath + L" cannot be read and hashed.");
        return false;
    }
    const WideString publisher(kExpectedPublisher);
    facts.found = package.Inspect(mustRunOnX86, checkSignature ? &publisher : nullptr);
    const WideString problem = PackageProblem(facts.found, publisher);
    if (!problem.empty()) {
        PrintFailure(label + fileName + L" " + problem);
        return false;
    }
    facts.fullPath = fullPath;
    facts.fileName = fileName;
    facts.entry.size = package.Size();
    facts.entry.url = kReleaseBaseUrl + releasePath + L"/" + fileName;
    PrintLine(WideString(arch) + L": OK: " + fileName + L": " + GroupedNumber(package.Size()) + L" bytes, SHA-256 " +
              facts.entry.sha256 +
              (checkSignature ? L", signed by " + publisher : WideString(L", signature not checked")) + L".");
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

// The URL and digest hold only characters IsSafeReleasePath and the digest's own form allow, so their
// conversion cannot fail.
Utf8String PackageText(const PackageFacts& facts) {
    Utf8String url;
    Utf8String sha256;
    ToUtf8(facts.entry.url, BrokenUnicode::Refuse, url);
    ToUtf8(facts.entry.sha256, BrokenUnicode::Refuse, sha256);
    return "{\n"
           "    \"url\": \"" + url + "\",\n"
           "    \"sha256\": \"" + sha256 + "\",\n"
           "    \"size\": " + std::to_string(facts.entry.size) + "\n"
           "  }";
}

bool SamePackage(const PackageEntry& a, const PackageEntry& b) {
    return a.url == b.url && a.sha256 == b.sha256 && a.size == b.size;
}

// Writes the manifest beside out first, then reads it back and validates it as the installer would read
// it; out is replaced only by a manifest that passed and reads back as meant. The partial file never
// outlives a failure.
bool WriteValidatedManifest(const Utf8String& text, const MakeOptions& options, const PackageFacts& x64,
                            const PackageFacts& x86, ReleaseManifest& manifest) {
    PendingFile pending(options.out + L".partial");
    Utf8String written;
    DWORD systemError = 0;
    if (!WriteWholeFile(pending.Path(), text, systemError) ||
        !ReadManifestFile(pending.Path(), written, systemError)) {
        PrintFailure(WithSystemError(L"FAILED: Could not write " + pending.Path() + L".", systemError));
        return false;
    }
    ManifestFault fault;
    if (!ValidateReleaseManifest(written, manifest, fault)) {
        PrintFailure(L"FAILED: the manifest would not pass the installer's validation: " +
                     ManifestFaultText(fault, manifest));
        return false;
    }
    // The values the installer reads must be the ones meant.
    if (manifest.published != options.published || manifest.version != options.version ||
        !SamePackage(manifest.x64, x64.entry) || !SamePackage(manifest.x86, x86.entry)) {
        PrintFailure(L"FAILED: the manifest does not read back as it was written.");
        return false;
    }
    if (!::MoveFileExW(pending.Path().c_str(), options.out.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD moveError = ::GetLastError();
        PrintFailure(WithSystemError(L"FAILED: Could not write " + options.out + L".", moveError));
        return false;
    }
    pending.Keep();
    return true;
}

}  // namespace

namespace {

bool NothingWritten() {
    PrintLine(L"do not publish: no manifest written");
    return false;
}

}  // namespace

bool MakeManifest(const MakeOptions& options) {
    const WideString hostWarning = UnpublishableHostWarning(kReleaseHost);
    if (!hostWarning.empty()) {
        PrintFailure(hostWarning);
    }
    if (!IsSafeReleasePath(options.path)) {
        PrintFailure(L"FAILED: --path must be one or more folder names made of letters, digits, \".\", \"-\", \"_\" "
                     L"and \"~\", none of them only dots, separated by \"/\" (for example 2.3.1).");
        return NothingWritten();
    }
    Utf8String version;
    if (!IsWritableVersion(options.version) || !ToUtf8(options.version, BrokenUnicode::Refuse, version)) {
        PrintFailure(L"FAILED: --version cannot hold a quotation mark, a backslash, a control, format or separator "
                     L"character (such as a tab, a right-to-left override or a zero-width space; the blank is fine) "
                     L"or broken Unicode.");
        return NothingWritten();
    }
    // Both packages are read and reported, so one run names every problem of the release.
    PackageFacts x64;
    PackageFacts x86;
    const bool x64Read = ReadPackage(L"x64", options.x64File, options.path, false, !options.skipSignatureCheck, x64);
    const bool x86Read = ReadPackage(L"x86", options.x86File, options.path, true, !options.skipSignatureCheck, x86);
    if (!x64Read || !x86Read) {
        PrintLine(L"do not publish: " + PackageCount((x64Read ? 0 : 1) + (x86Read ? 0 : 1)) +
                  L" FAILED, no manifest written");
        return false;
    }
    // One URL can serve both architectures only if it is one and the same package.
    if (x64.entry.url == x86.entry.url && !SamePackage(x64.entry, x86.entry)) {
        PrintFailure(L"FAILED: the x64 and x86 packages are different files with the same name \"" + x64.fileName +
                     L"\", so they would share one download URL: rename one of them.");
        return NothingWritten();
    }
    // The manifest replaces --out at the end: it must not be one of the packages it describes.
    wchar_t outFull[MAX_PATH * 4] = {};
    const DWORD outLength = ::GetFullPathNameW(options.out.c_str(), MAX_PATH * 4, outFull, nullptr);
    if (outLength == 0 || outLength >= MAX_PATH * 4 || ::lstrcmpiW(outFull, x64.fullPath.c_str()) == 0 ||
        ::lstrcmpiW(outFull, x86.fullPath.c_str()) == 0) {
        PrintFailure(L"FAILED: --out must name a file of its own, not one of the packages.");
        return NothingWritten();
    }
    Utf8String publisher;
    if (!ToUtf8(kExpectedPublisher, BrokenUnicode::Refuse, publisher)) {
        PrintFailure(L"FAILED: the compiled-in publisher name is not valid Unicode text.");
        return NothingWritten();
    }
    const Utf8String text = ManifestText(options.published, version, publisher, PackageText(x64), PackageText(x86));

    ReleaseManifest manifest;
    if (!WriteValidatedManifest(text, options, x64, x86, manifest)) {
        return NothingWritten();
    }
    PrintLine(L"Wrote " + options.out + L". " + Summary(manifest));
    PrintLine(PackageLine(L"x64", x64.entry));
    PrintLine(PackageLine(L"x86", x86.entry));
    // Warnings only: a package may carry its own numbering, but most often this is the wrong build.
    for (const auto& [arch, facts] : {std::pair{L"x64", &x64}, std::pair{L"x86", &x86}}) {
        const WideString warning = VersionWarning(WideString(L"the ") + arch + L" package " + facts->fileName,
                                                  facts->found, L"--version", options.version);
        if (!warning.empty()) {
            PrintFailure(WideString(arch) + L": WARNING: " + warning + L" Check that you gave the right build.");
        }
    }
    if (options.skipSignatureCheck) {
        PrintLine(L"2 of 2 packages written without a signature check: do not publish until they are signed and the "
                  L"manifest is made again");
    } else {
        PrintLine(L"2 of 2 packages OK" +
                  (hostWarning.empty() ? WideString(L": ready to upload") : UnpublishableHostVerdict(kReleaseHost)));
    }
    return true;
}
