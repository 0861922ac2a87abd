// check: validates a manifest file as the installer does and, given the folder to publish, compares and
// inspects the packages in it before they go out.
#include "release_commands.h"

#include <windows.h>

#include <algorithm>

#include "common/build_config.h"
#include "console_output.h"
#include "manifest/release_manifest.h"
#include "manifest_fault_text.h"
#include "manifest_report.h"
#include "package_inspection.h"
#include "release_host.h"
#include "release_paths.h"
#include "transfer/sha256_digest.h"

namespace {

// Compares one package in the release folder with the manifest's entry for it, then inspects it as make
// does: what verify would find after publishing, found before.
bool CheckPackageFile(const wchar_t* arch, const PackageEntry& entry, const WideString& version,
                      const WideString& folder, bool mustRunOnX86) {
    const WideString label = WideString(arch) + L": FAILED: ";
    WideString relative;
    if (!ReleaseFileOf(entry.url, relative)) {
        PrintFailure(label + L"the URL " + entry.url + L" does not name a file that can be looked for in " +
                     folder + L": after the release base URL it can hold only letters, digits, \".\", \"-\", "
                     L"\"_\", \"~\" and \"/\". Make the manifest again with make.");
        return false;
    }
    // Written with the separator the folder was given with, so that the path reads as the engineer wrote it.
    const bool slashes = folder.find(L'\\') == WideString::npos && folder.find(L'/') != WideString::npos;
    const wchar_t separator = slashes ? L'/' : L'\\';
    std::replace(relative.begin(), relative.end(), L'/', separator);
    const bool endsInSeparator = !folder.empty() && (folder.back() == L'\\' || folder.back() == L'/');
    const WideString path = folder + (endsInSeparator ? WideString() : WideString(1, separator)) + relative;
    HeldPackage package;
    if (!package.Open(path, label + path + L", the file to publish as " + entry.url + L", cannot be opened.",
                      label + path,
                      L" Put the package there, or give --release-dir the folder that stands for " +
                          WideString(kReleaseBaseUrl) + L".")) {
        return false;
    }
    // Either figure may be the wrong one: a package signed or built again after make, or a manifest made
    // from other files.
    const WideString nextStep = L" If this file is the package to publish, make the manifest again from it; if not, "
                                L"put the package the manifest describes in its place and upload that one.";
    WideString digest;
    if (!package.Hash(digest)) {
        PrintFailure(label + path + L" cannot be read and hashed.");
        return false;
    }
    if (package.Size() != entry.size) {
        PrintFailure(label + path + L" is " + GroupedNumber(package.Size()) + L" bytes with SHA-256 " + digest +
                     L", but the manifest says " + GroupedNumber(entry.size) + L" bytes with SHA-256 " + entry.sha256 +
                     L"." + nextStep);
        return false;
    }
    if (!DigestMatches(entry.sha256, digest)) {
        PrintFailure(label + path + L" has SHA-256 " + digest + L", but the manifest says " + entry.sha256 + L"." +
                     nextStep);
        return false;
    }
    const WideString publisher(kExpectedPublisher);
    const PackageInspection found = package.Inspect(mustRunOnX86, &publisher);
    const WideString problem = PackageProblem(found, publisher);
    if (!problem.empty()) {
        PrintFailure(label + path + L" " + problem);
        return false;
    }
    PrintLine(WideString(arch) + L": OK: " + path + L": " + GroupedNumber(package.Size()) +
              L" bytes, SHA-256 matches, signed by " + publisher + L".");
    const WideString warning = VersionWarning(L"the package", found, L"the manifest's version", version);
    if (!warning.empty()) {
        PrintFailure(WideString(arch) + L": WARNING: " + warning + L" Check that it is the right build.");
    }
    return true;
}

}  // namespace

bool CheckManifest(const WideString& file, const WideString& releaseFolder) {
    const WideString hostWarning = UnpublishableHostWarning(kReleaseHost);
    if (!hostWarning.empty()) {
        PrintFailure(hostWarning);
    }
    Utf8String text;
    DWORD systemError = 0;
    if (!ReadManifestFile(file, text, systemError)) {
        PrintFailure(WithSystemError(L"FAILED: Could not read " + file + L".", systemError));
        PrintLine(L"do not publish: the manifest FAILED");
        return false;
    }
    ReleaseManifest manifest;
    ManifestFault fault;
    if (!ValidateReleaseManifest(text, manifest, fault)) {
        PrintFailure(L"FAILED: " + file + L" is not a valid release manifest: " + ManifestFaultText(fault, manifest) +
                     L" Make the manifest again with make rather than editing it by hand.");
        PrintLine(L"do not publish: the manifest FAILED");
        return false;
    }
    PrintLine(file + L" is a valid release manifest. " + Summary(manifest));
    PrintLine(PackageLine(L"x64", manifest.x64));
    PrintLine(PackageLine(L"x86", manifest.x86));
    if (releaseFolder.empty()) {
        PrintLine(L"Checked the text only: the packages were not compared with it. Give --release-dir with the "
                  L"folder you will publish as " + WideString(kReleaseBaseUrl) +
                  L" to compare their sizes, SHA-256 digests, signer and program type before publishing.");
        PrintLine(L"manifest OK, packages not compared: check again with --release-dir before uploading");
        return true;
    }
    // Both packages are checked, so one report names every problem of the release.
    const bool x64 = CheckPackageFile(L"x64", manifest.x64, manifest.version, releaseFolder, false);
    const bool x86 = CheckPackageFile(L"x86", manifest.x86, manifest.version, releaseFolder, true);
    if (!x64 || !x86) {
        PrintLine(L"do not publish: " + PackageCount((x64 ? 0 : 1) + (x86 ? 0 : 1)) + L" FAILED");
        return false;
    }
    PrintLine(L"2 of 2 packages OK" +
              (hostWarning.empty() ? WideString(L": ready to upload") : UnpublishableHostVerdict(kReleaseHost)));
    return true;
}
