// verify: fetches the published manifest and downloads both packages exactly as the installer would,
// then inspects them as make does and deletes them again.
#include "release_commands.h"

#include <windows.h>

#include <utility>

#include "common/build_config.h"
#include "console_output.h"
#include "manifest/release_manifest.h"
#include "manifest_fault_text.h"
#include "manifest_report.h"
#include "package_inspection.h"
#include "transfer/https_request.h"
#include "transfer/manifest_fetch.h"
#include "transfer/package_download.h"
#include "staging/staged_run.h"
#include "transfer/sha256_digest.h"

namespace {

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
    if (!sha.Finish(digestText)) {
        return false;
    }
    size = received;
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

// Downloads one package as the installer would, into a run of its own in the user's temporary folder,
// inspects it as make does, and removes the run again.
bool VerifyPackage(const wchar_t* arch, const PackageEntry& entry, const ReleaseManifest& manifest,
                   bool mustRunOnX86) {
    const WideString& publisher = manifest.publisher;
    const WideString label = WideString(arch) + L": ";
    StagedRun run(RunFolderPlace::UserTemp);
    if (const Outcome opened = run.Open(); !opened) {
        PrintFailure(WithSystemError(label + L"FAILED: Could not create a temporary folder for the download.",
                                     opened.SystemError()));
        return false;
    }
    if (const Outcome downloaded = run.Download(entry, nullptr); !downloaded) {
        // A body that arrived but did not match: the size or the digest, or a server that answered with
        // something else than the file. A failed system call has its number instead.
        const WideString facts = downloaded.SystemError() == 0
                                     ? ServedFileFacts(entry)
                                     : L" Check that the server answers for " + entry.url + L", then verify again.";
        PrintFailure(WithSystemError(label + L"FAILED: " + downloaded.Text(), downloaded.SystemError()) + facts);
        return false;
    }
    // Renamed and sealed as the installer does: under the same read lock, read again whole.
    Outcome sealed = run.Promote();
    if (sealed) {
        sealed = run.Seal(entry);
    }
    if (!sealed) {
        PrintFailure(WithSystemError(label + L"FAILED: " + sealed.Text(), sealed.SystemError()));
        return false;
    }
    PackageInspection found;
    {
        HeldPackage package;
        if (!package.Open(run.FinalPath(),
                          label + L"FAILED: The downloaded package could not be opened for the signature check.",
                          label + L"FAILED: The downloaded package")) {
            return false;
        }
        found = package.Inspect(mustRunOnX86, &publisher);
    }
    if (found.trust.kind != TrustVerdict::Kind::Trusted) {
        PrintFailure(label + L"FAILED: " + TrustFailure(found, publisher));
        return false;
    }
    if (!found.x86Problem.empty()) {
        PrintFailure(label + L"FAILED: The package " + found.x86Problem +
                     L" Upload the 32-bit x86 build of the setup program and make the manifest again from it.");
        return false;
    }
    PrintLine(label + L"OK: " + GroupedNumber(entry.size) + L" bytes, SHA-256 matches, signed by " + publisher +
              L", from " + entry.url);
    const WideString warning = VersionWarning(L"the package", found, L"the manifest's version", manifest.version);
    if (!warning.empty()) {
        PrintFailure(label + L"WARNING: " + warning + L" Check that the right build was uploaded.");
    }
    return true;
}

}  // namespace

bool VerifyRelease(const WideString& url) {
    const WideString source = url.empty() ? WideString(kManifestUrl) : url;
    Utf8String body;
    // The installer's own fetch of kManifestUrl, or the same for the given url.
    if (const Outcome fetched = FetchManifestAt(source, body); !fetched) {
        PrintFailure(WithSystemError(L"FAILED: Could not fetch the manifest from " + source + L": " + fetched.Text(),
                                     fetched.SystemError()));
        PrintLine(L"do not announce the release: the manifest FAILED");
        return false;
    }
    ReleaseManifest manifest;
    ManifestFault fault;
    if (!ValidateReleaseManifest(body, manifest, fault)) {
        PrintFailure(L"FAILED: The manifest at " + source + L" is not valid: " + ManifestFaultText(fault, manifest) +
                     L" Upload the manifest that make wrote, unchanged.");
        PrintLine(L"do not announce the release: the manifest FAILED");
        return false;
    }
    PrintLine(L"Manifest " + source + L" is valid. " + Summary(manifest));
    // Both packages are checked, so one report names every problem of the release.
    const bool x64 = VerifyPackage(L"x64", manifest.x64, manifest, false);
    const bool x86 = VerifyPackage(L"x86", manifest.x86, manifest, true);
    if (!x64 || !x86) {
        PrintLine(L"do not announce the release: " + PackageCount((x64 ? 0 : 1) + (x86 ? 0 : 1)) + L" FAILED");
        return false;
    }
    PrintLine(manifest.published ? L"2 of 2 packages OK: the release is live"
                                 : L"2 of 2 packages OK: uploaded, not yet published; upload the manifest made "
                                   L"without --unpublished to publish it");
    return true;
}
